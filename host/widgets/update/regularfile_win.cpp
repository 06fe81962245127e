#include "host/widgets/update/regularfile.h"

#include <QDir>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace ORVIK {

std::unique_ptr<QFile> RegularFile::OpenForReading(const QString &path, Problem *problem, QString *error)
{
    // Backup semantics open a folder too, so that a folder is named as such rather than as a
    // refused access; a pipe or a device is told apart by its type.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                      GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        *problem = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? Problem::Missing
                   : code == ERROR_ACCESS_DENIED                                ? Problem::Denied
                                                                                : Problem::Failed;
        *error = qt_error_string(static_cast<int>(code));
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information);
    if (!disk || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *problem = disk ? Problem::Folder : Problem::NotRegular;
        *error = disk ? QStringLiteral("it is a folder, not a file")
                      : QStringLiteral("it is not a regular file (a pipe or a device)");
        CloseHandle(handle);
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        *problem = Problem::Failed;
        *error = QStringLiteral("cannot use the file's handle");
        CloseHandle(handle);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *problem = Problem::Failed;
        *error = file->errorString();
        _close(descriptor);
        return nullptr;
    }
    *problem = Problem::None;
    return file;
}

} // namespace ORVIK
