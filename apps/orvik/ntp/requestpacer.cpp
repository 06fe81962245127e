#include "apps/orvik/ntp/requestpacer.h"

#include <algorithm>

namespace ORVIK {

RequestPacer::RequestPacer(int addresses, int requestsEach)
    : m_states(std::size_t(std::max(addresses, 0))), m_each(std::clamp(requestsEach, 0, kMaximumRequests))
{}

int RequestPacer::inFlight() const
{
    return int(std::count_if(m_states.cbegin(), m_states.cend(), [](const State &s) { return s.inFlight; }));
}

RequestPacer::Step RequestPacer::next(int64_t nowMs) const
{
    const int running = inFlight();
    Step step;
    int best = -1;
    int64_t soonest = std::numeric_limits<int64_t>::max();
    for (std::size_t i = 0; i < m_states.size(); ++i) {
        const State &state = m_states[i];
        if (!wantsMore(state))
            continue;
        const int64_t due = state.sent == 0 ? nowMs : state.lastEnd + kSpacingMs;
        soonest = std::min(soonest, due);
        // Round robin: of those due, the one asked least so far, then the first given.
        if (due <= nowMs && (best < 0 || state.sent < m_states[std::size_t(best)].sent))
            best = int(i);
    }
    if (soonest == std::numeric_limits<int64_t>::max() && running == 0)
        return step; // Done
    step.kind = Step::Kind::Wait;
    if (running >= m_concurrent)
        return step;
    if (best >= 0) {
        step.kind = Step::Kind::Send;
        step.address = best;
    } else if (soonest != std::numeric_limits<int64_t>::max()) {
        step.waitMs = soonest - nowMs;
    }
    return step;
}

void RequestPacer::started(int address)
{
    State &state = m_states.at(std::size_t(address));
    ++state.sent;
    state.inFlight = true;
}

void RequestPacer::ended(int address, int64_t nowMs, bool askAgain)
{
    State &state = m_states.at(std::size_t(address));
    state.inFlight = false;
    state.lastEnd = nowMs;
    state.finished = state.finished || !askAgain;
}

void RequestPacer::retryLater(int address)
{
    State &state = m_states.at(std::size_t(address));
    state.inFlight = false;
    --state.sent;
    m_concurrent = std::max(1, inFlight());
}

} // namespace ORVIK
