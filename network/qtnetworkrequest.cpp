#include "network/qtnetworkrequest.h"

#include "host/widgets/qstringstream.h"
#include "network/networkerrortext.h"

#include <QByteArray>
#include <QFile>
#include <QNetworkAccessManager>

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
    if (reply)
        reply->close();
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
    // Qt reads the upload from the file until the reply finishes, possibly after this request is
    // gone, so the reply holds the file and closes it once it has finished.
    QFile *device = file.release();
    device->setParent(newReply);
    if (newReply->isFinished()) {
        device->close();
        device->deleteLater();
    } else {
        connect(newReply, &QNetworkReply::finished, device, [device] {
            device->close();
            device->deleteLater();
        });
    }
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
    connect(reply, &QNetworkReply::socketStartedConnecting, this, &NetworkRequest::socketStartedConnectingSignal);
    connect(reply, &QNetworkReply::requestSent, this, &NetworkRequest::requestSentSignal);
    connect(reply, &QNetworkReply::errorOccurred, this, &QtNetworkRequest::processErrorSlot);
    connect(reply, &QNetworkReply::metaDataChanged, this, &NetworkRequest::metaDataChangedSignal);
    connect(reply, &QNetworkReply::finished, this, &NetworkRequest::finishedSignal);
    connect(reply, &QNetworkReply::redirectAllowed, this, &NetworkRequest::redirectAllowedSignal);
    connect(reply, &QNetworkReply::uploadProgress, this, &NetworkRequest::uploadProgressSignal);
    connect(reply, &QNetworkReply::downloadProgress, this, &NetworkRequest::downloadProgressSignal);

    // What happened before these connections existed is reported now.
    if (reply->error() != QNetworkReply::NoError)
        processErrorSlot(reply->error());
    if (reply->isFinished())
        Q_EMIT finishedSignal();
}

} // namespace ORVIK
