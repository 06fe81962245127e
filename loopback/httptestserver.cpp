#include "loopback/httptestserver.h"

#include "loopback/httptestconnection_p.h"
#include "loopback/tlsservercontext_p.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace ORVIK {

namespace {

constexpr qint64 kCaptureLimit = 16 * 1024 * 1024;

} // namespace

std::optional<QByteArray> HttpTestServer::Request::header(const QByteArray &name) const
{
    for (const auto &header : headers)
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    return std::nullopt;
}

HttpTestServer::HttpTestServer(QObject *parent) : QObject(parent)
{}

HttpTestServer::~HttpTestServer() = default;

bool HttpTestServer::listen(Transport transport)
{
    m_tls.reset();
    if (transport == Transport::Tls) {
        m_tls = TlsServerContext::create(&m_error);
        if (!m_tls)
            return false;
    }
    m_server = std::make_unique<QTcpServer>();
    connect(m_server.get(), &QTcpServer::newConnection, this, &HttpTestServer::acceptConnections);
    if (!m_server->listen(QHostAddress::LocalHost, 0)) {
        m_error = m_server->errorString();
        m_server.reset();
        return false;
    }
    return true;
}

void HttpTestServer::acceptConnections()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        OpenSslPtr<SSL> session = m_tls ? m_tls->newSession() : nullptr;
        if (m_tls && !session) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_openConnections;
        new HttpTestConnection(socket, std::move(session), this); // deletes itself on disconnect
    }
}

void HttpTestServer::closeIdleConnections()
{
    for (HttpTestConnection *connection : findChildren<HttpTestConnection *>(Qt::FindDirectChildrenOnly))
        connection->closeIfIdle();
}

quint16 HttpTestServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QUrl HttpTestServer::url(const QString &path) const
{
    QUrl url;
    url.setScheme(m_tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port());
    url.setPath(path);
    return url;
}

int HttpTestServer::completedRequestCount() const
{
    return int(std::count_if(m_requests.cbegin(), m_requests.cend(), [](const Request &r) { return r.complete; }));
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
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
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
    if (index >= m_requests.size())
        return; // the records were cleared meanwhile
    Request &request = m_requests[index];
    request.bodySize += bytes.size();
    request.body += bytes.left(std::max<qint64>(0, kCaptureLimit - request.body.size()));
}

QByteArray HttpTestServer::Request::path() const
{
    QByteArray path = target.split('?').constFirst();
    if (const qsizetype scheme = path.indexOf("://"); scheme > 0 && !path.startsWith('/')) {
        const qsizetype slash = path.indexOf('/', scheme + 3);
        path = slash < 0 ? QByteArray("/") : path.mid(slash);
    }
    return path;
}

void HttpTestServer::answerRange(const Request &request, Route &answer)
{
    const QByteArray range = request.header("Range").value_or(QByteArray());
    if (!range.startsWith("bytes=") || !range.endsWith('-'))
        return;
    bool ok = false;
    const qint64 first = range.mid(6).chopped(1).toLongLong(&ok);
    const qint64 total = answer.generatedSize >= 0 ? answer.generatedSize : answer.body.size();
    if (!ok || first < 0 || first >= total)
        return;
    if (const std::optional<QByteArray> ifRange = request.header("If-Range")) {
        bool matches = false;
        for (const auto &header : std::as_const(answer.headers)) {
            const QByteArray name = header.first.toLower();
            // A weak tag never matches: If-Range compares strongly.
            if ((name == "etag" && !header.second.startsWith("W/")) || name == "last-modified")
                matches |= header.second == *ifRange;
        }
        if (!matches)
            return;
    }
    answer.status = 206;
    answer.offset = first;
    const qint64 named = answer.misfitRange ? first + 1 : first;
    answer.headers.append({"Content-Range", "bytes " + QByteArray::number(named) + '-' + QByteArray::number(total - 1) +
                                                '/' + QByteArray::number(total)});
}

std::optional<HttpTestServer::Route> HttpTestServer::completeRequest(int index, const QByteArray &sha256)
{
    if (index >= m_requests.size())
        return std::nullopt;
    Request &request = m_requests[index];
    request.bodySha256 = sha256;
    request.complete = true;
    const QByteArray path = request.path();
    Route route;
    if (const auto found = m_routes.find(path); found != m_routes.end()) {
        if (found->basicAuth.isEmpty() ||
            request.header("Authorization") == QByteArray("Basic " + found->basicAuth.toBase64())) {
            if (found->refuseTimes > 0) {
                --found->refuseTimes;
                route.status = found->refuseStatus;
                if (!found->retryAfter.isEmpty())
                    route.headers.append({"Retry-After", found->retryAfter});
                route.body = "Busy\n";
                return route;
            }
            Route answer = *found;
            if (found->dropAfter >= 0 && found->dropTimes == 0)
                answer.dropAfter = -1;
            else if (found->dropAfter >= 0 && found->dropTimes > 0)
                --found->dropTimes;
            if (answer.ranges)
                answerRange(request, answer);
            return answer;
        }
        route.status = 401; // with a challenge, as the route's basicAuth says
        route.body = "Unauthorized\n";
        route.basicAuth = found->basicAuth;
    } else if (request.method == "PUT" || request.method == "POST") {
        if (request.bodySize == request.body.size())
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
