#pragma once

#include "tests/support/http/testcertificate.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

#include <memory>

class QTcpServer;

namespace ORVIK {

class HttpTestConnection;

// An HTTP/1.1 server on a loopback address, for tests and the demo. Plain or TLS (with a
// certificate generated at listen time). It records every request it receives, so callers can
// assert on the exact method, target, headers and body bytes, and it answers each path as its
// Route says: status, headers, body, framing, delays, stalls and dropped connections.
//
// Paths without a route behave like a small file store: a PUT (or POST) keeps its body (when it
// was captured whole) and answers 201; a GET of a stored path returns it with 200; anything
// else gets 404.
//
// Typical use:
//     HttpTestServer server;
//     QVERIFY2(server.listen(), qPrintable(server.errorString()));
//     HttpTestServer::Route route;
//     route.body = "hello";
//     server.setRoute("/file", route);
//     ... request server.url("/file") ...
//     QTRY_COMPARE(server.requestCount(), 1);
//     QCOMPARE(server.request(0).method, "GET");
class HttpTestServer : public QObject
{
    Q_OBJECT
public:
    enum class Transport { Plain, Tls };

    // How the length of a response body is made known to the client.
    enum class Framing {
        ContentLength, // a Content-Length header
        Chunked,       // Transfer-Encoding: chunked; the client learns no total (-1)
        CloseDelimited // no length; the body ends when the server closes the connection (-1 total)
    };

    struct Route
    {
        int status = 200;
        QByteArray body;
        // When >= 0 the body is this many bytes of patternBytes() instead of `body` (large bodies
        // are generated as they are sent, never held in memory).
        qint64 generatedSize = -1;
        QList<QPair<QByteArray, QByteArray>> headers; // extra response headers
        Framing framing = Framing::ContentLength;
        int delayMs = 0;         // wait this long after the request before answering
        bool stall = false;      // read the request and never answer (the connection stays open)
        qint64 dropAfter = -1;   // close the connection after this many body bytes (the headers
                                 // still announce the whole length, so the client sees a truncation)
        qint64 pieceSize = 0;    // > 0: send the body in pieces of this size ...
        int pieceIntervalMs = 0; // ... with this pause between pieces
        // "user:password": requests without these Basic credentials get 401 with a challenge.
        QByteArray basicAuth;
    };

    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent: path and query
        QByteArray version;
        QList<QPair<QByteArray, QByteArray>> headers; // in order, names as sent
        QByteArray body;                              // the body, or its first bodyCaptureLimit() bytes
        qint64 bodySize = 0;                          // every body byte received
        QByteArray bodySha256;                        // over every body byte received
        bool complete = false;                        // the whole body has arrived

        QByteArray path() const; // target without the query
        // The first header of this name, compared without case; empty when absent.
        QByteArray header(const QByteArray &name) const;
        bool hasHeader(const QByteArray &name) const;
        bool bodyTruncated() const { return bodySize > body.size(); }
    };

    explicit HttpTestServer(QObject *parent = nullptr);
    ~HttpTestServer() override;

    // Listens on a free port of `address`. TLS generates a certificate first (openssl).
    // On failure returns false and errorString() says why.
    bool listen(Transport transport = Transport::Plain, const QHostAddress &address = QHostAddress::LocalHost);
    // Stops accepting connections; open ones go on until their peer or this object goes.
    void close();
    bool isListening() const;
    QString errorString() const { return m_error; }

    quint16 port() const;
    QHostAddress address() const;
    // "http://127.0.0.1:PORT/path" (https for TLS; IPv6 addresses in brackets).
    QUrl url(const QString &path = QStringLiteral("/")) const;
    // The certificate that a TLS server presents; null for a plain one.
    const QSslCertificate &certificate() const { return m_certificate.certificate; }

    // A route answers every method on this path (the query is not part of it).
    void setRoute(const QByteArray &path, const Route &route);
    void removeRoute(const QByteArray &path);
    // Bodies beyond this size are only counted and hashed (default 16 MiB).
    void setBodyCaptureLimit(qint64 bytes) { m_captureLimit = bytes; }
    qint64 bodyCaptureLimit() const { return m_captureLimit; }

    // Every request whose headers arrived, in arrival order; complete once its body is in.
    const QList<Request> &requests() const { return m_requests; }
    int requestCount() const { return int(m_requests.size()); }
    const Request &request(int index) const { return m_requests.at(index); }
    // Requests whose body has fully arrived.
    int completedRequestCount() const;
    void clearRecords();
    // Accepted connections (after the TLS handshake for a TLS server).
    int connectionCount() const { return m_connectionCount; }
    // Connections closed by the client before the server closed them.
    int peerClosedCount() const { return m_peerClosedCount; }

    // The bytes of a generated body: a deterministic pattern, byte p depending on p only.
    static QByteArray patternBytes(qint64 offset, qint64 size);
    // A loopback port on which nothing listens (it was free a moment ago).
    static quint16 unusedPort();

Q_SIGNALS:
    // The headers of request `index` have arrived.
    void requestStarted(int index);
    // The whole body of request `index` has arrived; the answer follows.
    void requestReceived(int index);

private:
    friend class HttpTestConnection;

    void acceptConnections();
    // Used by the connections.
    int beginRequest(Request request);
    void appendBody(int index, const QByteArray &bytes);
    void completeRequest(int index, const QByteArray &sha256);
    Route routeFor(const Request &request);
    void connectionClosedByPeer() { ++m_peerClosedCount; }

    std::unique_ptr<QTcpServer> m_server;
    Transport m_transport = Transport::Plain;
    TestCertificate m_certificate;
    QString m_error;
    QHash<QByteArray, Route> m_routes;
    QHash<QByteArray, QByteArray> m_stored;
    QList<Request> m_requests;
    qint64 m_captureLimit = 16 * 1024 * 1024;
    int m_connectionCount = 0;
    int m_peerClosedCount = 0;
};

} // namespace ORVIK
