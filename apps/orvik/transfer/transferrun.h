#pragma once

#include "apps/orvik/transfer/transferprogress.h"
#include "host/widgets/requestdriver.h"

#include <QObject>
#include <QString>

#include <memory>

class QIODevice;

namespace ORVIK {

class NetworkRequest;

// Runs one request of the module to its end with the host's request driver and shows its progress.
class TransferRun : public QObject
{
    Q_OBJECT
public:
    // Which side of the exchange the progress follows: the body received or the body sent.
    enum class Direction { Download, Upload };

    // Takes the request.
    TransferRun(NetworkRequest *request, Direction direction, TransferProgress *progress);

    // Where the body goes; null: the body is read and dropped.
    void setSink(QIODevice *sink);
    void setInsecure(bool insecure) { m_driver.setIgnoreSslErrors(insecure); }
    void setTimeoutSeconds(int seconds);

    // Runs the transfer; false with error() on failure (the module's text, or why it stopped).
    bool run();
    const QString &error() const { return m_error; }
    qint64 bytesReceived() const { return m_driver.bytesReceived(); }

private:
    std::unique_ptr<QIODevice> m_discard;
    RequestDriver m_driver;
    Direction m_direction;
    TransferProgress *m_progress;
    QString m_error;
    qint64 m_sent = 0;
    qint64 m_total = -1;
};

} // namespace ORVIK
