#include "time/ntptimestamp.h"

#include <QtEndian>

namespace ORVIK {

namespace {

constexpr int64_t kNanosecondsPerMillisecond = 1000000;
constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr uint64_t kMillisecondsPerSecond = 1000;
constexpr int64_t kEraSeconds = int64_t(1) << 32;

// The fraction of a whole millisecond, as the client's stamp writes it: floor(ms * 2^32 / 1000).
uint32_t millisecondFraction(uint64_t milliseconds) noexcept
{
    return static_cast<uint32_t>((milliseconds << 32) / kMillisecondsPerSecond);
}

} // namespace

int64_t floorDivide(int64_t value, int64_t divisor) noexcept
{
    const int64_t quotient = value / divisor;
    return value % divisor < 0 ? quotient - 1 : quotient;
}

NtpTimestamp NtpTimestamp::fromTime(Time time) noexcept
{
    const uint64_t milliseconds = static_cast<uint64_t>(time.nanoseconds()) / kNanosecondsPerMillisecond +
                                  kEpochOffsetSeconds * kMillisecondsPerSecond;
    const uint64_t seconds = milliseconds / kMillisecondsPerSecond;
    // The seconds wrap in 2036, as the NTP era does.
    return NtpTimestamp(static_cast<uint32_t>(seconds), millisecondFraction(milliseconds % kMillisecondsPerSecond));
}

NtpTimestamp NtpTimestamp::fromNanoseconds(int64_t nanoseconds) noexcept
{
    const int64_t seconds = floorDivide(nanoseconds, kNanosecondsPerSecond);
    const auto within = static_cast<uint64_t>(nanoseconds - seconds * kNanosecondsPerSecond);
    return NtpTimestamp(static_cast<uint32_t>(seconds + static_cast<int64_t>(kEpochOffsetSeconds)),
                        static_cast<uint32_t>((within << 32) / kNanosecondsPerSecond));
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
    return Time(milliseconds * kNanosecondsPerMillisecond -
                static_cast<int64_t>(kEpochOffsetSeconds) * kNanosecondsPerSecond);
}

int64_t NtpTimestamp::toNanoseconds(int64_t near) const noexcept
{
    const int64_t seconds = static_cast<int64_t>(m_seconds) - static_cast<int64_t>(kEpochOffsetSeconds);
    const int64_t eras = floorDivide(floorDivide(near, kNanosecondsPerSecond) - seconds + kEraSeconds / 2, kEraSeconds);
    const auto fraction = static_cast<int64_t>((static_cast<uint64_t>(m_fraction) * kNanosecondsPerSecond) >> 32);
    return (seconds + eras * kEraSeconds) * kNanosecondsPerSecond + fraction;
}

std::optional<int64_t> NtpTimestamp::wholeMillisecond(int64_t near) const noexcept
{
    // The only candidate is the fraction's milliseconds rounded up, since the stamp rounds down.
    const uint64_t milliseconds = (static_cast<uint64_t>(m_fraction) * 1000 + 0xFFFFFFFFu) >> 32;
    if (milliseconds >= kMillisecondsPerSecond || millisecondFraction(milliseconds) != m_fraction)
        return std::nullopt;
    return NtpTimestamp(m_seconds, 0).toNanoseconds(near) +
           static_cast<int64_t>(milliseconds) * kNanosecondsPerMillisecond;
}

void NtpTimestamp::write(uint8_t *bytes) const noexcept
{
    qToBigEndian<uint32_t>(m_seconds, bytes);
    qToBigEndian<uint32_t>(m_fraction, bytes + 4);
}

} // namespace ORVIK
