#include "network/qtnetworkrequest.h"

#include "host/widgets/qstringstream.h"
#include "network/networkerrortext.h"

#include <QByteArray>
#include <QFile>
#include <QNetworkAccessManager>
#include <QPointer>

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
    auto file = std::make_unique<QFile>(StringStream<QString>::fromString(StringView(uploadFile)));
    // Not examined: an unreadable file fails as the transfer's own error.
    file->open(QIODevice::ReadOnly);
    QNetworkReply *newReply = manager->put(request, file.get());
    // Qt keeps a pointer to the file for the reply's whole life and still reads it after the reply
    // has finished (requests of its HTTP thread that were already queued), possibly after this
    // request is gone. So the file object lives as long as the reply. The descriptor is released
    // after the finish, behind what Qt had queued by then; a read that comes later still meets a
    // closed file, not a freed one.
    QFile *device = file.release();
    device->setParent(newReply);
    if (newReply->isFinished())
        QMetaObject::invokeMethod(device, &QFile::close, Qt::QueuedConnection);
    else
        connect(newReply, &QNetworkReply::finished, device, &QFile::close, Qt::QueuedConnection);
    connectReply(newReply);
    return true;
}

QByteArray QtNetworkRequest::readAll()
{
    return reply ? reply->readAll() : QByteArray();
}

void QtNetworkRequest::processErrorSlot(QNetworkReply::NetworkError error)
{
    Q_EMIT errorOccurredSignal(networkErrorText(int(error)));
}

void QtNetworkRequest::connectReply(QNetworkReply *newReply)
{
    reply = newReply;
    connect(newReply, &QNetworkReply::socketStartedConnecting, this, &NetworkRequest::socketStartedConnectingSignal);
    connect(newReply, &QNetworkReply::requestSent, this, &NetworkRequest::requestSentSignal);
    connect(newReply, &QNetworkReply::errorOccurred, this, &QtNetworkRequest::processErrorSlot);
    connect(newReply, &QNetworkReply::metaDataChanged, this, &NetworkRequest::metaDataChangedSignal);
    connect(newReply, &QNetworkReply::finished, this, [this, newReply] { relayFinished(newReply); });
    connect(newReply, &QNetworkReply::redirectAllowed, this, &NetworkRequest::redirectAllowedSignal);
    connect(newReply, &QNetworkReply::uploadProgress, this, &NetworkRequest::uploadProgressSignal);
    connect(newReply, &QNetworkReply::downloadProgress, this, &NetworkRequest::downloadProgressSignal);

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

} // namespace ORVIK
