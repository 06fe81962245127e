#pragma once

#include "host/base/orvikstring.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QString>

namespace ORVIK {

// The highest version this host has verified for each product, kept in a small JSON file so that
// an older signed description, replayed, is refused whatever version the application says it has.
//
// Checks run in parallel (several programs, or one started twice), so every use holds an exclusive
// lock on a lock file beside it ("verified-versions.json.lock", never replaced) across reading,
// merging and the atomic replacement: no entry is lost and no version goes down. The memory never
// fails open: a file that cannot be read (no permission, a folder or a FIFO under its name, more
// than kMaxBytes) or written, or a lock held elsewhere for kLockWaitMs, makes the use fail with a
// reason that says how to mend it. A missing file holds nothing; a file that is not a JSON object of
// version numbers (the atomic replacement never leaves one) is ignored with a warning and replaced.
class ORVIKWIDGETS_EXPORT UpdateVersionStore
{
public:
    static constexpr qint64 kMaxBytes = 1 << 20;
    static constexpr int kLockWaitMs = 10000;

    // $XDG_STATE_HOME/orvik/verified-versions.json (~/.local/state/orvik/... when the variable is
    // unset or not an absolute path) on Linux, %LOCALAPPDATA%\orvik\verified-versions.json on Windows.
    static QString DefaultPath();

    explicit UpdateVersionStore(const QString &path = DefaultPath());
    const QString &path() const noexcept { return m_path; }
    QString lockPath() const { return m_path + QStringLiteral(".lock"); }
    void setLockWait(int milliseconds) { m_lockWaitMs = milliseconds; }

    enum class Outcome {
        Admitted,   // not older than the version kept (and, when asked, remembered)
        RolledBack, // older than the version kept
        Unusable,   // the memory could not be read, or written when it had to be
    };
    // Under the lock: reads the version kept for the product into *kept (empty: none), refuses a
    // version below it and, when `remember`, keeps `version` if it is higher.
    Outcome admit(const String &product, const String &version, bool remember, String *kept, QString *reason);

    // The version kept for the product, read under the lock; empty when there is none or, with
    // *reason, when the memory cannot be used.
    String highest(const String &product, QString *reason = nullptr);

private:
    // Where this user's programs keep state: LOCALAPPDATA on Windows, XDG_STATE_HOME elsewhere.
    static QString StateFolder();

    QString m_path;
    int m_lockWaitMs = kLockWaitMs;
};

} // namespace ORVIK
