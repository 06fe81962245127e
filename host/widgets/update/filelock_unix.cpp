#include "host/widgets/update/filelock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ORVIK {

namespace {

constexpr int kRetryMs = 20;

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

FileLock::~FileLock()
{
    unlock();
}

bool FileLock::lock(const QString &path, int waitMs, QString *error)
{
    unlock();
    // O_NONBLOCK: a FIFO planted under the name must not hold the opening up.
    const int handle =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (handle < 0) {
        *error = QStringLiteral("cannot open the lock file %1: %2").arg(path, systemError(errno));
        return false;
    }
    struct stat status
    {
    };
    if (::fstat(handle, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error = QStringLiteral("the lock file %1 is not a regular file").arg(path);
        ::close(handle);
        return false;
    }
    // flock has no time-out of its own: it is tried again until the deadline.
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (::flock(handle, LOCK_EX | LOCK_NB) == 0) {
            m_handle = handle;
            return true;
        }
        const int code = errno;
        if ((code != EWOULDBLOCK && code != EINTR) || deadline.hasExpired()) {
            *error = code == EWOULDBLOCK ? QStringLiteral("another process has held the lock file %1 for %2 s")
                                               .arg(path)
                                               .arg(waitMs / 1000.0)
                                         : QStringLiteral("cannot lock %1: %2").arg(path, systemError(code));
            ::close(handle);
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(kRetryMs, qMax<qint64>(1, deadline.remainingTime()))));
    }
}

void FileLock::unlock()
{
    if (m_handle == -1)
        return;
    // Closing the only descriptor of this opening releases its lock.
    ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

} // namespace ORVIK
