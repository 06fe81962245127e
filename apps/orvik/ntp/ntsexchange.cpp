#include "apps/orvik/ntp/ntsexchange.h"

#include "apps/orvik/ntp/ntskeyexchange.h"
#include "host/base/orviktime.h"
#include "time/ntptimestamp.h"

#include <QNetworkDatagram>

#include <openssl/rand.h>

#include <algorithm>

namespace ORVIK {

namespace {

// Far more than an NTS reply with a few cookies; a longer one is cut and then fails to authenticate.
constexpr int kMaximumDatagram = 8192;
constexpr int64_t kNanosecondsPerMillisecond = 1000000;
// The pool never needs more than a run can spend.
constexpr int kMaximumPooledCookies = 16;

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), size) != 1)
        return {};
    return bytes;
}

} // namespace

NtsExchange::NtsExchange(QObject *parent) : TimeExchange(parent)
{}

NtsExchange::~NtsExchange() = default;

void NtsExchange::fail(const QString &why)
{
    m_failureReason = why;
    // finish() reports from the event loop, as the module's requests do.
    finish(Outcome::Failed);
}

void NtsExchange::start(const std::shared_ptr<NtsSession> &session, const QHostAddress &address, uint16_t port,
                        int timeoutMs)
{
    m_session = session;
    m_address = address;
    m_port = port;
    if (m_session->cookies.isEmpty())
        return fail(QStringLiteral("no NTS cookie is left"));
    const QHostAddress any = address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(QHostAddress::AnyIPv6)
                                                                                 : QHostAddress(QHostAddress::AnyIPv4);
    if (!m_socket.bind(any, 0))
        return fail(QStringLiteral("cannot open a UDP socket: %1").arg(m_socket.errorString()));
    connect(&m_socket, &QUdpSocket::readyRead, this, &NtsExchange::readReplies);

    const QByteArray uniqueId = randomBytes(NtsPacket::kUniqueIdSize);
    const QByteArray nonce = randomBytes(NtsPacket::kNonceSize);
    if (uniqueId.isEmpty() || nonce.isEmpty())
        return fail(QStringLiteral("the system gives no random bytes"));
    // The transmit time is a whole-millisecond reading, as the module's client stamps its own: the
    // reply's checks then hold for both kinds of request.
    m_exchange.sentAfter = Time::SystemTime().nanoseconds();
    const int64_t stamp = m_exchange.sentAfter / kNanosecondsPerMillisecond * kNanosecondsPerMillisecond;
    QByteArray header(NtpPacket::kHeaderSize, '\0');
    header[0] = char(NtpPacket::firstByte(0, NtpPacket::kClientMode));
    NtpTimestamp::fromNanoseconds(stamp).write(reinterpret_cast<uint8_t *>(header.data()) + NtpPacket::kTransmitOffset);
    m_request = NtsPacket::request(header, m_session->cookies.takeFirst(), m_session->c2sKey, uniqueId, nonce);
    if (m_request.datagram.isEmpty())
        return fail(QStringLiteral("cannot seal the request (OpenSSL has no AES-128-SIV)"));
    if (m_socket.writeDatagram(m_request.datagram, address, port) != m_request.datagram.size())
        return fail(QStringLiteral("cannot send: %1").arg(m_socket.errorString()));
    m_exchange.sentBefore = Time::SystemTime().nanoseconds();
    startTimeout(timeoutMs);
}

void NtsExchange::readReplies()
{
    while (!done() && m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram(kMaximumDatagram);
        const int64_t received = Time::SystemTime().nanoseconds();
        // Only the server's address and port can answer; anything else is not even a claim.
        if (datagram.senderPort() != m_port ||
            !datagram.senderAddress().isEqual(m_address, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        take(datagram.data(), received);
    }
}

void NtsExchange::take(const QByteArray &datagram, int64_t received)
{
    const NtsPacket::Verdict verdict = NtsPacket::verify(datagram, m_request, m_session->s2cKey);
    switch (verdict.kind) {
    case NtsPacket::Verdict::Kind::Authentic:
        break;
    case NtsPacket::Verdict::Kind::NtsNak:
        m_ntsNak = true;
        m_refusal = verdict.reason;
        return;
    case NtsPacket::Verdict::Kind::Stray:
    case NtsPacket::Verdict::Kind::Forged:
        m_refusal = verdict.reason;
        return;
    }
    NtpExchange exchange = m_exchange;
    std::copy_n(datagram.constData(), exchange.packet.size(), exchange.packet.begin());
    exchange.received = received;
    NtpVerdict judged = judgeExchange(exchange);
    if (judged.kind == NtpVerdict::Kind::Stray) {
        m_refusal = judged.reason;
        return;
    }
    for (const QByteArray &cookie : verdict.newCookies) {
        if (m_session->cookies.size() < kMaximumPooledCookies)
            m_session->cookies << cookie;
    }
    m_exchange = exchange;
    m_verdict = std::move(judged);
    finish(Outcome::Replied);
}

} // namespace ORVIK
