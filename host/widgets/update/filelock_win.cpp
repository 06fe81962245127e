#include "host/widgets/update/filelock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <windows.h>

namespace ORVIK {

namespace {

constexpr int kRetryMs = 20;

HANDLE handleOf(qintptr value)
{
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

FileLock::~FileLock()
{
    unlock();
}

bool FileLock::lock(const QString &path, int waitMs, QString *error)
{
    unlock();
    // No delete sharing: the lock file cannot be removed or renamed while it is open.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                      GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot open the lock file %1: %2").arg(path, qt_error_string(int(GetLastError())));
        return false;
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        *error = QStringLiteral("the lock file %1 is not a regular file").arg(path);
        CloseHandle(handle);
        return false;
    }
    // LockFileEx waits without a time-out or not at all: it is tried again until the deadline.
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        OVERLAPPED at{};
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            m_handle = reinterpret_cast<qintptr>(handle);
            return true;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_LOCK_VIOLATION || deadline.hasExpired()) {
            *error = code == ERROR_LOCK_VIOLATION
                         ? QStringLiteral("another process has held the lock file %1 for %2 s")
                               .arg(path)
                               .arg(waitMs / 1000.0)
                         : QStringLiteral("cannot lock %1: %2").arg(path, qt_error_string(int(code)));
            CloseHandle(handle);
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(kRetryMs, qMax<qint64>(1, deadline.remainingTime()))));
    }
}

void FileLock::unlock()
{
    if (m_handle == -1)
        return;
    OVERLAPPED at{};
    UnlockFileEx(handleOf(m_handle), 0, 1, 0, &at);
    CloseHandle(handleOf(m_handle));
    m_handle = -1;
}

} // namespace ORVIK
