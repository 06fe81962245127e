#include "apps/orvik/ntp/timeselection.h"

#include <algorithm>
#include <utility>

namespace ORVIK {

namespace {

constexpr uint32_t code(const char (&letters)[5]) noexcept
{
    return uint32_t(uint8_t(letters[0])) << 24 | uint32_t(uint8_t(letters[1])) << 16 |
           uint32_t(uint8_t(letters[2])) << 8 | uint32_t(uint8_t(letters[3]));
}

} // namespace

TimeSelection::TimeSelection(const std::vector<TimeInterval> &intervals) : m_inGroup(intervals.size(), false)
{
    if (intervals.empty())
        return;
    // Every interval is closed: one that only touches another shares that point with it. So at equal
    // values starts (+1) come before ends (-1).
    std::vector<std::pair<int64_t, int>> edges;
    edges.reserve(intervals.size() * 2);
    for (const TimeInterval &interval : intervals) {
        edges.emplace_back(interval.low(), +1);
        edges.emplace_back(interval.high(), -1);
    }
    std::sort(edges.begin(), edges.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    int count = 0;
    int regions = 0;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        count += edges[i].second;
        if (edges[i].second < 0 || count < m_groupSize)
            continue;
        // The count can only peak after a start; the next edge is an end, or it would climb higher.
        const bool higher = count > m_groupSize;
        if (i + 1 < edges.size() && edges[i + 1].second > 0)
            continue;
        regions = higher ? 1 : regions + 1;
        if (higher) {
            m_groupSize = count;
            m_low = edges[i].first;
            m_high = edges[i + 1].first;
        }
    }
    for (std::size_t i = 0; i < intervals.size(); ++i)
        m_inGroup[i] = intervals[i].low() <= m_low && intervals[i].high() >= m_high;
    if (m_groupSize * 2 <= answered())
        m_outcome = Outcome::NoMajority;
    else if (regions > 1)
        m_outcome = Outcome::Split;
    else
        m_outcome = Outcome::Agreed;
}

TimeInterval TimeSelection::combined() const noexcept
{
    const int64_t width = m_high - m_low;
    return {m_low + width / 2, width - width / 2};
}

bool TimeSelection::isRefusal(uint32_t kissCode) noexcept
{
    return kissCode == code("RATE") || kissCode == code("DENY") || kissCode == code("RSTR");
}

} // namespace ORVIK
