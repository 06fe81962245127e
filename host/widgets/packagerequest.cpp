#include "host/widgets/packagerequest.h"

#include "host/widgets/qstringstream.h"

#include <QNetworkAccessManager>

namespace ORVIK {

PackageRequest::PackageRequest(QNetworkAccessManager *manager, const QNetworkRequest &request)
    : m_manager(manager), m_request(request)
{}

PackageRequest::~PackageRequest()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    if (m_reply->isRunning())
        m_reply->abort();
    // Possibly inside one of the reply's own signals: it goes when control is back in the loop.
    m_reply->deleteLater();
}

bool PackageRequest::start()
{
    if (m_reply)
        return false;
    // GET sent as a custom request: Qt resends a GET of its own accord when a connection closes
    // early, which would ask the server twice in one attempt and splice two bodies into one reply.
    QNetworkReply *reply = m_manager->sendCustomRequest(m_request, "GET");
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &NetworkRequest::metaDataChangedSignal);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        m_total = total;
        Q_EMIT downloadProgressSignal(received, total);
    });
    connect(reply, &QNetworkReply::redirectAllowed, this, &NetworkRequest::redirectAllowedSignal);
    connect(reply, &QNetworkReply::errorOccurred, this, [this](QNetworkReply::NetworkError code) {
        // Body bytes that arrived before a cut are good bytes of the package: they are offered
        // before the error, which ends the reading.
        const int status = statusCode();
        if (m_reply && m_reply->bytesAvailable() > 0 && status >= 200 && status < 300) {
            const QPointer<PackageRequest> alive(this);
            Q_EMIT downloadProgressSignal(-1, m_total);
            if (!alive)
                return;
        }
        m_error = code;
        m_errorText = StringStream<QString>::toString(m_reply ? m_reply->errorString() : QString());
        Q_EMIT errorOccurredSignal(m_errorText);
    });
    connect(reply, &QNetworkReply::finished, this, &NetworkRequest::finishedSignal);
    return true;
}

void PackageRequest::close()
{
    if (!m_reply)
        return;
    // Its handlers may delete this request: only the local pointer is used after abort.
    QNetworkReply *closing = m_reply;
    if (closing->isRunning())
        closing->abort();
    closing->close();
}

void PackageRequest::ignoreSslErrors()
{
    if (m_reply)
        m_reply->ignoreSslErrors();
}

bool PackageRequest::isRunning()
{
    return m_reply && m_reply->isRunning();
}

QByteArray PackageRequest::readAll()
{
    return m_reply ? m_reply->readAll() : QByteArray();
}

int PackageRequest::statusCode() const
{
    return m_reply ? m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
}

QByteArray PackageRequest::header(const QByteArray &name) const
{
    return m_reply ? m_reply->rawHeader(name) : QByteArray();
}

} // namespace ORVIK
