#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QFile;

namespace ORVIK {

class RequestDriver;
class UpdateFolder;

// Fetches an update package through the installed access manager into the private folder
// (UpdateFolder) that it makes inside the chosen folder: the body is streamed to a temporary file
// there and hashed as it arrives, stopped as soon as it exceeds the expected size, checked against
// the expected size and SHA-256, and only then given its safe name, never replacing a file, and held
// open. The access manager's requests carry their address only, so a transfer that the network
// interrupts starts over from the first byte, a few times, each time into a fresh temporary file.
// Whatever fails leaves no file behind.
class ORVIKWIDGETS_EXPORT UpdateDownload : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultRetries = 3;
    static constexpr int kDefaultStallMs = 30000;
    // An hour: 500 MiB at 1.2 Mbit/s.
    static constexpr int kDefaultDeadlineMs = 3600 * 1000;
    // Bytes that a file name may take in the file system's encoding, less room for " (99)".
    static constexpr int kMaxNameBytes = 255 - 8;

    // size < 0 or an empty digest: not known, not checked. sha256 is the raw 32-byte digest.
    // folder is the chosen folder, in which the private folder is made.
    UpdateDownload(const QString &url, const QString &folder, qint64 size, const QByteArray &sha256,
                   QObject *parent = nullptr);
    ~UpdateDownload() override;

    // How many times an interrupted transfer starts over.
    void setRetries(int retries) { m_retries = retries; }
    // How long the transfer may go without a byte before it fails.
    void setStallTimeout(int milliseconds) { m_stallMs = milliseconds; }
    // How long the whole download may take, all attempts together.
    void setDeadline(int milliseconds) { m_deadlineMs = milliseconds; }

    // False, with error(), when the download cannot begin; otherwise exactly one finishedSignal
    // follows, never before start returns.
    bool start();
    bool isRunning() const noexcept { return m_running; }
    // Stops a running download without a signal; its temporary file goes with it.
    void cancel();

    const QString &error() const noexcept { return m_error; }
    // After success: the file in place (for display), its size and its SHA-256.
    QString filePath() const;
    qint64 size() const noexcept { return m_received; }
    const QByteArray &sha256() const noexcept { return m_digest; }
    // How many transfers were begun.
    int attempts() const noexcept { return m_attempts; }
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

    void beginAttempt();
    void endAttempt(const QString &error, bool retriable);
    void stopAttempt();
    void dropFile();
    void finish(const QString &error);

    QString m_url;
    QString m_folder;
    qint64 m_expectedSize;
    QByteArray m_expectedDigest;
    int m_retries = kDefaultRetries;
    int m_stallMs = kDefaultStallMs;
    int m_deadlineMs = kDefaultDeadlineMs;

    bool m_running = false;
    int m_attempts = 0;
    std::unique_ptr<UpdateFolder> m_private;
    QTimer m_deadline;
    std::unique_ptr<QFile> m_file;
    QString m_fileName;
    std::unique_ptr<HashingSink> m_sink;
    std::unique_ptr<RequestDriver> m_driver;
    qint64 m_received = 0;
    QString m_error;
    QByteArray m_digest;
};

} // namespace ORVIK
