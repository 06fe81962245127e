#include "tests/support/http/httptestconnection_p.h"

#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>

namespace ORVIK {

namespace {

constexpr qint64 kReadBlock = 1024 * 1024;
constexpr qint64 kWriteBlock = 256 * 1024;
constexpr qint64 kHighWater = 1024 * 1024; // stop writing while this much waits in the socket
constexpr int kMaxHeadSize = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

HttpTestConnection::HttpTestConnection(QTcpSocket *socket, HttpTestServer *server)
    : QObject(server), m_socket(socket), m_server(server)
{
    m_socket->setParent(this);
    m_pace.setSingleShot(true);
    connect(&m_pace, &QTimer::timeout, this, &HttpTestConnection::pump);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpTestConnection::readIncoming);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_state == State::Answering && !m_pace.isActive())
            pump();
    });
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        connect(ssl, &QSslSocket::encryptedBytesWritten, this, [this] {
            if (m_state == State::Answering && !m_pace.isActive())
                pump();
        });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_state != State::Closing)
            m_server->connectionClosedByPeer();
        m_state = State::Closing;
        m_pace.stop();
        deleteLater();
    });
    readIncoming();
}

void HttpTestConnection::readIncoming()
{
    while (m_socket->bytesAvailable() > 0 && m_state != State::Closing) {
        m_input += m_socket->read(kReadBlock);
        processInput();
        // While answering, keep later (pipelined) input unread so memory stays bounded.
        if (m_state == State::Answering)
            return;
    }
}

void HttpTestConnection::processInput()
{
    for (;;) {
        switch (m_state) {
        case State::Headers:
            if (!parseHead())
                return;
            break;
        case State::Body:
            takeBody(std::min<qint64>(m_remaining, m_input.size()));
            if (m_remaining > 0)
                return;
            bodyComplete();
            break;
        case State::ChunkSize: {
            const qsizetype end = m_input.indexOf("\r\n");
            if (end < 0)
                return;
            const QByteArray line = m_input.left(end).split(';').first().trimmed();
            m_input.remove(0, end + 2);
            bool ok = false;
            m_remaining = line.toLongLong(&ok, 16);
            if (!ok || m_remaining < 0) {
                closeConnection();
                return;
            }
            m_state = m_remaining == 0 ? State::Trailer : State::ChunkData;
            break;
        }
        case State::ChunkData:
            takeBody(std::min<qint64>(m_remaining, m_input.size()));
            if (m_remaining > 0)
                return;
            m_state = State::ChunkEnd;
            break;
        case State::ChunkEnd:
            if (m_input.size() < 2)
                return;
            m_input.remove(0, 2);
            m_state = State::ChunkSize;
            break;
        case State::Trailer: {
            const qsizetype end = m_input.indexOf("\r\n");
            if (end < 0)
                return;
            m_input.remove(0, end + 2);
            if (end == 0)
                bodyComplete();
            break;
        }
        case State::Answering:
        case State::Closing:
            return;
        }
    }
}

bool HttpTestConnection::parseHead()
{
    const qsizetype end = m_input.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_input.size() > kMaxHeadSize)
            closeConnection();
        return false;
    }
    QList<QByteArray> lines = m_input.left(end).split('\n');
    m_input.remove(0, end + 4);
    for (QByteArray &line : lines)
        line = line.trimmed();

    HttpTestServer::Request request;
    const QList<QByteArray> parts = lines.takeFirst().split(' ');
    if (parts.size() != 3) {
        closeConnection();
        return false;
    }
    request.method = parts[0];
    request.target = parts[1];
    request.version = parts[2];
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    const bool chunked = request.header("Transfer-Encoding").toLower().contains("chunked");
    m_remaining = chunked ? 0 : request.header("Content-Length").toLongLong();
    m_closeWhenDone = request.header("Connection").toLower() == "close" ||
                      (request.version == "HTTP/1.0" && request.header("Connection").toLower() != "keep-alive");
    const bool expectsContinue = request.header("Expect").toLower() == "100-continue";
    m_hash.reset();
    m_index = m_server->beginRequest(request);
    if (expectsContinue)
        m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    m_state = chunked ? State::ChunkSize : State::Body;
    return true;
}

