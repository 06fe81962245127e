#include "host/widgets/update/packagerequest.h"

#include "host/widgets/qstringstream.h"

#include <QNetworkAccessManager>

namespace ORVIK {

namespace {

// Qt's network thread reads ahead of a busy event loop: bounded, a fast download waits in the socket
// rather than in memory.
constexpr qint64 kReadBufferLimit = 4 * 1024 * 1024;

} // namespace

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
    QNetworkReply *reply = m_manager->get(m_request);
    m_reply = reply;
    reply->setReadBufferSize(kReadBufferLimit);
    connect(reply, &QNetworkReply::metaDataChanged, this, &NetworkRequest::metaDataChangedSignal);
    // Qt tells of progress at most every 100 ms and not while nothing comes: with a bounded buffer
    // the reader must hear of every arrival, or the transfer would wait for it for ever.
    connect(reply, &QNetworkReply::readyRead, this, &PackageRequest::offerArrivedBytes);
    connect(reply, &QNetworkReply::redirectAllowed, this, &NetworkRequest::redirectAllowedSignal);
    connect(reply, &QNetworkReply::errorOccurred, this, [this](QNetworkReply::NetworkError code) {
        // Body bytes that arrived before a cut are good bytes of the package: they are offered
        // before the error, after which the reader takes no more.
        const QPointer<PackageRequest> alive(this);
        offerArrivedBytes();
        if (!alive)
            return;
        m_error = code;
        m_errorText = StringStream<QString>::toString(m_reply ? m_reply->errorString() : QString());
        Q_EMIT errorOccurredSignal(m_errorText);
    });
    connect(reply, &QNetworkReply::finished, this, &NetworkRequest::finishedSignal);
    return true;
}

void PackageRequest::offerArrivedBytes()
{
    if (!m_reply || m_reply->bytesAvailable() == 0)
        return;
    const int status = statusCode();
    if (status < 200 || status >= 300)
        return;
    // What the server announced for this response: with identity coding, the bytes that arrive.
    const QByteArray coding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 total = (coding.isEmpty() || coding == "identity") && length.isValid() ? length.toLongLong() : -1;
    Q_EMIT downloadProgressSignal(m_taken + m_reply->bytesAvailable(), total);
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
    if (!m_reply)
        return QByteArray();
    const QByteArray bytes = m_reply->readAll();
    m_taken += bytes.size();
    return bytes;
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
