#pragma once

#include "loopback/httptestserver.h"
#include "loopback/tlsservercontext_p.h"

#include <QCryptographicHash>
#include <QTimer>

class QIODevice;
class QTcpSocket;

namespace ORVIK {

class TlsServerSocket;

// One accepted connection of HttpTestServer: passes request bodies on as they arrive, then writes
// the route's answer at the pace the socket drains, so large bodies flow in bounded memory.
class HttpTestConnection : public QObject
{
public:
    // Takes `socket`; with a session, the connection speaks TLS on it.
    HttpTestConnection(QTcpSocket *socket, OpenSslPtr<SSL> session, HttpTestServer *server);
    // Between requests, with nothing of a next one received: closed as a server closes a kept-alive
    // connection.
    void closeIfIdle();

private:
    enum class State { Head, Body, Waiting, Answering, Closing }; // Waiting: for the answer to begin

    void readIncoming();
    void parseHead();
    void takeBody();
    void writeHead();
    void pump();
    void close();
    void disconnected();

    QTcpSocket *m_socket;
    TlsServerSocket *m_tls = nullptr; // on m_socket, when the connection speaks TLS
    QIODevice *m_stream;              // the plaintext: m_tls or m_socket
    HttpTestServer *m_server;
    QByteArray m_input;
    State m_state = State::Head;
    bool m_closeWhenDone = false;
    int m_index = -1;       // of the request being received
    qint64 m_remaining = 0; // of its body
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    HttpTestServer::Route m_route; // of the answer being sent
    qint64 m_bodySent = 0;
    QTimer m_pace;
};

} // namespace ORVIK
