#pragma once

#include "host/base/orviktime.h"

#include <cstdint>

namespace ORVIK {

// A 64-bit NTP timestamp: seconds since 1900-01-01 UTC and a fraction in units of 2^-32 s.
// Conversions to and from Time keep whole milliseconds only, in both directions.
class NtpTimestamp
{
public:
    // Distance from the NTP epoch (1900) to 1970.
    static constexpr uint64_t kEpochOffsetSeconds = 2208988800u;

    constexpr NtpTimestamp() noexcept = default;
    constexpr NtpTimestamp(uint32_t seconds, uint32_t fraction) noexcept : m_seconds(seconds), m_fraction(fraction) {}

    // The time truncated to whole milliseconds. Time is taken as unsigned, so -1 does not mean 1969.
    static NtpTimestamp fromTime(Time time) noexcept;
    // Reads eight big-endian bytes.
    static NtpTimestamp read(const uint8_t *bytes) noexcept;

    // Whole milliseconds (the fraction rounded down), as nanoseconds since 1970.
    Time toTime() const noexcept;
    // Writes eight big-endian bytes.
    void write(uint8_t *bytes) const noexcept;

    constexpr uint32_t seconds() const noexcept { return m_seconds; }
    constexpr uint32_t fraction() const noexcept { return m_fraction; }

    constexpr bool operator==(NtpTimestamp other) const noexcept
    {
        return m_seconds == other.m_seconds && m_fraction == other.m_fraction;
    }
    constexpr bool operator!=(NtpTimestamp other) const noexcept { return !(*this == other); }

private:
    uint32_t m_seconds = 0;
    uint32_t m_fraction = 0;
};

} // namespace ORVIK
