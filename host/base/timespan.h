#pragma once

#include <cstdint>

namespace ORVIK {

// A duration: a flags word (all ones for a plain relative span) and nanoseconds.
struct TimeSpan
{
    static constexpr uint64_t kRelative = ~uint64_t(0);

    uint64_t flags = kRelative;
    int64_t nanoseconds = 0;

    static constexpr TimeSpan FromNanoseconds(int64_t ns) noexcept { return TimeSpan{kRelative, ns}; }
    static constexpr TimeSpan FromMilliseconds(int64_t ms) noexcept { return FromNanoseconds(ms * 1000000); }
    static constexpr TimeSpan FromSeconds(int64_t s) noexcept { return FromNanoseconds(s * 1000000000); }
    constexpr int64_t milliseconds() const noexcept { return nanoseconds / 1000000; }
};

static_assert(sizeof(TimeSpan) == 16, "TimeSpan is a 16-byte value");

} // namespace ORVIK
