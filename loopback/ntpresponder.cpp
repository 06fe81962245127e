#include "loopback/ntpresponder.h"

#include <QtEndian>

#include <chrono>

namespace ORVIK {

constexpr qint64 kNanosecondsPerSecond = 1000000000;
constexpr quint64 kEpochOffsetSeconds = 2208988800u; // 1900 to 1970

NtpResponder::NtpResponder(QObject *parent)
    : QObject(parent), m_script([](const QByteArray &request) {
          const quint64 received = now(); // read first: a reply is sent after its request came
          return QList<QByteArray>{answer(request, received, now())};
      })
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &NtpResponder::readPending);
}

void NtpResponder::readPending()
{
    while (m_socket.hasPendingDatagrams()) {
        m_requests.append(m_socket.receiveDatagram());
        const QNetworkDatagram &request = m_requests.constLast();
        // All written before the loop returns, so they leave as one burst.
        for (const QByteArray &reply : m_script ? m_script(request.data()) : QList<QByteArray>())
            m_socket.writeDatagram(request.makeReply(reply));
        Q_EMIT requestReceived();
    }
}

QByteArray NtpResponder::answer(const QByteArray &request, quint64 receiveTimestamp, quint64 transmitTimestamp)
{
    QByteArray reply(48, '\0');
    reply[0] = 0x24; // no leap second, version 4, server mode
    reply[1] = 1;    // stratum 1: a primary server, whose reference is its local clock
    reply.replace(kReferenceIdOffset, 4, "LOCL");
    reply[3] = char(kPrecision);
    if (request.size() >= 48)
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
    const quint64 seconds = quint64(nanoseconds / kNanosecondsPerSecond) + kEpochOffsetSeconds;
    return seconds << 32 | (quint64(nanoseconds % kNanosecondsPerSecond) << 32) / kNanosecondsPerSecond;
}

quint64 NtpResponder::timestampAt(const QByteArray &packet, int offset)
{
    return qFromBigEndian<quint64>(packet.constData() + offset);
}

void NtpResponder::setTimestamp(QByteArray &packet, int offset, quint64 timestamp)
{
    qToBigEndian<quint64>(timestamp, packet.data() + offset);
}

} // namespace ORVIK
