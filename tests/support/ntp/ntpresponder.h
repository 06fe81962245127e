#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QUdpSocket;

namespace ORVIK {

// A scripted NTP server on a loopback UDP port, for tests and `orvik demo`.
//
//   NtpResponder responder;
//   responder.listen(QHostAddress::LocalHostIPv6);  // or LocalHost (the default): replies come from that family
//   responder.answerNormally();                     // the default: one server reply per request
//   responder.staySilent();                         // record requests, answer nothing
//   responder.sendDatagrams({a, b});                // answer each request with these datagrams, in order
//   responder.setScript([](const QByteArray &request) { ... return QList<QByteArray>{...}; });
//   responder.relayTo(server, port);                // pass requests to a real server and its replies back
//   responder.sendTo(bytes, address, port);         // an unprompted datagram
//   responder.requests();                           // every datagram received: bytes and sender
//
// A normal reply echoes the request's transmit timestamp as its origin timestamp and carries the
// responder's own clock, at full resolution, as receive and transmit timestamps. Timestamps here are
// 64-bit NTP values (seconds since 1900 in the high half, 2^-32 s units in the low half), computed
// independently of the module's own conversion so that tests compare two implementations.
// Everything runs on the event loop of the thread that owns the responder.
class NtpResponder : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray bytes;
        QHostAddress sender;
        quint16 senderPort = 0;
    };
    // The datagrams to send back to the sender of one request; an empty list sends nothing.
    using Script = std::function<QList<QByteArray>(const QByteArray &request)>;

    static constexpr int kHeaderSize = 48;
    static constexpr int kOriginOffset = 24;
    static constexpr int kReceiveOffset = 32;
    static constexpr int kTransmitOffset = 40;

    explicit NtpResponder(QObject *parent = nullptr);
    ~NtpResponder() override;

    // Binds a loopback address (127.0.0.1 or ::1) on the port, by default an ephemeral one; false with
    // errorString() otherwise. Listening again replaces the previous socket.
    bool listen(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0);
    QHostAddress address() const;
    quint16 port() const;
    QString errorString() const { return m_error; }

    void answerNormally();
    void staySilent();
    void sendDatagrams(const QList<QByteArray> &datagrams);
    void setScript(Script script);
    // Forwards every request to an upstream server (scripts are not consulted) and each datagram that
    // comes back from it to the sender of the latest request. Both directions are recorded.
    void relayTo(const QHostAddress &server, quint16 port);
    const QList<QByteArray> &relayedReplies() const noexcept { return m_relayedReplies; }

    // Sends one datagram from the responder's port; false if the socket refused it.
    bool sendTo(const QByteArray &datagram, const QHostAddress &address, quint16 port);

    const QList<Request> &requests() const noexcept { return m_requests; }

    // A server-mode reply to the request: origin = the request's transmit timestamp (zero if the request
    // is shorter than a header), receive and transmit as given.
    static QByteArray answer(const QByteArray &request, quint64 receiveTimestamp, quint64 transmitTimestamp);
    // The system clock now, and any time given as nanoseconds since 1970, as NTP timestamps.
    static quint64 now();
    static quint64 timestampFromNanoseconds(qint64 nanoseconds);
    // Nanoseconds since 1970 of an NTP timestamp, rounded down.
    static qint64 nanosecondsFromTimestamp(quint64 timestamp);
    // Big-endian access to the timestamp at a byte offset of a packet.
    static quint64 timestampAt(const QByteArray &packet, int offset);
    static void setTimestamp(QByteArray &packet, int offset, quint64 timestamp);

Q_SIGNALS:
    // A datagram arrived and was recorded (requests().last()); the script's reply, if any, is already sent.
    void requestReceived();
    // A datagram from the upstream server was recorded (relayedReplies().last()) and passed on.
    void replyRelayed();

private:
    void readPending();

    QUdpSocket *m_socket = nullptr;
    Script m_script;
    QList<Request> m_requests;
    QHostAddress m_upstream;
    quint16 m_upstreamPort = 0;
    QList<QByteArray> m_relayedReplies;
    QString m_error;
};

} // namespace ORVIK
