#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

#include <memory>
#include <optional>

class QTcpServer;

namespace ORVIK {

class TlsServerContext;

// An HTTP/1.1 server on 127.0.0.1, for tests and the demo. Plain or TLS (on libssl, with a self-signed
// certificate made at listen time). It records every request it receives, so callers
// can assert on method, target, headers and body, and answers each path as its Route says.
//
// Paths without a route behave like a small file store: a PUT (or POST) keeps its body (when it
// was captured whole) and answers 201; a GET of a stored path returns it with 200; anything
// else gets 404.
class HttpTestServer : public QObject
{
    Q_OBJECT
public:
    enum class Transport { Plain, Tls };

    // How the client learns where a response body ends.
    enum class Framing {
        ContentLength,
        Chunked,       // the client learns no total (-1)
        CloseDelimited // the server closes the connection after the body (-1 total)
    };

    struct Route
    {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers; // sent as they are (Location of a redirect)
        QByteArray body;
        qint64 generatedSize = -1; // >= 0: the body is this many patternBytes(), made as they are sent
        Framing framing = Framing::ContentLength;
        int delayMs = 0;            // wait this long after the request before answering
        bool stall = false;         // never answer; the connection stays open
        qint64 dropAfter = -1;      // close after this many body bytes (the length still announces them all)
        int dropTimes = -1;         // >= 0: only this many answers are cut short, later ones are whole
        qint64 pieceSize = 0;       // > 0: send the body in pieces of this size ...
        int pieceIntervalMs = 0;    // ... with this pause between them
        QByteArray basicAuth;       // "user:password": requests without them get 401 with a challenge
        QByteArray contentEncoding; // sent as Content-Encoding; body holds the bytes so coded
    };

    struct Request
    {
        QByteArray method;
        QByteArray target;                            // as sent: path and query, or a proxy's absolute URL
        QList<QPair<QByteArray, QByteArray>> headers; // in order, names as sent
        QByteArray body;                              // its first 16 MiB; the rest is only counted and hashed
        qint64 bodySize = 0;
        QByteArray bodySha256;
        bool complete = false; // the whole body has arrived

        // The path, also of an absolute target ("http://host:port/path", as clients send it to a proxy).
        QByteArray path() const;
        // The first header of this name, compared without case.
        std::optional<QByteArray> header(const QByteArray &name) const;
        bool hasHeader(const QByteArray &name) const { return header(name).has_value(); }
    };

    explicit HttpTestServer(QObject *parent = nullptr);
    ~HttpTestServer() override;

    // Listens on a free loopback port; on failure returns false and errorString() says why.
    bool listen(Transport transport = Transport::Plain);
    QString errorString() const { return m_error; }
    quint16 port() const;
    // "http://127.0.0.1:PORT/path" (https for TLS).
    QUrl url(const QString &path = QStringLiteral("/")) const;
    // A route answers every method on this path (the query is not part of it).
    void setRoute(const QByteArray &path, const Route &route) { m_routes.insert(path, route); }

    // Every request whose headers arrived, in arrival order.
    const QList<Request> &requests() const { return m_requests; }
    int requestCount() const { return int(m_requests.size()); }
    const Request &request(int index) const { return m_requests.at(index); }
    int completedRequestCount() const;
    void clearRecords() { m_requests.clear(); }
    // Connections accepted and not yet closed by either side.
    int openConnectionCount() const { return m_openConnections; }

    // The bytes of a generated body: a deterministic pattern, byte p depending on p only.
    static QByteArray patternBytes(qint64 offset, qint64 size);
    // A loopback port on which nothing listens (it was free a moment ago).
    static quint16 unusedPort();

private:
    friend class HttpTestConnection;

    int beginRequest(Request request);
    void appendBody(int index, const QByteArray &bytes);
    // Marks the request complete and says how to answer it; nothing when its record was cleared.
    std::optional<Route> completeRequest(int index, const QByteArray &sha256);
    void acceptConnections();
    void connectionClosed() { --m_openConnections; }

    std::unique_ptr<QTcpServer> m_server;
    std::unique_ptr<TlsServerContext> m_tls;
    QString m_error;
    QHash<QByteArray, Route> m_routes;
    QHash<QByteArray, QByteArray> m_stored;
    QList<Request> m_requests;
    int m_openConnections = 0;
};

} // namespace ORVIK
