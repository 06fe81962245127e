#pragma once

#include "host/base/orviktime.h"

#include <cstdint>
#include <optional>

namespace ORVIK {

// A 64-bit NTP timestamp: seconds since 1900-01-01 UTC and a fraction in units of 2^-32 s. The seconds
// wrap every 2^32 s (an era; the first ends in 2036), so reading one at full resolution needs a time
// near it to pick the era.
class NtpTimestamp
{
public:
    // Distance from the NTP epoch (1900) to 1970.
    static constexpr uint64_t kEpochOffsetSeconds = 2208988800u;

    constexpr NtpTimestamp() noexcept = default;
    constexpr NtpTimestamp(uint32_t seconds, uint32_t fraction) noexcept : m_seconds(seconds), m_fraction(fraction) {}

    // The stamp the module's client sends: the time truncated to whole milliseconds. Time is taken as
    // unsigned, so -1 does not mean 1969.
    static NtpTimestamp fromTime(Time time) noexcept;
    // Full resolution, rounded down to the next 2^-32 s.
    static NtpTimestamp fromNanoseconds(int64_t nanoseconds) noexcept;
    static constexpr NtpTimestamp fromBits(uint64_t bits) noexcept
    {
        return NtpTimestamp(static_cast<uint32_t>(bits >> 32), static_cast<uint32_t>(bits));
    }
    // Reads eight big-endian bytes.
    static NtpTimestamp read(const uint8_t *bytes) noexcept;

    // Whole milliseconds (the fraction rounded down) in era 0, as Time.
    Time toTime() const noexcept;
    // Nanoseconds since 1970, rounded down, in the era nearest to `near` (nanoseconds since 1970).
    int64_t toNanoseconds(int64_t near) const noexcept;
    // When this is a stamp as fromTime writes it, its millisecond in nanoseconds since 1970 (era nearest
    // to `near`); nothing for any other fraction.
    std::optional<int64_t> wholeMillisecond(int64_t near) const noexcept;
    // Writes eight big-endian bytes.
    void write(uint8_t *bytes) const noexcept;

    constexpr uint32_t seconds() const noexcept { return m_seconds; }
    constexpr uint32_t fraction() const noexcept { return m_fraction; }
    constexpr uint64_t bits() const noexcept { return uint64_t(m_seconds) << 32 | m_fraction; }

    constexpr bool operator==(NtpTimestamp other) const noexcept
    {
        return m_seconds == other.m_seconds && m_fraction == other.m_fraction;
    }
    constexpr bool operator!=(NtpTimestamp other) const noexcept { return !(*this == other); }

private:
    uint32_t m_seconds = 0;
    uint32_t m_fraction = 0;
};

// value / divisor rounded towards minus infinity (divisor above 0).
int64_t floorDivide(int64_t value, int64_t divisor) noexcept;

} // namespace ORVIK
