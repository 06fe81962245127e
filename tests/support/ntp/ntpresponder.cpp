#include "tests/support/ntp/ntpresponder.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

#include <chrono>

namespace ORVIK {

namespace {

constexpr quint64 kEpochOffsetSeconds = 2208988800u; // 1900 to 1970
constexpr qint64 kNanosecondsPerSecond = 1000000000;

// Server mode (4), version 4, no leap warning; stratum 1 with a four-letter reference id.
constexpr char kServerModeVersion4 = 0x24;
constexpr char kStratum = 1;
constexpr char kPrecision = -20; // about a microsecond

} // namespace

NtpResponder::NtpResponder(QObject *parent) : QObject(parent)
{
    answerNormally();
}

NtpResponder::~NtpResponder() = default;

bool NtpResponder::listen(const QHostAddress &address, quint16 port)
{
    if (!address.isLoopback()) {
        m_error = QStringLiteral("only loopback addresses are served");
        return false;
    }
    delete m_socket;
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(address, port)) {
        m_error = m_socket->errorString();
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &NtpResponder::readPending);
    return true;
}

QHostAddress NtpResponder::address() const
{
    return m_socket ? m_socket->localAddress() : QHostAddress();
}

quint16 NtpResponder::port() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void NtpResponder::answerNormally()
{
    m_script = [](const QByteArray &request) {
        const quint64 received = now();
        return QList<QByteArray>{answer(request, received, now())};
    };
}

void NtpResponder::staySilent()
{
    m_script = [](const QByteArray &) { return QList<QByteArray>(); };
}

void NtpResponder::sendDatagrams(const QList<QByteArray> &datagrams)
{
    m_script = [datagrams](const QByteArray &) { return datagrams; };
}

void NtpResponder::setScript(Script script)
{
    m_script = std::move(script);
}

void NtpResponder::relayTo(const QHostAddress &server, quint16 port)
{
    m_upstream = server;
    m_upstreamPort = port;
}

bool NtpResponder::sendTo(const QByteArray &datagram, const QHostAddress &address, quint16 port)
{
    return m_socket && m_socket->writeDatagram(datagram, address, port) == datagram.size();
}

void NtpResponder::readPending()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        if (!datagram.isValid())
            continue;
        const QHostAddress sender = datagram.senderAddress();
        const auto senderPort = static_cast<quint16>(datagram.senderPort());
        if (m_upstreamPort != 0 && senderPort == m_upstreamPort && sender.isEqual(m_upstream)) {
            m_relayedReplies.append(datagram.data());
            if (!m_requests.isEmpty())
                sendTo(datagram.data(), m_requests.constLast().sender, m_requests.constLast().senderPort);
            Q_EMIT replyRelayed();
            continue;
        }
        m_requests.append({datagram.data(), sender, senderPort});
        if (m_upstreamPort != 0) {
            sendTo(datagram.data(), m_upstream, m_upstreamPort);
        } else {
            // Every scripted datagram is written before the loop returns, so they leave as one burst.
            for (const QByteArray &reply : m_script(datagram.data()))
                sendTo(reply, sender, senderPort);
        }
        Q_EMIT requestReceived();
    }
}

QByteArray NtpResponder::answer(const QByteArray &request, quint64 receiveTimestamp, quint64 transmitTimestamp)
{
    QByteArray reply(kHeaderSize, '\0');
    reply[0] = kServerModeVersion4;
    reply[1] = kStratum;
    reply[2] = request.size() > 2 ? request[2] : char(0); // the client's poll interval
    reply[3] = kPrecision;
    reply.replace(12, 4, "LOOP");
    setTimestamp(reply, 16, receiveTimestamp); // reference: the clock was "set" just now
    if (request.size() >= kHeaderSize)
        setTimestamp(reply, kOriginOffset, timestampAt(request, kTransmitOffset));
    setTimestamp(reply, kReceiveOffset, receiveTimestamp);
    setTimestamp(reply, kTransmitOffset, transmitTimestamp);
    return reply;
}

quint64 NtpResponder::now()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return timestampFromNanoseconds(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
}

quint64 NtpResponder::timestampFromNanoseconds(qint64 nanoseconds)
{
    // Floor division, so that times before 1970 land on the right second.
    qint64 seconds = nanoseconds / kNanosecondsPerSecond;
    qint64 rest = nanoseconds % kNanosecondsPerSecond;
    if (rest < 0) {
        --seconds;
        rest += kNanosecondsPerSecond;
    }
    const quint64 fraction = (static_cast<quint64>(rest) << 32) / kNanosecondsPerSecond;
    return (static_cast<quint64>(seconds + static_cast<qint64>(kEpochOffsetSeconds)) << 32) | fraction;
}

qint64 NtpResponder::nanosecondsFromTimestamp(quint64 timestamp)
{
    const qint64 seconds = static_cast<qint64>(timestamp >> 32) - static_cast<qint64>(kEpochOffsetSeconds);
    const qint64 part = static_cast<qint64>(((timestamp & 0xFFFFFFFFu) * kNanosecondsPerSecond) >> 32);
    return seconds * kNanosecondsPerSecond + part;
}

quint64 NtpResponder::timestampAt(const QByteArray &packet, int offset)
{
    Q_ASSERT(offset + 8 <= packet.size());
    return qFromBigEndian<quint64>(packet.constData() + offset);
}

void NtpResponder::setTimestamp(QByteArray &packet, int offset, quint64 timestamp)
{
    Q_ASSERT(offset + 8 <= packet.size());
    qToBigEndian<quint64>(timestamp, packet.data() + offset);
}

} // namespace ORVIK
