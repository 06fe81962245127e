#pragma once

#include "apps/orvik/transfer/transferprogress.h"
#include "host/widgets/requestdriver.h"

#include <QIODevice>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace ORVIK {

class NetworkRequest;

// Runs one request of the module to its end with the host's request driver and shows its progress.
class TransferRun : public QObject
{
    Q_OBJECT
public:
    // Which side of the exchange the progress follows: the body received or the body sent.
    enum class Direction { Download, Upload };

    // Takes the request. Without progress nothing is shown.
    TransferRun(NetworkRequest *request, Direction direction, TransferProgress *progress);

    // Where the body goes; null: the body is read and dropped.
    void setSink(QIODevice *sink);
    void setInsecure(bool insecure) { m_driver.setIgnoreSslErrors(insecure); }
    // For the whole transfer, of which `spentMs` went before the run (reading what is sent).
    void setTimeoutMs(qint64 ms, qint64 spentMs = 0);
    // What a transfer that timed out after ms fails with.
    static QString timeoutReason(qint64 ms);
    // The upload's size, shown as its total when Qt reports none (an empty upload reports nothing).
    void setUploadSize(qint64 bytes) { m_total = bytes; }
    // Fails with `reason` unless the request has been sent (connection and TLS handshake made) within ms.
    void setConnectTimeoutMs(qint64 ms, const QString &reason);

    // Runs the transfer; false with error() on failure (the module's text, or why it stopped).
    bool run();
    const QString &error() const { return m_error; }
    qint64 bytesReceived() const { return m_driver.bytesReceived(); }

private:
    void connected() { m_connectTimer.stop(); }

    std::unique_ptr<QIODevice> m_discard;
    RequestDriver m_driver;
    Direction m_direction;
    TransferProgress *m_progress;
    QString m_error;
    QTimer m_connectTimer;
    QString m_connectReason;
    QTimer m_tick;
    qint64 m_sent = 0;
    qint64 m_total = -1;
};

} // namespace ORVIK
