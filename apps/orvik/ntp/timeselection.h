#pragma once

#include <cstdint>
#include <vector>

namespace ORVIK {

// What one server's answer says about the offset: the true offset lies in [offset - radius,
// offset + radius]. The radius is the measured bound plus the server's own distance from its
// reference (root delay / 2 + root dispersion). Nanoseconds.
struct TimeInterval
{
    int64_t offset = 0;
    int64_t radius = 0;

    int64_t low() const noexcept { return offset - radius; }
    int64_t high() const noexcept { return offset + radius; }
};

// NTP's way of combining servers that may lie: Marzullo's intersection finds the largest group of
// intervals that share a point, and that group must be a majority of the servers that answered. Pure
// arithmetic over intervals, so every case can be tried without a network.
class TimeSelection
{
public:
    enum class Outcome {
        Agreed,     // a majority shares one stretch of time
        NoAnswers,  // no interval to combine
        NoMajority, // the largest group is half of those that answered, or fewer
        Split,      // two separate majorities of the same size (one wide interval in both): no single answer
    };

    explicit TimeSelection(const std::vector<TimeInterval> &intervals);

    Outcome outcome() const noexcept { return m_outcome; }
    int answered() const noexcept { return int(m_inGroup.size()); }
    // The size of the largest group that shares a point (of one of them, when split).
    int groupSize() const noexcept { return m_groupSize; }
    // Whether interval i is in the largest group; meaningful when Agreed.
    bool inGroup(int i) const { return m_inGroup.at(std::size_t(i)); }
    // The shared stretch as offset ± radius: its middle, and half its width rounded up. When Agreed.
    TimeInterval combined() const noexcept;

    // A kiss-o'-death code (the reference id of a stratum-0 reply) that tells us to stop asking:
    // RATE (too often), DENY or RSTR (not served). Any other code only means "not synchronised".
    static bool isRefusal(uint32_t kissCode) noexcept;

private:
    Outcome m_outcome = Outcome::NoAnswers;
    int m_groupSize = 0;
    int64_t m_low = 0;
    int64_t m_high = 0;
    std::vector<bool> m_inGroup;
};

} // namespace ORVIK
