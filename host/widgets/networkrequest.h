#pragma once

#include "host/base/stringview.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QByteArray>
#include <QObject>

namespace ORVIK {

// One web transfer as the host sees it. Errors arrive as texts only.
class ORVIKWIDGETS_EXPORT NetworkRequest : public QObject
{
    Q_OBJECT
public:
    explicit NetworkRequest(QObject *parent = nullptr);
    ~NetworkRequest() override;

    virtual void close() = 0;
    virtual void ignoreSslErrors() = 0;
    virtual bool isRunning() = 0;
    virtual bool start() = 0;
    virtual QByteArray readAll() = 0;

    // For a host that is about to end: closes every request of the process that is still running
    // and runs the event loop until each has finished, for at most timeoutMs. Qt's network thread
    // still works on a request until it has finished, and a process that ends meanwhile kills that
    // thread wherever it is, locks held included. True when all have finished.
    static bool closeRunning(int timeoutMs);

Q_SIGNALS:
    void socketStartedConnectingSignal();
    void requestSentSignal();
    void metaDataChangedSignal();
    void finishedSignal();
    void redirectAllowedSignal();
    void uploadProgressSignal(qint64 bytesSent, qint64 bytesTotal);
    void downloadProgressSignal(qint64 bytesReceived, qint64 bytesTotal);
    void errorOccurredSignal(ORVIK::StringView message);
};

} // namespace ORVIK
