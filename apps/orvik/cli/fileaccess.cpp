#include "apps/orvik/cli/fileaccess.h"

#include "apps/orvik/cli/safetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ORVIK::FileAccess {

QString whyUnreachable(const QString &path)
{
    if (!accessDenied(path))
        return QStringLiteral("no such file");
    // The first folder on the way that may not be entered: its parent is reachable, it is not searchable.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QString folder = QFileInfo(absolute).path();
    QString blocked = folder;
    while (!folder.isEmpty()) {
        if (!accessDenied(folder)) {
            if (searchDenied(folder))
                blocked = folder;
            break;
        }
        blocked = folder;
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    return QStringLiteral("the folder %1 may not be entered (permission denied)")
        .arg(SafeText::printable(QDir::toNativeSeparators(blocked)));
}

} // namespace ORVIK::FileAccess
