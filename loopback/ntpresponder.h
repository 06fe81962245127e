#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QObject>
#include <QUdpSocket>

#include <functional>

namespace ORVIK {

// A scripted NTP server on a loopback UDP port, for tests and `orvik demo`. By default each request gets
// one reply of a synchronised stratum-1 server ("LOCL") that echoes the request's transmit timestamp as
// its origin and carries the responder's clock as receive and transmit time. Timestamps are 64-bit NTP
// values (seconds since 1900 in the high half); layout and conversions are the shared wire library's.
class NtpResponder : public QObject
{
    Q_OBJECT
public:
    // The datagrams sent back, as one burst, to the sender of one request; a null script answers nothing.
    using Script = std::function<QList<QByteArray>(const QByteArray &request)>;

    explicit NtpResponder(QObject *parent = nullptr);

    // Binds 127.0.0.1 or ::1 on the port (by default an ephemeral one); false with errorString() otherwise.
    bool listen(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0)
    {
        return address.isLoopback() && m_socket.bind(address, port);
    }
    // Stops listening: the port refuses what comes (ICMP port unreachable). address() and port() still
    // name it.
    void close()
    {
        m_closedAddress = address();
        m_closedPort = port();
        m_socket.close();
    }
    QHostAddress address() const { return m_closedPort ? m_closedAddress : m_socket.localAddress(); }
    quint16 port() const { return m_closedPort ? m_closedPort : m_socket.localPort(); }
    QString errorString() const { return m_socket.errorString(); }

    void setScript(Script script) { m_script = std::move(script); }
    // Every request received (every datagram but the empty ones), in order, with its sender.
    const QList<QNetworkDatagram> &requests() const noexcept { return m_requests; }

    // A server reply to the request: origin = the request's transmit timestamp, receive and transmit as given.
    static QByteArray answer(const QByteArray &request, quint64 receiveTimestamp, quint64 transmitTimestamp);
    // The clock's resolution as a reply states it, 2^-29 s: whole nanoseconds, as the system clock gives.
    static constexpr int kPrecision = -29;
    // The system clock now, and a time at or after 1970 given in nanoseconds, as NTP timestamps.
    static quint64 now();
    static quint64 timestampFromNanoseconds(qint64 nanoseconds);
    // Big-endian access to the timestamp at a byte offset of a packet.
    static quint64 timestampAt(const QByteArray &packet, int offset);
    static void setTimestamp(QByteArray &packet, int offset, quint64 timestamp);

Q_SIGNALS:
    // A datagram was recorded (requests().last()) and the script's answer, if any, sent.
    void requestReceived();

private:
    void readPending();

    QUdpSocket m_socket;
    Script m_script;
    QList<QNetworkDatagram> m_requests;
    QHostAddress m_closedAddress;
    quint16 m_closedPort = 0;
};

} // namespace ORVIK
