#include "apps/orvik/cli/fileaccess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <io.h>
#include <windows.h>

namespace ORVIK::FileAccess {

namespace {

// Device names stand for the device in any folder and with any extension ("NUL.txt").
QString deviceOf(const QString &fileName)
{
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9]|CONIN\\$|CONOUT\\$)"
                                                          "(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = device.match(QFileInfo(fileName).fileName().trimmed());
    return match.hasMatch() ? match.captured(1).toUpper() : QString();
}

} // namespace

bool accessDenied(const QString &path)
{
    const DWORD attributes =
        GetFileAttributesW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
    return attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED;
}

bool searchDenied(const QString &)
{
    return false;
}

bool namesSystemStream(const QString &fileName)
{
    return fileName.startsWith(QLatin1String("\\\\.\\")) || fileName.startsWith(QLatin1String("//./")) ||
           !deviceOf(fileName).isEmpty();
}

QString nativeStreamName(const QString &fileName)
{
    const QString device = deviceOf(fileName);
    if (device.isEmpty())
        return fileName;
    return QStringLiteral("\\\\.\\") + (device == QLatin1String("CON") ? QStringLiteral("CONOUT$") : device);
}

int duplicateDescriptor(int descriptor)
{
    return _dup(descriptor);
}

void closeDescriptor(int descriptor)
{
    _close(descriptor);
}

qint64 readDescriptor(int descriptor, char *buffer, std::size_t size)
{
    return _read(descriptor, buffer, unsigned(size));
}

} // namespace ORVIK::FileAccess
