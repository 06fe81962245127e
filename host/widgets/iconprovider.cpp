#include "host/widgets/iconprovider.h"

#include "host/widgets/qstringstream.h"

#include <QApplication>
#include <QStyle>

namespace ORVIK {

namespace {

struct StandardIcon
{
    const char *name;
    QStyle::StandardPixmap pixmap;
};

const StandardIcon kStandardIcons[] = {
    {"refresh", QStyle::SP_BrowserReload},     {"ok", QStyle::SP_DialogOkButton},
    {"cancel", QStyle::SP_DialogCancelButton}, {"link", QStyle::SP_DriveNetIcon},
    {"warning", QStyle::SP_MessageBoxWarning}, {"error", QStyle::SP_MessageBoxCritical},
};

} // namespace

QIcon IconProvider::icon(const StringView &name, const QStyle *style)
{
    if (name.isEmpty())
        return {};
    if (!style)
        style = QApplication::style();
    for (const StandardIcon &entry : kStandardIcons)
        if (name == StringView(entry.name))
            return style->standardIcon(entry.pixmap);
    return QIcon::fromTheme(StringStream<QString>::fromString(name));
}

} // namespace ORVIK
