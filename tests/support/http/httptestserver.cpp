#include "tests/support/http/httptestserver.h"

#include "tests/support/http/httptestconnection_p.h"

#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

namespace ORVIK {

QByteArray HttpTestServer::Request::path() const
{
    const qsizetype query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

QByteArray HttpTestServer::Request::header(const QByteArray &name) const
{
    for (const auto &header : headers)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    return {};
}

bool HttpTestServer::Request::hasHeader(const QByteArray &name) const
{
    for (const auto &header : headers)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

HttpTestServer::HttpTestServer(QObject *parent) : QObject(parent)
{}

HttpTestServer::~HttpTestServer() = default;

bool HttpTestServer::listen(Transport transport, const QHostAddress &address)
{
    close();
    m_transport = transport;
    if (transport == Transport::Tls) {
        m_certificate = TestCertificate::generate();
        if (!m_certificate.isValid()) {
            m_error = m_certificate.error;
            return false;
        }
        auto server = std::make_unique<QSslServer>();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(m_certificate.certificate);
        configuration.setPrivateKey(m_certificate.privateKey);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setSslConfiguration(configuration);
        m_server = std::move(server);
    } else {
        m_certificate = TestCertificate();
        m_server = std::make_unique<QTcpServer>();
    }
    // A TLS connection becomes pending only after its handshake, which newConnection does not announce.
    connect(m_server.get(), &QTcpServer::newConnection, this, &HttpTestServer::acceptConnections);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &HttpTestServer::acceptConnections);
    if (!m_server->listen(address, 0)) {
        m_error = m_server->errorString();
        m_server.reset();
        return false;
    }
    m_error.clear();
    return true;
}

void HttpTestServer::close()
{
    if (m_server)
        m_server->close();
    m_server.reset();
}

bool HttpTestServer::isListening() const
{
    return m_server && m_server->isListening();
}

quint16 HttpTestServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QHostAddress HttpTestServer::address() const
{
    return m_server ? m_server->serverAddress() : QHostAddress();
}

QUrl HttpTestServer::url(const QString &path) const
{
    QUrl url;
    url.setScheme(m_transport == Transport::Tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(address().toString());
    url.setPort(port());
    url.setPath(path);
    return url;
}

void HttpTestServer::setRoute(const QByteArray &path, const Route &route)
{
    m_routes.insert(path, route);
}

void HttpTestServer::removeRoute(const QByteArray &path)
{
    m_routes.remove(path);
}

int HttpTestServer::completedRequestCount() const
{
    return int(std::count_if(m_requests.cbegin(), m_requests.cend(), [](const Request &r) { return r.complete; }));
}

void HttpTestServer::clearRecords()
{
    m_requests.clear();
}

QByteArray HttpTestServer::patternBytes(qint64 offset, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) {
        const quint64 p = quint64(offset + i);
        // Mixing in higher bits keeps the pattern from repeating at any short period.
        bytes[i] = char((p * 131 + (p >> 8) * 7 + (p >> 16) * 3 + (p >> 24)) & 0xff);
    }
    return bytes;
}

quint16 HttpTestServer::unusedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void HttpTestServer::acceptConnections()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        ++m_connectionCount;
        new HttpTestConnection(socket, this); // a child of this server; it deletes itself on disconnect
    }
}

int HttpTestServer::beginRequest(Request request)
{
    m_requests.append(std::move(request));
    const int index = int(m_requests.size()) - 1;
    Q_EMIT requestStarted(index);
    return index;
}

void HttpTestServer::appendBody(int index, const QByteArray &bytes)
{
    if (index < 0 || index >= m_requests.size())
        return; // records were cleared meanwhile
    Request &request = m_requests[index];
    request.bodySize += bytes.size();
    const qint64 room = m_captureLimit - request.body.size();
    if (room > 0)
        request.body += bytes.left(room);
}

void HttpTestServer::completeRequest(int index, const QByteArray &sha256)
{
    if (index < 0 || index >= m_requests.size())
        return;
    m_requests[index].bodySha256 = sha256;
    m_requests[index].complete = true;
    Q_EMIT requestReceived(index);
}

HttpTestServer::Route HttpTestServer::routeFor(const Request &request)
{
    const QByteArray path = request.path();
    const auto found = m_routes.constFind(path);
    if (found != m_routes.constEnd()) {
        const Route &route = *found;
        if (!route.basicAuth.isEmpty() && request.header("Authorization") != "Basic " + route.basicAuth.toBase64()) {
            Route challenge;
            challenge.status = 401;
            challenge.body = "Unauthorized\n";
            challenge.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"test\"")));
            return challenge;
        }
        return route;
    }
    Route route;
    if (request.method == "PUT" || request.method == "POST") {
        if (!request.bodyTruncated())
            m_stored.insert(path, request.body);
        route.status = 201;
    } else if (m_stored.contains(path)) {
        route.body = m_stored.value(path);
    } else {
        route.status = 404;
        route.body = "Not Found\n";
    }
    return route;
}

} // namespace ORVIK
