#pragma once

#include "tests/support/http/httptestserver.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace ORVIK {

// One accepted connection of HttpTestServer: parses requests as bytes arrive (bodies are
// passed on as they come, never gathered whole), then writes the route's answer at the pace
// the socket drains, so multi-gigabyte bodies flow in bounded memory both ways.
class HttpTestConnection : public QObject
{
    Q_OBJECT
public:
    HttpTestConnection(QTcpSocket *socket, HttpTestServer *server);

private:
    enum class State { Headers, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, Answering, Closing };

    void readIncoming();
    void processInput();
    bool parseHead();
    void takeBody(qint64 count);
    void bodyComplete();
    void answer(const HttpTestServer::Route &route);
    void writeHead(const HttpTestServer::Route &route);
    void pump();
    void endResponse();
    void closeConnection();
    qint64 pendingOutput() const;

    QTcpSocket *m_socket;
    HttpTestServer *m_server;
    QByteArray m_input;
    State m_state = State::Headers;
    bool m_closeWhenDone = false;

    // The request being received.
    int m_index = -1;
    qint64 m_remaining = 0; // body or chunk bytes still expected
    QCryptographicHash m_hash{QCryptographicHash::Sha256};

    // The response being sent.
    HttpTestServer::Route m_route;
    qint64 m_bodyTotal = 0;
    qint64 m_bodyLimit = 0; // where sending stops: the total, or the drop point
    qint64 m_bodySent = 0;
    QTimer m_pace;
};

} // namespace ORVIK
