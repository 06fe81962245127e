#include "loopback/ntpresponder.h"

#include "time/ntppacket.h"
#include "time/ntptimestamp.h"

#include <chrono>

namespace ORVIK {

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
        QNetworkDatagram datagram = m_socket.receiveDatagram();
        // An empty datagram asks nothing: orvik's probe of whether the port is open.
        if (datagram.data().isEmpty())
            continue;
        m_requests.append(std::move(datagram));
        const QNetworkDatagram &request = m_requests.constLast();
        // All written before the loop returns, so they leave as one burst.
        for (const QByteArray &reply : m_script ? m_script(request.data()) : QList<QByteArray>())
            m_socket.writeDatagram(request.makeReply(reply));
        Q_EMIT requestReceived();
    }
}

QByteArray NtpResponder::answer(const QByteArray &request, quint64 receiveTimestamp, quint64 transmitTimestamp)
{
    using namespace NtpPacket;
    QByteArray reply(kHeaderSize, '\0');
    reply[0] = char(firstByte(0, kServerMode));
    reply[kStratumOffset] = 1; // a primary server, whose reference is its local clock
    reply.replace(kReferenceIdOffset, 4, "LOCL");
    reply[kPrecisionOffset] = char(kPrecision);
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
    return NtpTimestamp::fromNanoseconds(nanoseconds).bits();
}

quint64 NtpResponder::timestampAt(const QByteArray &packet, int offset)
{
    return NtpTimestamp::read(reinterpret_cast<const uint8_t *>(packet.constData()) + offset).bits();
}

void NtpResponder::setTimestamp(QByteArray &packet, int offset, quint64 timestamp)
{
    NtpTimestamp::fromBits(timestamp).write(reinterpret_cast<uint8_t *>(packet.data()) + offset);
}

} // namespace ORVIK
