#include "apps/orvik/cli/errorline.h"

#include "apps/orvik/cli/safetext.h"

namespace ORVIK::ErrorLine {

QString prefix()
{
    return QStringLiteral("orvik: ");
}

QString line(const QString &text)
{
    return prefix() + SafeText::printable(text);
}

void print(QTextStream &err, const QString &text)
{
    err << line(text) << Qt::endl;
}

} // namespace ORVIK::ErrorLine
