#pragma once

#include "apps/orvik/transfer/transferprogress.h"

#include <QEventLoop>
#include <QObject>
#include <QString>

class QIODevice;

namespace ORVIK {

class NetworkRequest;

// Drives one request of the module to its end: starts it, shows its progress, writes the body to
// a device as it arrives (on each download progress and on finish, so nothing piles up in
// memory), and enforces an overall time-out.
class TransferRun : public QObject
{
    Q_OBJECT
public:
    enum class Shown { Download, Upload };

    TransferRun(NetworkRequest *request, Shown shown, TransferProgress *progress);

    // Where the body goes; null: the body is read and dropped.
    void setSink(QIODevice *sink) { m_sink = sink; }
    void setInsecure(bool insecure) { m_insecure = insecure; }
    void setTimeoutSeconds(int seconds) { m_timeoutSeconds = seconds; }

    // Runs the transfer; false with error() on failure (the module's text, or why it stopped).
    bool run();
    const QString &error() const { return m_error; }
    qint64 bytesReceived() const { return m_received; }
    qint64 bytesSent() const { return m_sent; }

private:
    void drain();
    void stop(const QString &why);

    NetworkRequest *m_request;
    Shown m_shown;
    TransferProgress *m_progress;
    QIODevice *m_sink = nullptr;
    bool m_insecure = false;
    int m_timeoutSeconds = 0;
    QEventLoop m_loop;
    bool m_finished = false;
    bool m_failed = false;
    QString m_error;
    qint64 m_received = 0;
    qint64 m_sent = 0;
    qint64 m_total = -1;
};

} // namespace ORVIK
