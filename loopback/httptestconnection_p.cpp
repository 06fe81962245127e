#include "loopback/httptestconnection_p.h"

#include "loopback/tlsserversocket_p.h"

#include <QTcpSocket>

#include <algorithm>

namespace ORVIK {

namespace {

constexpr qint64 kReadBlock = 1024 * 1024;
constexpr qint64 kWriteBlock = 256 * 1024;
constexpr qint64 kHighWater = 1024 * 1024; // stop writing while this much waits in the socket

} // namespace

HttpTestConnection::HttpTestConnection(QTcpSocket *socket, OpenSslPtr<SSL> session, HttpTestServer *server)
    : QObject(server), m_socket(socket), m_stream(socket), m_server(server)
{
    if (session) {
        m_tls = new TlsServerSocket(socket, std::move(session), this);
        m_stream = m_tls;
        connect(m_tls, &TlsServerSocket::disconnected, this, &HttpTestConnection::disconnected);
    } else {
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::disconnected, this, &HttpTestConnection::disconnected);
    }
    m_pace.setSingleShot(true);
    connect(&m_pace, &QTimer::timeout, this, &HttpTestConnection::pump);
    connect(m_stream, &QIODevice::readyRead, this, &HttpTestConnection::readIncoming);
    connect(m_stream, &QIODevice::bytesWritten, this, &HttpTestConnection::pump);
    readIncoming();
}

void HttpTestConnection::readIncoming()
{
    // While answering, later input stays unread, so memory stays bounded.
    for (;;) {
        if (m_state == State::Head)
            parseHead();
        if (m_state == State::Body)
            takeBody();
        if ((m_state != State::Head && m_state != State::Body) || m_stream->bytesAvailable() == 0)
            return;
        m_input += m_stream->read(kReadBlock);
    }
}

void HttpTestConnection::parseHead()
{
    const qsizetype end = m_input.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    QList<QByteArray> lines = m_input.left(end).split('\n');
    m_input.remove(0, end + 4);
    const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
    if (requestLine.size() != 3)
        return close();
    HttpTestServer::Request request;
    request.method = requestLine[0];
    request.target = requestLine[1];
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    m_remaining = request.header("Content-Length").value_or("0").toLongLong();
    m_closeWhenDone = request.header("Connection").value_or("").toLower() == "close";
    m_hash.reset();
    m_index = m_server->beginRequest(std::move(request));
    m_state = State::Body;
}

void HttpTestConnection::takeBody()
{
    const QByteArray bytes = m_input.left(m_remaining);
    m_input.remove(0, bytes.size());
    m_remaining -= bytes.size();
    m_hash.addData(bytes);
    m_server->appendBody(m_index, bytes);
    if (m_remaining > 0)
        return;
    m_state = State::Waiting;
    const std::optional<HttpTestServer::Route> route = m_server->completeRequest(m_index, m_hash.result());
    if (!route || route->stall)
        return;
    m_route = *route;
    QTimer::singleShot(m_route.delayMs, this, &HttpTestConnection::writeHead);
}

void HttpTestConnection::writeHead()
{
    if (m_state != State::Waiting)
        return;
    m_state = State::Answering;
    static const QHash<int, QByteArray> reasons{
        {200, "OK"},        {201, "Created"},           {206, "Partial Content"},       {401, "Unauthorized"},
        {404, "Not Found"}, {429, "Too Many Requests"}, {500, "Internal Server Error"}, {503, "Service Unavailable"}};
    const qint64 total = (m_route.generatedSize >= 0 ? m_route.generatedSize : m_route.body.size()) - m_route.offset;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(m_route.status) + ' ' + reasons.value(m_route.status, "Status");
    if (m_route.status == 401 && !m_route.basicAuth.isEmpty())
        head += "\r\nWWW-Authenticate: Basic realm=\"test\"";
    for (const auto &header : m_route.headers)
        head += "\r\n" + header.first + ": " + header.second;
    if (!m_route.contentEncoding.isEmpty())
        head += "\r\nContent-Encoding: " + m_route.contentEncoding;
    if (m_route.framing == HttpTestServer::Framing::ContentLength)
        head += "\r\nContent-Length: " + QByteArray::number(total);
    else if (m_route.framing == HttpTestServer::Framing::Chunked)
        head += "\r\nTransfer-Encoding: chunked";
    m_closeWhenDone |= m_route.framing == HttpTestServer::Framing::CloseDelimited;
    if (m_closeWhenDone)
        head += "\r\nConnection: close";
    m_stream->write(head + "\r\n\r\n");
    m_bodySent = 0;
    pump();
}

void HttpTestConnection::pump()
{
    if (m_state != State::Answering || m_pace.isActive())
        return;
    const bool generated = m_route.generatedSize >= 0;
    const qint64 total = (generated ? m_route.generatedSize : m_route.body.size()) - m_route.offset;
    const qint64 limit = m_route.dropAfter >= 0 ? std::min(m_route.dropAfter, total) : total;
    const bool chunked = m_route.framing == HttpTestServer::Framing::Chunked;
    while (m_bodySent < limit) {
        if (m_stream->bytesToWrite() >= kHighWater)
            return; // bytesWritten resumes
        const qint64 size = std::min(m_route.pieceSize > 0 ? m_route.pieceSize : kWriteBlock, limit - m_bodySent);
        const qint64 at = m_route.offset + m_bodySent;
        QByteArray bytes = generated ? HttpTestServer::patternBytes(at, size) : m_route.body.mid(at, size);
        if (generated && m_route.patternXor != 0)
            for (char &byte : bytes)
                byte = char(byte ^ m_route.patternXor);
        m_stream->write(chunked ? QByteArray::number(size, 16) + "\r\n" + bytes + "\r\n" : bytes);
        m_bodySent += size;
        if (m_route.pieceSize > 0 && m_bodySent < limit)
            return m_pace.start(m_route.pieceIntervalMs);
    }
    if (m_bodySent < total)
        return close(); // dropped mid-body
    if (chunked)
        m_stream->write("0\r\n\r\n");
    if (m_closeWhenDone)
        return close();
    m_state = State::Head;
    readIncoming();
}

void HttpTestConnection::closeIfIdle()
{
    if (m_state == State::Head && m_input.isEmpty())
        close();
}

void HttpTestConnection::close()
{
    m_state = State::Closing;
    m_pace.stop();
    // After what is queued; `disconnected` deletes this connection.
    if (m_tls)
        m_tls->disconnectFromHost();
    else
        m_socket->disconnectFromHost();
}

void HttpTestConnection::disconnected()
{
    m_server->connectionClosed();
    close();
    deleteLater();
}

} // namespace ORVIK
