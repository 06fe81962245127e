#include "loopback/tlsserversocket_p.h"

#include <QTcpSocket>

#include <openssl/err.h>

#include <algorithm>
#include <cstring>

namespace ORVIK {

namespace {

constexpr qsizetype kPlaintextLimit = 1024 * 1024; // decrypted ahead of the reader at most (plus a record)
constexpr int kRecordSize = 16 * 1024;             // the most plaintext one TLS record carries
constexpr qint64 kCiphertextBlock = 64 * 1024;     // taken from the socket per step, so the BIO stays small
constexpr qint64 kWriteSlice = 4 * 1024 * 1024;    // SSL_write takes an int

} // namespace

TlsServerSocket::TlsServerSocket(QTcpSocket *socket, OpenSslPtr<SSL> session, QObject *parent)
    : QIODevice(parent), m_socket(socket), m_session(std::move(session))
{
    m_socket->setParent(this);
    QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    connect(m_socket, &QTcpSocket::readyRead, this, &TlsServerSocket::receive);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &TlsServerSocket::bytesWritten);
    connect(m_socket, &QTcpSocket::disconnected, this, &TlsServerSocket::disconnected);
    decrypt(); // what arrived before these connections; the reader looks at once
}

qint64 TlsServerSocket::bytesAvailable() const
{
    return m_plaintext.size() + QIODevice::bytesAvailable();
}

qint64 TlsServerSocket::bytesToWrite() const
{
    return m_socket->bytesToWrite() + QIODevice::bytesToWrite();
}

void TlsServerSocket::disconnectFromHost()
{
    if (m_closing)
        return;
    m_closing = true;
    if (m_state != Session::Failed && SSL_is_init_finished(m_session.get())) {
        ERR_clear_error();
        SSL_shutdown(m_session.get()); // our close_notify; the client's is not awaited
        ERR_clear_error();
        sendPending();
    }
    m_socket->disconnectFromHost(); // may emit disconnected at once
}

qint64 TlsServerSocket::readData(char *data, qint64 maxSize)
{
    const qsizetype size = qsizetype(std::min<qint64>(maxSize, m_plaintext.size()));
    if (size > 0) {
        std::memcpy(data, m_plaintext.constData(), size_t(size));
        m_plaintext.remove(0, size);
    }
    // The socket announced what it holds once; with room again, take more of it now.
    decrypt();
    return size;
}

qint64 TlsServerSocket::writeData(const char *data, qint64 size)
{
    if (m_state != Session::Open || m_closing)
        return -1;
    for (qint64 done = 0; done < size;) {
        ERR_clear_error();
        // Renegotiation is off, so an established session encrypts without waiting for the client.
        const int written = SSL_write(m_session.get(), data + done, int(std::min(size - done, kWriteSlice)));
        if (written <= 0) {
            end(Session::Failed);
            return -1;
        }
        done += written;
        sendPending();
    }
    return size;
}

void TlsServerSocket::receive()
{
    if (decrypt())
        Q_EMIT readyRead();
}

bool TlsServerSocket::decrypt()
{
    const qsizetype before = m_plaintext.size();
    while (m_state == Session::Open && m_plaintext.size() < kPlaintextLimit) {
        const qsizetype at = m_plaintext.size();
        m_plaintext.resize(at + kRecordSize);
        ERR_clear_error();
        const int got = SSL_read(m_session.get(), m_plaintext.data() + at, kRecordSize);
        const int error = got > 0 ? SSL_ERROR_NONE : SSL_get_error(m_session.get(), got);
        m_plaintext.resize(at + std::max(got, 0));
        if (error == SSL_ERROR_NONE)
            continue;
        if (error != SSL_ERROR_WANT_READ) {
            end(error == SSL_ERROR_ZERO_RETURN ? Session::PeerClosed : Session::Failed);
            break;
        }
        if (m_socket->bytesAvailable() == 0)
            break;
        const QByteArray ciphertext = m_socket->read(kCiphertextBlock);
        if (BIO_write(SSL_get_rbio(m_session.get()), ciphertext.constData(), int(ciphertext.size())) !=
            int(ciphertext.size())) {
            end(Session::Failed);
            break;
        }
    }
    sendPending(); // handshake messages, alerts, session tickets
    return m_plaintext.size() > before;
}

void TlsServerSocket::sendPending()
{
    BIO *outgoing = SSL_get_wbio(m_session.get());
    const size_t pending = BIO_ctrl_pending(outgoing);
    if (pending == 0)
        return;
    QByteArray ciphertext(qsizetype(pending), Qt::Uninitialized);
    const int taken = BIO_read(outgoing, ciphertext.data(), int(pending));
    if (taken > 0 && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(ciphertext.constData(), taken);
}

void TlsServerSocket::end(Session session)
{
    if (m_state != Session::Open)
        return;
    m_state = session;
    setErrorString(session == Session::PeerClosed ? QStringLiteral("the client closed the TLS session")
                                                  : takeOpenSslError(QStringLiteral("the TLS session failed")));
    ERR_clear_error();
    // From the event loop: this may run inside the reader's read or write.
    QMetaObject::invokeMethod(this, &TlsServerSocket::disconnectFromHost, Qt::QueuedConnection);
}

} // namespace ORVIK
