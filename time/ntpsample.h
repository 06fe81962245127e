#pragma once

#include "time/ntppacket.h"

#include <QString>

#include <array>
#include <cstdint>
#include <limits>

namespace ORVIK {

// What a host saw of one request and its reply. Times are nanoseconds since 1970 by the local clock.
struct NtpExchange
{
    std::array<uint8_t, NtpPacket::kHeaderSize> packet{};     // the reply's header
    int64_t sentAfter = 0;                                    // read before the request was stamped
    int64_t sentBefore = std::numeric_limits<int64_t>::max(); // read after it left, when that was seen
    int64_t received = 0;                                     // t4: read once the reply was in
};

// One accepted reply: the server's header fields and the clock figures, in nanoseconds.
struct NtpSample
{
    int leap = 0; // 0 none, 1 a second inserted, 2 a second deleted at the end of the day
    int stratum = 0;
    uint32_t referenceId = 0;
    int64_t transmit = 0; // t3, since 1970
    int64_t offset = 0;   // server clock minus local clock
    int64_t bound = 0;    // the true offset lies within offset ± bound
    int64_t delay = 0;    // round trip less the server's own hold time
};

// A sample's figures in whole microseconds. The offset and delay are rounded to the nearest; the bound
// is rounded up and also covers the offset's rounding, so offset ± bound still holds the true offset.
struct NtpSampleMicroseconds
{
    int64_t offset = 0;
    int64_t bound = 0;
    int64_t delay = 0;
};
NtpSampleMicroseconds inMicroseconds(const NtpSample &sample);

// Whether a reply may be used, and if not, why.
struct NtpVerdict
{
    // Stray: the datagram does not answer our request (anyone can send to our port), so it says
    // nothing about the server that we asked.
    enum class Kind { Accepted, KissOfDeath, Rejected, Stray };
    Kind kind = Kind::Rejected;
    QString reason; // for anything but Accepted, a clause that says why
    NtpSample sample;
};

// Checks the reply as a careful client does and, when it passes, derives offset, bound and delay.
NtpVerdict judgeExchange(const NtpExchange &exchange);

// The printable letters of a reference id: a primary server's source, or a kiss code.
QString referenceLetters(uint32_t referenceId);
// Nanoseconds since 1970 as ISO 8601 UTC, to the millisecond (rounded down).
QString isoTime(int64_t nanoseconds);

} // namespace ORVIK
