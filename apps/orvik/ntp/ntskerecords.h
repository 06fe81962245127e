#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace ORVIK {

// The records of an NTS key exchange (RFC 8915, section 4): what orvik asks for, and what it makes of
// a server's answer. Pure parsing over bytes, so every malformed answer can be tried without TLS.
namespace NtsKeRecords {

constexpr uint16_t kNtpV4 = 0;
constexpr uint16_t kAesSivCmac256 = 15;
// A cookie is opaque, but no server needs more than this; a bigger one only costs us memory.
constexpr int kMaximumCookieSize = 1024;
constexpr int kMaximumCookies = 8;
// An answer is a handful of short records; one this long is not a key-exchange answer.
constexpr int kMaximumAnswerSize = 16384;

// The request: NTPv4 as the next protocol, AEAD_AES_SIV_CMAC_256, end of message.
QByteArray request();

struct Answer
{
    QList<QByteArray> cookies;
    QString server; // empty: the key-exchange server itself
    std::optional<uint16_t> port;
};

struct Parsed
{
    enum class Status {
        Incomplete, // no end-of-message record yet: read more
        Complete,
        Refused, // reason says why
    };
    Status status = Status::Incomplete;
    Answer answer;
    QString reason;
};

// Reads an answer that may still be arriving.
Parsed parse(const QByteArray &bytes);

} // namespace NtsKeRecords

} // namespace ORVIK
