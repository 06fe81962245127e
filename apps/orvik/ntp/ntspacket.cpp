#include "apps/orvik/ntp/ntspacket.h"

#include "apps/orvik/ntp/ntsaead.h"
#include "apps/orvik/ntp/ntskerecords.h"
#include "time/ntppacket.h"

#include <QtEndian>

#include <optional>

namespace ORVIK::NtsPacket {

namespace {

enum FieldType : uint16_t {
    UniqueIdentifier = 0x0104,
    Cookie = 0x0204,
    CookiePlaceholder = 0x0304,
    Authenticator = 0x0404,
};
constexpr int kFieldHeaderSize = 4;
constexpr uint32_t kNtsNakCode = 0x4E54534E; // "NTSN"

int padded(int size)
{
    return (size + 3) & ~3;
}

void append16(QByteArray &out, int value)
{
    out.append(char((value >> 8) & 0xFF)).append(char(value & 0xFF));
}

void appendField(QByteArray &out, uint16_t type, const QByteArray &body)
{
    append16(out, type);
    append16(out, kFieldHeaderSize + padded(int(body.size())));
    out.append(body);
    out.append(padded(int(body.size())) - int(body.size()), '\0');
}

uint16_t read16(const QByteArray &bytes, int offset)
{
    return qFromBigEndian<quint16>(bytes.constData() + offset);
}

struct Field
{
    uint16_t type = 0;
    int offset = 0; // of its header in the datagram
    QByteArray body;
};

// The extension fields after `start`, or nothing when any of them does not fit: each is a multiple of
// 4 bytes, at least its header, and within the datagram.
std::optional<QList<Field>> fields(const QByteArray &bytes, int start)
{
    QList<Field> out;
    int offset = start;
    while (offset < bytes.size()) {
        if (bytes.size() - offset < kFieldHeaderSize)
            return std::nullopt;
        const int length = read16(bytes, offset + 2);
        if (length < kFieldHeaderSize || length % 4 != 0 || length > bytes.size() - offset)
            return std::nullopt;
        out << Field{read16(bytes, offset), offset, bytes.mid(offset + kFieldHeaderSize, length - kFieldHeaderSize)};
        offset += length;
    }
    return out;
}

Verdict verdict(Verdict::Kind kind, const QString &reason)
{
    return Verdict{kind, reason, {}};
}

} // namespace

Request request(const QByteArray &header, const QByteArray &cookie, const QByteArray &c2sKey,
                const QByteArray &uniqueId, const QByteArray &nonce)
{
    Request out;
    out.uniqueId = uniqueId;
    QByteArray datagram = header;
    appendField(datagram, UniqueIdentifier, uniqueId);
    appendField(datagram, Cookie, cookie);
    // OpenSSL's SIV cannot seal an empty plaintext, so one field travels encrypted: a placeholder for
    // the cookie that this request spends. It only asks for one more cookie, which the pool keeps.
    QByteArray encrypted;
    appendField(encrypted, CookiePlaceholder, QByteArray(cookie.size(), '\0'));
    const std::optional<QByteArray> sealed = NtsAead::seal(c2sKey, {datagram, nonce}, encrypted);
    if (!sealed)
        return out;
    QByteArray body;
    append16(body, int(nonce.size()));
    append16(body, int(sealed->size()));
    body.append(nonce).append(padded(int(nonce.size())) - int(nonce.size()), '\0');
    body.append(*sealed);
    appendField(datagram, Authenticator, body);
    out.datagram = datagram;
    return out;
}

Verdict verify(const QByteArray &reply, const Request &request, const QByteArray &s2cKey)
{
    using Kind = Verdict::Kind;
    if (reply.size() < NtpPacket::kHeaderSize || request.datagram.size() < NtpPacket::kHeaderSize)
        return verdict(Kind::Stray, QStringLiteral("it is shorter than an NTP header"));
    const std::optional<QList<Field>> parsed = fields(reply, NtpPacket::kHeaderSize);
    if (!parsed)
        return verdict(Kind::Forged, QStringLiteral("its extension fields are malformed"));
    const Field *uniqueId = nullptr;
    const Field *authenticator = nullptr;
    for (const Field &field : *parsed) {
        if (field.type == UniqueIdentifier) {
            if (uniqueId)
                return verdict(Kind::Forged, QStringLiteral("it carries two unique identifiers"));
            uniqueId = &field;
        } else if (field.type == Authenticator) {
            if (authenticator)
                return verdict(Kind::Forged, QStringLiteral("it carries two authenticators"));
            authenticator = &field;
        }
    }
    // Anyone can send to our port, and an old reply can be sent again: only our identifier, fresh
    // for each request, ties a reply to this request.
    if (!uniqueId || uniqueId->body != request.uniqueId)
        return verdict(Kind::Stray, QStringLiteral("it does not echo our unique identifier"));
    if (reply.mid(NtpPacket::kOriginOffset, 8) != request.datagram.mid(NtpPacket::kTransmitOffset, 8))
        return verdict(Kind::Stray, QStringLiteral("its origin timestamp is not our request's transmit timestamp"));
    const uint8_t stratum = uint8_t(reply[NtpPacket::kStratumOffset]);
    if (!authenticator) {
        if (stratum == 0 && qFromBigEndian<quint32>(reply.constData() + NtpPacket::kReferenceIdOffset) == kNtsNakCode)
            return verdict(Kind::NtsNak, QStringLiteral("kiss-o'-death NTSN: the server does not take our cookie"));
        return verdict(Kind::Forged, QStringLiteral("it has no NTS authenticator"));
    }
    if (authenticator != &parsed->constLast())
        return verdict(Kind::Forged, QStringLiteral("extension fields follow its authenticator"));
    const QByteArray &body = authenticator->body;
    if (body.size() < 4)
        return verdict(Kind::Forged, QStringLiteral("its authenticator is malformed"));
    const int nonceLength = read16(body, 0);
    const int sealedLength = read16(body, 2);
    if (nonceLength == 0 || sealedLength < NtsAead::kTagSize ||
        4 + padded(nonceLength) + padded(sealedLength) > body.size())
        return verdict(Kind::Forged, QStringLiteral("its authenticator is malformed"));
    const QByteArray nonce = body.mid(4, nonceLength);
    const QByteArray sealed = body.mid(4 + padded(nonceLength), sealedLength);
    const std::optional<QByteArray> plaintext =
        NtsAead::open(s2cKey, {reply.left(authenticator->offset), nonce}, sealed);
    if (!plaintext)
        return verdict(Kind::Forged, QStringLiteral("it does not authenticate with the server's key"));
    const std::optional<QList<Field>> inner = fields(*plaintext, 0);
    if (!inner)
        return verdict(Kind::Forged, QStringLiteral("its encrypted extension fields are malformed"));
    Verdict out = verdict(Kind::Authentic, {});
    for (const Field &field : *inner) {
        // Cookie bodies are padded to 4 bytes by their field; a server sizes them so that none is needed.
        if (field.type == Cookie && !field.body.isEmpty() && field.body.size() <= NtsKeRecords::kMaximumCookieSize &&
            out.newCookies.size() < NtsKeRecords::kMaximumCookies)
            out.newCookies << field.body;
    }
    return out;
}

} // namespace ORVIK::NtsPacket
