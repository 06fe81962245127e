#include "host/widgets/update/regularfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ORVIK {

std::unique_ptr<QFile> RegularFile::OpenForReading(const QString &path, Problem *problem, QString *error)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (handle < 0) {
        const int code = errno;
        *problem = code == ENOENT || code == ENOTDIR ? Problem::Missing
                   : code == EACCES || code == EPERM ? Problem::Denied
                                                     : Problem::Failed;
        *error = QString::fromLocal8Bit(std::strerror(code));
        return nullptr;
    }
    struct stat status
    {
    };
    if (::fstat(handle, &status) != 0 || !S_ISREG(status.st_mode)) {
        *problem = S_ISDIR(status.st_mode) ? Problem::Folder : Problem::NotRegular;
        *error = S_ISDIR(status.st_mode) ? QStringLiteral("it is a folder, not a file")
                                         : QStringLiteral("it is not a regular file (a FIFO, a device or a socket)");
        ::close(handle);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *problem = Problem::Failed;
        *error = file->errorString();
        ::close(handle);
        return nullptr;
    }
    *problem = Problem::None;
    return file;
}

} // namespace ORVIK
