#include "network/qtnetworkrequest.h"

#include "host/widgets/qstringstream.h"
#include "network/networkerrortext.h"
#include "network/uploadfiledevice.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QVariant>

#include <algorithm>
#include <memory>

namespace ORVIK {

QtNetworkRequest::QtNetworkRequest(const QNetworkRequest &request, QNetworkAccessManager *manager)
    : request(request), manager(manager)
{}

// The reply is not ours: it stays a child of the shared manager, and its connections to this
// object go away with this object.
QtNetworkRequest::~QtNetworkRequest() = default;

void QtNetworkRequest::close()
{
    if (!reply)
        return;
    // Qt's close only ends the download side of an HTTP reply: it reports the cancellation and the
    // finish, but the exchange goes on, reading the upload to its end and keeping the connection.
    // abort reports exactly the same and also ends the exchange; once the reply has finished,
    // abort does nothing, so it comes first. Its handlers may delete this request: only the local
    // pointer is used after it (the reply belongs to the shared manager and outlives them).
    QNetworkReply *closing = reply;
    if (closing->isRunning())
        closing->abort();
    closing->close();
}

void QtNetworkRequest::ignoreSslErrors()
{
    if (reply)
        reply->ignoreSslErrors();
}

bool QtNetworkRequest::isRunning()
{
    return reply ? reply->isRunning() : false;
}

bool QtNetworkRequest::start()
{
    if (uploadData.length() != 0) {
        const QByteArray bytes(reinterpret_cast<const char *>(uploadData.data()), qsizetype(uploadData.length()));
        connectReply(manager->put(request, bytes));
        return true;
    }
    if (uploadFile.path().length() == 0) {
        connectReply(manager->get(request));
        return true;
    }

    uploadFile.throwIfNotExist();
    // The file read ahead in large pieces: Qt takes an upload 16 KiB at a time, and from a QFile each
    // piece would cost a read and three size queries on the user thread (UploadFileDevice).
    auto file = std::make_unique<UploadFileDevice>(StringStream<QString>::fromString(StringView(uploadFile)));
    // Not examined: an unreadable file fails as the transfer's own error.
    file->open();
    QNetworkReply *newReply = manager->put(request, file.get());
    // Qt keeps a pointer to the device for the reply's whole life and still reads it after the reply
    // has finished (requests of its HTTP thread that were already queued), possibly after this
    // request is gone. So the device lives as long as the reply. The descriptor and the read-ahead
    // piece are released after the finish, behind what Qt had queued by then; a read that comes later
    // still meets a closed device, not a freed one.
    UploadFileDevice *device = file.release();
    device->setParent(newReply);
    if (newReply->isFinished())
        QMetaObject::invokeMethod(device, &UploadFileDevice::close, Qt::QueuedConnection);
    else
        connect(newReply, &QNetworkReply::finished, device, &UploadFileDevice::close, Qt::QueuedConnection);
    connectReply(newReply);
    return true;
}

QByteArray QtNetworkRequest::readAll()
{
    if (!reply)
        return QByteArray();
    const QByteArray bytes = reply->readAll();
    reading.taken += bytes.size();
    if (!reading.bounded && reply->isRunning()) {
        // The host reads before the finish after all: it is offered what arrives from now on.
        reading.bounded = true;
        reply->setReadBufferSize(readBufferLimit);
    }
    return bytes;
}

void QtNetworkRequest::processErrorSlot(QNetworkReply::NetworkError error)
{
    Q_EMIT errorOccurredSignal(networkErrorText(int(error)));
}

void QtNetworkRequest::connectReply(QNetworkReply *newReply)
{
    if (reply)
        retire(reply);
    reply = newReply;
    reading = Reading();
    // Bounded from the first byte: Qt's network thread reads far ahead of a busy event loop, and
    // with nothing to stop it a fast download piles up in queued events before the host has had a
    // chance to read anything. A host that turns out not to read as the body arrives lifts it.
    newReply->setReadBufferSize(readBufferLimit);
    connect(newReply, &QNetworkReply::socketStartedConnecting, this, &NetworkRequest::socketStartedConnectingSignal);
    connect(newReply, &QNetworkReply::requestSent, this, &NetworkRequest::requestSentSignal);
    connect(newReply, &QNetworkReply::errorOccurred, this, &QtNetworkRequest::processErrorSlot);
    connect(newReply, &QNetworkReply::metaDataChanged, this, &NetworkRequest::metaDataChangedSignal);
    connect(newReply, &QNetworkReply::finished, this, [this, newReply] { relayFinished(newReply); });
    connect(newReply, &QNetworkReply::redirectAllowed, this, &NetworkRequest::redirectAllowedSignal);
    connect(newReply, &QNetworkReply::uploadProgress, this, &NetworkRequest::uploadProgressSignal);
    connect(newReply, &QNetworkReply::downloadProgress, this,
            [this, newReply](qint64 received, qint64 total) { relayDownloadProgress(newReply, received, total); });
    connect(newReply, &QNetworkReply::readyRead, this, [this, newReply] { offerArrivedBytes(newReply); });

    // What happened before these connections existed is reported now. Qt delivers its own signals
    // for it later as well; those are not relayed again.
    const QNetworkReply::NetworkError error = newReply->error();
    if (error != QNetworkReply::NoError) {
        disconnect(newReply, &QNetworkReply::errorOccurred, this, &QtNetworkRequest::processErrorSlot);
        const QPointer<QtNetworkRequest> alive(this);
        processErrorSlot(error);
        if (!alive)
            return; // a handler deleted this request
    }
    if (newReply->isFinished())
        relayFinished(newReply);
}

void QtNetworkRequest::relayFinished(QNetworkReply *finishedReply)
{
    // A finished transfer says nothing more, even if Qt still has signals of it queued (the
    // requestSent of an exchange cancelled meanwhile, the finish of a reply reported at once).
    disconnect(finishedReply, nullptr, this, nullptr);
    Q_EMIT finishedSignal();
}

void QtNetworkRequest::relayDownloadProgress(QNetworkReply *from, qint64 received, qint64 total)
{
    if (from == reply) {
        reading.lastReceived = std::max(reading.lastReceived, received);
        reading.lastTotal = total;
    }
    Q_EMIT downloadProgressSignal(received, total);
}

void QtNetworkRequest::offerArrivedBytes(QNetworkReply *from)
{
    // Qt tells of new bytes at most every 100 ms, and not at all while none come: a host that reads
    // on progress would leave the rest waiting, and with a full bounded buffer nothing more would
    // come. So every arrival is told at once, with the bytes Qt has handed over, which is Qt's own
    // count of a body sent as it is. A body that Qt decodes (Content-Encoding) may be counted
    // otherwise, so there the last count Qt gave is repeated instead.
    if (from != reply) {
        discardBody(from);
        return;
    }
    if (!reading.bounded || from->bytesAvailable() == 0)
        return;
    const QByteArray coding = from->rawHeader("Content-Encoding").trimmed().toLower();
    const bool counted = coding.isEmpty() || coding == "identity";
    const qint64 received = std::max(reading.lastReceived, counted ? reading.taken + from->bytesAvailable() : 0);
    qint64 total = reading.lastTotal;
    if (total == -2) {
        const QVariant length = from->header(QNetworkRequest::ContentLengthHeader);
        total = counted && length.isValid() ? length.toLongLong() : -1;
    }
    reading.lastReceived = received;
    const qint64 takenBefore = reading.taken;
    const QPointer<QtNetworkRequest> alive(this);
    const QPointer<QNetworkReply> guarded(from);
    Q_EMIT downloadProgressSignal(received, total);
    if (!alive || !guarded || from != reply || !reading.bounded || reading.taken != takenBefore)
        return;
    // The host did not read on this signal: it reads at moments of its own, the finish perhaps, and a
    // full bounded buffer would hold the body back from it for ever.
    reading.bounded = false;
    from->setReadBufferSize(0);
}

void QtNetworkRequest::retire(QNetworkReply *earlier)
{
    // readAll reads only the last start's reply, so an earlier reply's body can reach no one. It is
    // dropped as it arrives: the earlier transfer still runs to its finish (its signals are still
    // relayed), in bounded memory, and lets its connection go when it ends.
    earlier->setReadBufferSize(readBufferLimit);
    discardBody(earlier);
}

void QtNetworkRequest::discardBody(QNetworkReply *earlier)
{
    // Reading frees the bounded buffer, so Qt goes on reading the socket. A closed reply holds nothing
    // and warns when read.
    const qint64 held = earlier->bytesAvailable();
    if (held > 0)
        earlier->skip(held);
}

} // namespace ORVIK
