#include "apps/orvik/cli/fileaccess.h"

#include "apps/orvik/cli/safetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace ORVIK::FileAccess {

namespace {

bool accessDenied(const QString &path)
{
#ifdef Q_OS_WIN
    const DWORD attributes =
        GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
    return attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED;
#else
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == EACCES;
#endif
}

} // namespace

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
#ifndef Q_OS_WIN
            if (::access(QFile::encodeName(folder).constData(), X_OK) != 0)
                blocked = folder;
#endif
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
