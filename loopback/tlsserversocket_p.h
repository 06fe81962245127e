#pragma once

#include "loopback/tlsservercontext_p.h"

#include <QByteArray>
#include <QIODevice>

class QTcpSocket;

namespace ORVIK {

// The server end of one TLS connection: a sequential device whose reads and writes are the plaintext,
// which a libssl session turns into the TCP socket's ciphertext and back through memory BIOs. Writes
// are encrypted at once, so bytesToWrite() is what waits in the socket and a writer that keeps it
// bounded keeps all of this bounded. Reads are decrypted ahead only up to a limit: the rest waits in
// the socket until the reader takes some. bytesWritten() counts the ciphertext the socket passed on.
class TlsServerSocket : public QIODevice
{
    Q_OBJECT
public:
    // Takes `socket` as its child; `session` answers the client's handshake.
    TlsServerSocket(QTcpSocket *socket, OpenSslPtr<SSL> session, QObject *parent);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    // Sends close_notify after what was written, then closes the TCP connection once it has gone out.
    void disconnectFromHost();

Q_SIGNALS:
    // The TCP connection closed, from either side.
    void disconnected();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    enum class Session { Open, PeerClosed, Failed };

    void receive();
    // Decrypts what the socket holds while the plaintext is under its limit; true when some was added.
    bool decrypt();
    void sendPending();
    void end(Session session);

    QTcpSocket *m_socket;
    OpenSslPtr<SSL> m_session;
    QByteArray m_plaintext; // decrypted, not yet read
    Session m_state = Session::Open;
    bool m_closing = false;
};

} // namespace ORVIK
