#pragma once

#include "host/base/orvikbase_export.h"

#include <cstdint>

namespace ORVIK {

// Nanoseconds since 1970-01-01 00:00:00 UTC; -1 when unset.
class ORVIKBASE_EXPORT Time
{
public:
    constexpr Time() noexcept = default;
    constexpr explicit Time(int64_t nanoseconds) noexcept : m_ns(nanoseconds) {}

    static Time SystemTime() noexcept;

    constexpr int64_t nanoseconds() const noexcept { return m_ns; }
    constexpr bool isSet() const noexcept { return m_ns != -1; }

    constexpr bool operator==(Time other) const noexcept { return m_ns == other.m_ns; }
    constexpr bool operator!=(Time other) const noexcept { return m_ns != other.m_ns; }
    constexpr bool operator<(Time other) const noexcept { return m_ns < other.m_ns; }
    constexpr bool operator<=(Time other) const noexcept { return m_ns <= other.m_ns; }
    constexpr bool operator>(Time other) const noexcept { return m_ns > other.m_ns; }
    constexpr bool operator>=(Time other) const noexcept { return m_ns >= other.m_ns; }

private:
    int64_t m_ns = -1;
};

} // namespace ORVIK
