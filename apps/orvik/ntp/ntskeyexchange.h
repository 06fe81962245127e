#pragma once

#include "apps/orvik/ntp/ntskerecords.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <cstdint>

namespace ORVIK {

// What a key exchange gives for the NTP requests of one run: the two keys and a pool of cookies, each
// spent once. Shared by the addresses that one exchange serves.
struct NtsSession
{
    QByteArray c2sKey;
    QByteArray s2cKey;
    QList<QByteArray> cookies;
    QString server; // where to send NTP: the name or address that the key-exchange server gave, else its own
    uint16_t port = 123;
};

// An NTS key exchange (RFC 8915, section 4) with OpenSSL's TLS over a Qt socket, in an event loop of
// its own on the caller's thread: TLS 1.3 only, ALPN "ntske/1", the server's certificate checked
// against `hostName` and the system's authorities (plus --cacert).
class NtsKeyExchange
{
public:
    static constexpr uint16_t kDefaultPort = 4460;
    static constexpr uint16_t kDefaultNtpPort = 123;

    struct Result
    {
        bool ok = false;
        NtsSession session;
        QString error; // when not ok, why
    };

    // Connects to address:port and runs the whole exchange within timeoutMs.
    static Result run(const QString &hostName, const QHostAddress &address, uint16_t port, const QString &caFile,
                      int timeoutMs);
};

} // namespace ORVIK
