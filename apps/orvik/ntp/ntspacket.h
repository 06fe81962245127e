#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace ORVIK {

// An NTP request protected by NTS (RFC 8915, section 5) and the checks of its reply. Pure functions
// over bytes and keys: the exchange on the network is NtsExchange's.
namespace NtsPacket {

constexpr int kUniqueIdSize = 32;
constexpr int kNonceSize = 16;

struct Request
{
    QByteArray datagram;
    QByteArray uniqueId;
};

// The 48-byte header `header` (a client request with its transmit time set) followed by the Unique
// Identifier, the cookie, and the Authenticator and Encrypted Extension Fields sealed with the C2S key.
// `uniqueId` and `nonce` are random, kUniqueIdSize and kNonceSize bytes. Empty datagram when OpenSSL
// refuses the key.
Request request(const QByteArray &header, const QByteArray &cookie, const QByteArray &c2sKey,
                const QByteArray &uniqueId, const QByteArray &nonce);

struct Verdict
{
    enum class Kind {
        Authentic, // all checks hold: newCookies are the server's, sealed with the S2C key
        Stray,     // it does not answer this request (another identifier, another origin time)
        NtsNak,    // the server no longer takes our cookie (kiss-o'-death NTSN, unauthenticated)
        Forged,    // it claims to answer this request but does not authenticate
    };
    Kind kind = Kind::Forged;
    QString reason; // for anything but Authentic, why
    QList<QByteArray> newCookies;
};

// Checks a reply datagram against the request that it claims to answer.
Verdict verify(const QByteArray &reply, const Request &request, const QByteArray &s2cKey);

} // namespace NtsPacket

} // namespace ORVIK
