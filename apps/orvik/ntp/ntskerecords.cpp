#include "apps/orvik/ntp/ntskerecords.h"

#include <QHostAddress>
#include <QtEndian>

namespace ORVIK::NtsKeRecords {

namespace {

enum RecordType : uint16_t {
    EndOfMessage = 0,
    NextProtocol = 1,
    Error = 2,
    Warning = 3,
    AeadAlgorithm = 4,
    NewCookie = 5,
    ServerNegotiation = 6,
    PortNegotiation = 7,
};
constexpr uint16_t kCritical = 0x8000;
constexpr int kRecordHeaderSize = 4;
// A host name is at most 253 characters.
constexpr int kMaximumServerSize = 253;

void append16(QByteArray &out, uint16_t value)
{
    out.append(char(value >> 8)).append(char(value & 0xFF));
}

void appendRecord(QByteArray &out, uint16_t type, const QByteArray &body)
{
    append16(out, type);
    append16(out, uint16_t(body.size()));
    out.append(body);
}

uint16_t read16(const QByteArray &bytes, int offset)
{
    return qFromBigEndian<quint16>(bytes.constData() + offset);
}

// A host name in letters, digits, '-' and '.', or an address: anything else could not have come from
// an honest server and is not something to print or look up.
bool plausibleServer(const QByteArray &body)
{
    if (body.isEmpty() || body.size() > kMaximumServerSize)
        return false;
    if (!QHostAddress(QString::fromLatin1(body)).isNull())
        return true;
    for (const char c : body) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != '-' && c != '.')
            return false;
    }
    return true;
}

QString errorName(uint16_t code)
{
    switch (code) {
    case 0:
        return QStringLiteral("unrecognized critical record");
    case 1:
        return QStringLiteral("bad request");
    case 2:
        return QStringLiteral("internal server error");
    default:
        return QStringLiteral("code %1").arg(code);
    }
}

Parsed refused(const QString &reason)
{
    Parsed parsed;
    parsed.status = Parsed::Status::Refused;
    parsed.reason = reason;
    return parsed;
}

} // namespace

QByteArray request()
{
    QByteArray out;
    QByteArray protocol;
    append16(protocol, kNtpV4);
    appendRecord(out, kCritical | NextProtocol, protocol);
    QByteArray aead;
    append16(aead, kAesSivCmac256);
    appendRecord(out, kCritical | AeadAlgorithm, aead);
    appendRecord(out, kCritical | EndOfMessage, {});
    return out;
}

Parsed parse(const QByteArray &bytes)
{
    Parsed parsed;
    bool protocolSeen = false;
    bool aeadSeen = false;
    int offset = 0;
    while (offset < bytes.size()) {
        if (bytes.size() - offset < kRecordHeaderSize)
            break;
        const uint16_t typeField = read16(bytes, offset);
        const int length = read16(bytes, offset + 2);
        if (bytes.size() - offset - kRecordHeaderSize < length)
            break;
        const bool critical = typeField & kCritical;
        const uint16_t type = typeField & ~kCritical;
        const QByteArray body = bytes.mid(offset + kRecordHeaderSize, length);
        offset += kRecordHeaderSize + length;
        switch (type) {
        case EndOfMessage:
            if (length != 0)
                return refused(QStringLiteral("its end-of-message record has a body"));
            if (offset != bytes.size())
                return refused(QStringLiteral("it sends more after its end-of-message record"));
            if (!protocolSeen)
                return refused(QStringLiteral("it names no next protocol"));
            if (!aeadSeen)
                return refused(QStringLiteral("it names no AEAD algorithm"));
            if (parsed.answer.cookies.isEmpty())
                return refused(QStringLiteral("it sends no cookie"));
            parsed.status = Parsed::Status::Complete;
            return parsed;
        case NextProtocol:
            if (protocolSeen)
                return refused(QStringLiteral("it names the next protocol twice"));
            protocolSeen = true;
            if (length != 2 || read16(body, 0) != kNtpV4)
                return refused(QStringLiteral("it does not agree to NTPv4 as the next protocol"));
            break;
        case Error:
            return refused(QStringLiteral("it reports an error: %1")
                               .arg(length == 2 ? errorName(read16(body, 0)) : QStringLiteral("malformed")));
        case Warning:
            // The only warnings are ones this client cannot know what to do with; RFC 8915 says stop.
            return refused(QStringLiteral("it sends a warning (%1)")
                               .arg(length == 2 ? QString::number(read16(body, 0)) : QStringLiteral("malformed")));
        case AeadAlgorithm:
            if (aeadSeen)
                return refused(QStringLiteral("it names the AEAD algorithm twice"));
            aeadSeen = true;
            if (length != 2 || read16(body, 0) != kAesSivCmac256)
                return refused(QStringLiteral("it does not agree to AEAD_AES_SIV_CMAC_256"));
            break;
        case NewCookie:
            if (length == 0 || length > kMaximumCookieSize)
                return refused(QStringLiteral("it sends a cookie of %1 bytes").arg(length));
            // More than we will use in one run are dropped, not refused: a server may be generous.
            if (parsed.answer.cookies.size() < kMaximumCookies)
                parsed.answer.cookies << body;
            break;
        case ServerNegotiation:
            if (!parsed.answer.server.isEmpty())
                return refused(QStringLiteral("it names the NTP server twice"));
            if (!plausibleServer(body))
                return refused(QStringLiteral("it names an NTP server that is neither a host name nor an address"));
            parsed.answer.server = QString::fromLatin1(body);
            break;
        case PortNegotiation:
            if (parsed.answer.port)
                return refused(QStringLiteral("it names the NTP port twice"));
            if (length != 2 || read16(body, 0) == 0)
                return refused(QStringLiteral("it names an NTP port that is not one"));
            parsed.answer.port = read16(body, 0);
            break;
        default:
            if (critical)
                return refused(QStringLiteral("it sends a critical record of unknown type %1").arg(type));
            break;
        }
    }
    if (bytes.size() > kMaximumAnswerSize)
        return refused(QStringLiteral("its answer is longer than %1 bytes").arg(kMaximumAnswerSize));
    return parsed;
}

} // namespace ORVIK::NtsKeRecords
