#pragma once

#include "host/base/buffer.h"
#include "host/base/file.h"
#include "host/widgets/networkrequest.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include <cstdint>

class QNetworkAccessManager;

namespace ORVIK {

// One HTTP or HTTPS transfer on the shared Qt access manager.
class QtNetworkRequest : public NetworkRequest
{
    Q_OBJECT
public:
    QtNetworkRequest(const QNetworkRequest &request, QNetworkAccessManager *manager);
    ~QtNetworkRequest() override;

    void close() override;
    void ignoreSslErrors() override;
    bool isRunning() override;
    bool start() override;
    QByteArray readAll() override;

    QNetworkAccessManager *qtManager() const noexcept { return manager; }

    // The reply's buffer while the host reads as the body arrives. Qt stops reading the socket while
    // this much waits unread, so TCP slows the sender to the host's pace. Each refill costs a round
    // through the event loop, so it is large enough for that to stay small beside the copying.
    static constexpr qint64 readBufferLimit = 4 * 1024 * 1024;

protected Q_SLOTS:
    void processErrorSlot(QNetworkReply::NetworkError error);

private:
    void connectReply(QNetworkReply *newReply);
    // Emits finishedSignal for this reply, the last thing the host hears of it.
    void relayFinished(QNetworkReply *finishedReply);
    void relayDownloadProgress(QNetworkReply *from, qint64 received, qint64 total);
    // Body bytes reached the reply: a host that reads as the body arrives is told at once.
    void offerArrivedBytes(QNetworkReply *from);
    // A later start replaced this reply: its body is no longer the host's to read.
    static void retire(QNetworkReply *earlier);
    static void discardBody(QNetworkReply *earlier);

    QNetworkRequest request;
    QNetworkReply *reply = nullptr; // the last start's reply, a child of the shared Qt access manager
    QNetworkAccessManager *manager;

    // How the host reads the last start's body; each start begins afresh.
    struct Reading
    {
        qint64 taken = 0;        // bytes readAll has handed to the host
        qint64 lastReceived = 0; // the highest received count the host has been told
        qint64 lastTotal = -2;   // the total of Qt's last progress; -2 before the first
        bool bounded = true;     // the reply's buffer is limited: the host reads as the body arrives
    } reading;

public:
    // What start sends: these bytes when there are any, else this file when it has a path, else a GET.
    Buffer<uint8_t> uploadData;
    File uploadFile;
};

} // namespace ORVIK
