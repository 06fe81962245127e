#include "time/ntpclient.h"

#include "time/ntppacket.h"
#include "time/ntptimestamp.h"

#include <QHostInfo>
#include <QPointer>
#include <QUdpSocket>

namespace ORVIK {

namespace {

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
    if (!socket)
        return;
    socket->disconnect(this);
    if (socketSignalDepth == 0) {
        // Explicitly, not only through the parent, so the port is released before the base is gone.
        delete socket;
        return;
    }
    // Deleted from a handler of the socket's own signal: the socket still runs the code that
    // emitted it, so it is closed now (the port is free at once) and deleted once that code is done.
    socket->setParent(nullptr);
    socket->close();
    socket->deleteLater();
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

QByteArray NtpClient::replyDatagram() const
{
    if (!lastReply.receiveTime.isSet())
        return {};
    return QByteArray(reinterpret_cast<const char *>(lastReply.packet), sizeof lastReply.packet);
}

void NtpClient::fail(const QString &why)
{
    reason = why;
    Q_EMIT errorOccurredSignal(0);
}

void NtpClient::lookupCompleted(const QHostInfo &info, uint16_t receivePort, uint16_t serverPort)
{
    if (info.error() != QHostInfo::NoError)
        return fail(QStringLiteral("cannot resolve %1: %2").arg(info.hostName(), info.errorString()));
    if (info.addresses().isEmpty())
        return fail(QStringLiteral("%1 has no address").arg(info.hostName()));
    bool bound = bindSocket(QHostAddress::Any, receivePort);
    for (int attempt = 1; !bound && attempt <= kExtraBindAttempts; ++attempt)
        bound = bindSocket(QHostAddress::Any, static_cast<uint16_t>(receivePort + attempt));
    if (!bound) {
        const auto last = static_cast<uint16_t>(receivePort + kExtraBindAttempts);
        if (socket->error() == QAbstractSocket::AddressInUseError)
            return fail(QStringLiteral("local UDP ports %1 to %2 are all in use").arg(receivePort).arg(last));
        return fail(QStringLiteral("cannot bind local UDP ports %1 to %2: %3")
                        .arg(receivePort)
                        .arg(last)
                        .arg(socket->errorString()));
    }
    // Only the first address is tried. A refused send is reported by the socket's own error signal.
    sendRequest(info.addresses().constFirst(), serverPort);
}

bool NtpClient::bindSocket(const QHostAddress &address, uint16_t port)
{
    auto *fresh = new QUdpSocket(this);
    delete socket;
    socket = fresh;
    // Windows' default lets a later socket that asks for SO_REUSEADDR bind the same port and take the
    // replies meant for this client: exclusive there (SO_EXCLUSIVEADDRUSE). Elsewhere Qt only leaves
    // SO_REUSEADDR off, as a new UDP socket has it.
    if (!socket->bind(address, port, QAbstractSocket::DontShareAddress))
        return false;
    connect(socket, &QUdpSocket::readyRead, this, &NtpClient::readPendingDatagrams);
    connect(socket, &QUdpSocket::errorOccurred, this, &NtpClient::socketFailed);
    return true;
}

bool NtpClient::sendRequest(const QHostAddress &address, uint16_t port)
{
    uint8_t request[NtpPacket::kHeaderSize] = {};
    request[0] = NtpPacket::firstByte(0, NtpPacket::kClientMode);
    stampReading = Time::SystemTime();
    NtpTimestamp::fromTime(stampReading).write(request + NtpPacket::kTransmitOffset);
    // A refused send reports the socket's error at once, and its receiver may delete this client.
    const QPointer<NtpClient> alive(this);
    const bool sent =
        socket->writeDatagram(reinterpret_cast<const char *>(request), sizeof request, address, port) >= 0;
    const Time after = Time::SystemTime();
    if (alive)
        sentReading = after;
    return sent;
}

void NtpClient::socketFailed(QAbstractSocket::SocketError)
{
    const QPointer<NtpClient> alive(this);
    ++socketSignalDepth;
    fail(QStringLiteral("the UDP socket reported an error"));
    if (alive)
        --socketSignalDepth;
}

void NtpClient::readPendingDatagrams()
{
    // A receiver may delete this client from its slot; stop reading if it does.
    const QPointer<NtpClient> alive(this);
    ++socketSignalDepth;
    readDatagrams(alive);
    if (alive)
        --socketSignalDepth;
}

void NtpClient::readDatagrams(const QPointer<NtpClient> &alive)
{
    while (socket->hasPendingDatagrams()) {
        char datagram[NtpPacket::kSize];
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
