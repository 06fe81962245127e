#include "time/ntptimestamp.h"

#include <QtEndian>

namespace ORVIK {

namespace {

constexpr uint64_t kNanosecondsPerMillisecond = 1000000;
constexpr uint64_t kMillisecondsPerSecond = 1000;

} // namespace

NtpTimestamp NtpTimestamp::fromTime(Time time) noexcept
{
    const uint64_t milliseconds = static_cast<uint64_t>(time.nanoseconds()) / kNanosecondsPerMillisecond +
                                  kEpochOffsetSeconds * kMillisecondsPerSecond;
    const uint64_t seconds = milliseconds / kMillisecondsPerSecond;
    const uint64_t fraction = ((milliseconds - seconds * kMillisecondsPerSecond) << 32) / kMillisecondsPerSecond;
    // The seconds wrap in 2036, as the NTP era does.
    return NtpTimestamp(static_cast<uint32_t>(seconds), static_cast<uint32_t>(fraction));
}

NtpTimestamp NtpTimestamp::read(const uint8_t *bytes) noexcept
{
    return NtpTimestamp(qFromBigEndian<uint32_t>(bytes), qFromBigEndian<uint32_t>(bytes + 4));
}

Time NtpTimestamp::toTime() const noexcept
{
    // At most 2^32 * 1000 ms, so the product stays well inside 64 bits.
    const int64_t milliseconds =
        static_cast<int64_t>(m_seconds) * 1000 + static_cast<int64_t>((static_cast<uint64_t>(m_fraction) * 1000) >> 32);
    return Time(milliseconds * 1000000 - static_cast<int64_t>(kEpochOffsetSeconds) * 1000000000);
}

void NtpTimestamp::write(uint8_t *bytes) const noexcept
{
    qToBigEndian<uint32_t>(m_seconds, bytes);
    qToBigEndian<uint32_t>(m_fraction, bytes + 4);
}

} // namespace ORVIK
