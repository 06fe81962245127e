#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTemporaryFile;

namespace ORVIK {

class RequestDriver;

// Fetches an update package through the installed access manager into a folder: the body is
// streamed to a temporary file there and hashed as it arrives, checked against the expected size
// and SHA-256, and only then moved into place under a safe name. The access manager's requests
// carry their address only, so a transfer that the network interrupts starts over from the first
// byte, a few times, each time into a fresh temporary file. Whatever fails leaves no file behind.
class ORVIKWIDGETS_EXPORT UpdateDownload : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultRetries = 3;
    static constexpr int kDefaultStallMs = 30000;

    // size < 0 or an empty digest: not known, not checked. sha256 is the raw 32-byte digest.
    UpdateDownload(const QString &url, const QString &folder, qint64 size, const QByteArray &sha256,
                   QObject *parent = nullptr);
    ~UpdateDownload() override;

    // How many times an interrupted transfer starts over.
    void setRetries(int retries) { m_retries = retries; }
    // How long the transfer may go without a byte before it fails.
    void setStallTimeout(int milliseconds) { m_stallMs = milliseconds; }

    // False, with error(), when the download cannot begin; otherwise exactly one finishedSignal
    // follows, never before start returns.
    bool start();
    bool isRunning() const noexcept { return m_running; }
    // Stops a running download without a signal; its temporary file goes with it.
    void cancel();

    const QString &error() const noexcept { return m_error; }
    // After success: the file in place, its size and its SHA-256.
    const QString &filePath() const noexcept { return m_path; }
    qint64 size() const noexcept { return m_received; }
    const QByteArray &sha256() const noexcept { return m_digest; }
    // How many transfers were begun.
    int attempts() const noexcept { return m_attempts; }

    // The address's last path segment as a file name that stays in its folder: no separators,
    // no control characters, no leading dot or space; "update-package" when nothing is left.
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
    void finish(const QString &error);

    QString m_url;
    QString m_folder;
    qint64 m_expectedSize;
    QByteArray m_expectedDigest;
    int m_retries = kDefaultRetries;
    int m_stallMs = kDefaultStallMs;

    bool m_running = false;
    int m_attempts = 0;
    std::unique_ptr<QTemporaryFile> m_file;
    std::unique_ptr<HashingSink> m_sink;
    std::unique_ptr<RequestDriver> m_driver;
    qint64 m_received = 0;
    QString m_error;
    QString m_path;
    QByteArray m_digest;
};

} // namespace ORVIK
