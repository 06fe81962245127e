#pragma once

#include "host/widgets/orvikwidgets_export.h"
#include "host/widgets/update/httpresume.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QFile;

namespace ORVIK {

class FileLock;
class PackageRequest;
class RequestDriver;
class Sha256;
class UpdateFolder;

// Fetches an update package into the private folder (UpdateFolder) that it makes inside the chosen
// folder, and continues after a cut instead of starting over: within the run, and in the next one.
//
// The bytes go to a partial file named after the package's SHA-256 and size, hashed as they arrive
// and stopped at the first byte past the size. A response that names a strong validator (a strong
// ETag, or a Last-Modified well before its Date) lets a later request ask for the rest with Range
// and If-Range; a 206 is taken only when its Content-Range is exactly that rest, and a server that
// ignores the range or whose file changed sends it all again, which replaces what was there. The
// partial file and its validator stay when the download fails or runs out of time, so the next
// download of the same package continues from there; a lock file beside them keeps a second run
// away meanwhile. Whatever was kept is hashed again from its first byte: the SHA-256 covers the
// whole file, and a continued file that fails it is fetched once more from zero.
//
// The package comes from the description's url= and then its mirror= addresses, in order: at most
// kAttemptsPerAddress requests each, with exponential back-off and jitter between them, a
// Retry-After of a 429 or 503 honoured within the deadline. Only a verified file is given its safe
// name, never replacing one, and held open.
//
// The requests run on one Qt access manager of the host's for the process (default proxy, TLS and
// redirect settings, as the module's manager has them): the module's requests carry no headers,
// and a continued download needs them.
class ORVIKWIDGETS_EXPORT UpdateDownload : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultRetries = HttpResume::kAttemptsPerAddress - 1;
    static constexpr int kDefaultStallMs = 30000;
    // An hour: 500 MiB at 1.2 Mbit/s.
    static constexpr int kDefaultDeadlineMs = 3600 * 1000;
    // Bytes that a file name may take in the file system's encoding, less room for " (99)".
    static constexpr int kMaxNameBytes = 255 - 8;

    // Given a planned wait in milliseconds, the milliseconds really waited.
    using WaitFunction = std::function<int(int plannedMs)>;

    // size < 0 or an empty digest: not known, not checked, and nothing is kept for a later run.
    // sha256 is the raw 32-byte digest. folder is the chosen folder, in which the private folder is made.
    UpdateDownload(const QString &url, const QString &folder, qint64 size, const QByteArray &sha256,
                   QObject *parent = nullptr);
    ~UpdateDownload() override;

    // Further addresses of the same package, tried in order when the first fails.
    void setMirrors(const QStringList &mirrors) { m_mirrors = mirrors; }
    // How many times a failed request at one address is tried again.
    void setRetries(int retries) { m_retries = retries; }
    // How long the transfer may go without a byte before it fails.
    void setStallTimeout(int milliseconds) { m_stallMs = milliseconds; }
    // How long the whole download may take, all attempts and waits together.
    void setDeadline(int milliseconds) { m_deadlineMs = milliseconds; }
    // Every wait (back-off or Retry-After) goes through this; by default each lasts as planned.
    void setWaitFunction(WaitFunction wait) { m_wait = std::move(wait); }

    // False, with error(), when the download cannot begin; otherwise exactly one finishedSignal
    // follows, never before start returns.
    bool start();
    bool isRunning() const noexcept { return m_running; }
    // Stops a running download without a signal; what can be continued later is kept.
    void cancel();

    const QString &error() const noexcept { return m_error; }
    // After success: the file in place (for display), its size and its SHA-256.
    QString filePath() const;
    qint64 size() const noexcept { return m_size; }
    const QByteArray &sha256() const noexcept { return m_digest; }
    // How many requests were sent.
    int attempts() const noexcept { return m_attempts; }
    // Body bytes that came over the network, all requests together.
    qint64 bytesFetched() const noexcept { return m_fetched; }
    // Bytes of an earlier run's partial file that this download began with.
    qint64 resumedFrom() const noexcept { return m_resumedFrom; }
    // After success: the private folder, which holds the verified package open.
    std::unique_ptr<UpdateFolder> takeFolder();

    // The address's last path segment as a file name that stays in its folder: no separators,
    // no control characters, no leading dot or space, no trailing dot or space, none of the
    // characters that Windows refuses in a name (<>:"|?* become '_'), not a name that Windows
    // reserves for a device (CON, NUL, COM1, ... with any extension: '_' is put before it), at most
    // kMaxNameBytes in the file system's encoding (the extension kept); "update-package" when
    // nothing is left. The same name on every system.
    static QString SafeFileName(const QString &url);

Q_SIGNALS:
    // total: the expected size when known, otherwise what the server announced (-1: nothing).
    void progressSignal(qint64 received, qint64 total);
    void finishedSignal(bool success);

private:
    class HashingSink;
    enum class Next { Retry, NextAddress, Stop };

    bool resumable() const noexcept { return m_expectedSize >= 0 && !m_expectedDigest.isEmpty(); }
    bool openPartial(QString *error);
    bool restartFile(QString *error);
    void saveValidator(const QByteArray &validator);
    void beginAttempt();
    void responseHead();
    void attemptFailed(const QString &reason);
    void attemptFinished();
    bool endTransfer(QString *error);
    void retry(const QString &error, Next next, qint64 retryAfterMs);
    void complete();
    void stopAttempt();
    void releaseFiles();
    void finish(const QString &error);
    QString currentAddress() const { return m_addresses.value(m_addressIndex); }

    QString m_url;
    QStringList m_mirrors;
    QString m_folder;
    qint64 m_expectedSize;
    QByteArray m_expectedDigest;
    int m_retries = kDefaultRetries;
    int m_stallMs = kDefaultStallMs;
    int m_deadlineMs = kDefaultDeadlineMs;
    WaitFunction m_wait;

    bool m_running = false;
    QStringList m_addresses;
    int m_addressIndex = 0;
    int m_attemptsHere = 0;
    int m_attempts = 0;
    bool m_freshRetryDone = false;
    std::unique_ptr<UpdateFolder> m_private;
    std::unique_ptr<FileLock> m_lock;
    QTimer m_deadline;
    QDeadlineTimer m_deadlineLeft;
    QTimer m_waitTimer;
    std::unique_ptr<QFile> m_file;
    QString m_fileName;
    QString m_validatorName;
    QByteArray m_validator;
    std::unique_ptr<Sha256> m_hash;
    qint64 m_offset = 0;      // bytes in the file before the current response's body
    bool m_assembled = false; // the file holds bytes of more than one response
    bool m_headSeen = false;
    bool m_rangeRefused = false;
    bool m_tooLarge = false;
    std::unique_ptr<HashingSink> m_sink;
    PackageRequest *m_request = nullptr; // owned by m_driver
    std::unique_ptr<RequestDriver> m_driver;
    qint64 m_size = 0;
    qint64 m_fetched = 0;
    qint64 m_resumedFrom = 0;
    QString m_error;
    QByteArray m_digest;
};

} // namespace ORVIK
