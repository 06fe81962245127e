#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QString>

namespace ORVIK {

// An exclusive lock on a lock file of its own, between processes (and between handles of one
// process): flock on Linux, LockFileEx on Windows. The lock file is made when missing and never
// replaced or removed, so every process locks the same file, whatever replaces the data beside it.
// Released when this object goes.
class ORVIKWIDGETS_EXPORT FileLock
{
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Waits at most waitMs for the lock; false, with *error, when it stays held elsewhere or the
    // lock file cannot be opened as a regular file.
    bool lock(const QString &path, int waitMs, QString *error);
    bool isLocked() const noexcept { return m_handle != -1; }
    void unlock();

private:
    qintptr m_handle = -1; // a descriptor, or a HANDLE on Windows
};

} // namespace ORVIK