void HttpTestConnection::takeBody(qint64 count)
{
    if (count <= 0)
        return;
    const QByteArray bytes = m_input.left(count);
    m_input.remove(0, count);
    m_remaining -= count;
    m_hash.addData(bytes);
    m_server->appendBody(m_index, bytes);
}

void HttpTestConnection::bodyComplete()
{
    m_state = State::Answering;
    const int index = m_index;
    m_server->completeRequest(index, m_hash.result());
    if (m_state != State::Answering || index >= m_server->requestCount())
        return;
    answer(m_server->routeFor(m_server->request(index)));
}

void HttpTestConnection::answer(const HttpTestServer::Route &route)
{
    m_route = route;
    if (route.stall)
        return;
    if (route.delayMs > 0) {
        QTimer::singleShot(route.delayMs, this, [this] { writeHead(m_route); });
        return;
    }
    writeHead(route);
}

void HttpTestConnection::writeHead(const HttpTestServer::Route &route)
{
    if (m_state != State::Answering)
        return;
    m_bodyTotal = route.generatedSize >= 0 ? route.generatedSize : route.body.size();
    m_bodyLimit = route.dropAfter >= 0 ? std::min(route.dropAfter, m_bodyTotal) : m_bodyTotal;
    m_bodySent = 0;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + reasonPhrase(route.status) + "\r\n";
    for (const auto &header : route.headers)
        head += header.first + ": " + header.second + "\r\n";
    switch (route.framing) {
    case HttpTestServer::Framing::ContentLength:
        head += "Content-Length: " + QByteArray::number(m_bodyTotal) + "\r\n";
        break;
    case HttpTestServer::Framing::Chunked:
        head += "Transfer-Encoding: chunked\r\n";
        break;
    case HttpTestServer::Framing::CloseDelimited:
        m_closeWhenDone = true;
        break;
    }
    if (m_closeWhenDone)
        head += "Connection: close\r\n";
    head += "\r\n";
    m_socket->write(head);
    pump();
}

qint64 HttpTestConnection::pendingOutput() const
{
    qint64 pending = m_socket->bytesToWrite();
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        pending += ssl->encryptedBytesToWrite();
    return pending;
}

void HttpTestConnection::pump()
{
    if (m_state != State::Answering)
        return;
    const bool paced = m_route.pieceSize > 0;
    while (m_bodySent < m_bodyLimit) {
        if (pendingOutput() >= kHighWater)
            return; // bytesWritten resumes
        const qint64 size = std::min(paced ? m_route.pieceSize : kWriteBlock, m_bodyLimit - m_bodySent);
        const QByteArray bytes = m_route.generatedSize >= 0 ? HttpTestServer::patternBytes(m_bodySent, size)
                                                            : m_route.body.mid(m_bodySent, size);
        if (m_route.framing == HttpTestServer::Framing::Chunked)
            m_socket->write(QByteArray::number(size, 16) + "\r\n" + bytes + "\r\n");
        else
            m_socket->write(bytes);
        m_bodySent += size;
        if (paced && m_bodySent < m_bodyLimit) {
            m_pace.start(m_route.pieceIntervalMs);
            return;
        }
    }
    if (m_bodySent < m_bodyTotal) { // dropped mid-body
        closeConnection();
        return;
    }
    if (m_route.framing == HttpTestServer::Framing::Chunked)
        m_socket->write("0\r\n\r\n");
    endResponse();
}

void HttpTestConnection::endResponse()
{
    if (m_closeWhenDone) {
        closeConnection();
        return;
    }
    m_state = State::Headers;
    processInput();
    readIncoming();
}

void HttpTestConnection::closeConnection()
{
    m_state = State::Closing;
    m_pace.stop();
    // Writes what is queued, then closes; `disconnected` deletes this connection.
    m_socket->disconnectFromHost();
}

} // namespace ORVIK
