#include "time/ntpclient.h"

#include "time/ntptimestamp.h"

#include <QHostInfo>
#include <QPointer>
#include <QUdpSocket>

namespace ORVIK {

namespace {

// The request's first byte: leap indicator 0, version 4, mode 3 (client).
constexpr uint8_t kClientModeVersion4 = 0x23;
// Ports tried after the first one: receivePort + 1, receivePort + 2.
constexpr int kExtraBindAttempts = 2;

} // namespace

NtpClient::NtpClient()
{
    registerMetaTypes();
    lastReply.receiveTime = Time();
}

NtpClient::~NtpClient()
{
    // Explicitly, not only through the parent, so the port is released before the base is gone.
    delete socket;
}

void NtpClient::registerMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<NtpReply>("ORVIK::NtpReply");
        qRegisterMetaType<Time>("ORVIK::Time");
        qRegisterMetaType<QHostAddress>();
        return true;
    }();
    Q_UNUSED(registered);
}

Time NtpClient::serverTime() const
{
    return lastReply.originTime();
}

Time NtpClient::txTime() const
{
    return lastReply.transmitTime();
}

Time NtpClient::rxTime() const
{
    return lastReply.receiveTime;
}

void NtpClient::lookupCompleted(const QHostInfo &info, uint16_t receivePort, uint16_t serverPort)
{
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        Q_EMIT errorOccurredSignal(0);
        return;
    }
    bool bound = bindSocket(QHostAddress::Any, receivePort);
    for (int attempt = 1; !bound && attempt <= kExtraBindAttempts; ++attempt)
        bound = bindSocket(QHostAddress::Any, static_cast<uint16_t>(receivePort + attempt));
    if (!bound) {
        Q_EMIT errorOccurredSignal(0);
        return;
    }
    // Only the first address is tried. A refused send is reported by the socket's own error signal.
    sendRequest(info.addresses().constFirst(), serverPort);
}

bool NtpClient::bindSocket(const QHostAddress &address, uint16_t port)
{
    auto *fresh = new QUdpSocket(this);
    delete socket;
    socket = fresh;
    if (!socket->bind(address, port))
        return false;
    connect(socket, &QUdpSocket::readyRead, this, &NtpClient::readPendingDatagrams);
    connect(socket, &QUdpSocket::errorOccurred, this, &NtpClient::socketFailed);
    return true;
}

bool NtpClient::sendRequest(const QHostAddress &address, uint16_t port)
{
    uint8_t request[NtpReply::kHeaderSize] = {};
    request[0] = kClientModeVersion4;
    NtpTimestamp::fromTime(Time::SystemTime()).write(request + NtpReply::kTransmitTimestampOffset);
    return socket->writeDatagram(reinterpret_cast<const char *>(request), sizeof request, address, port) >= 0;
}

void NtpClient::socketFailed(QAbstractSocket::SocketError)
{
    Q_EMIT errorOccurredSignal(0);
}

void NtpClient::readPendingDatagrams()
{
    // A receiver may delete this client from its slot; stop reading if it does.
    const QPointer<NtpClient> alive(this);
    while (socket->hasPendingDatagrams()) {
        char datagram[NtpReply::kPacketSize];
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = socket->readDatagram(datagram, sizeof datagram, &sender, &senderPort);
        if (!lastReply.store(datagram, size, Time::SystemTime()))
            continue; // too short to be a reply, or a failed read
        NtpReply reply = lastReply;
        reply.receiveTime = Time::SystemTime(); // a second reading, after the stored one
        Q_EMIT replyReceived(sender, senderPort, reply);
        if (!alive)
            return;
        Q_EMIT finishedSignal();
        if (!alive)
            return;
    }
}

} // namespace ORVIK
