#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace ORVIK {

// When `orvik time` may send its next request, and to which address. The rules are manners towards
// the servers: each address gets at most kMaximumRequests, each at least kSpacingMs after the previous
// exchange with it ended (so after that request left). The module's client listens on one of three
// ports, so at most kConcurrent exchanges run at once. Pure bookkeeping over a millisecond clock that
// the caller reads, so the rules can be tried without waiting.
class RequestPacer
{
public:
    static constexpr int kMaximumRequests = 8;
    static constexpr int64_t kSpacingMs = 2000;
    static constexpr int kConcurrent = 3;

    struct Step
    {
        enum class Kind { Send, Wait, Done };
        Kind kind = Kind::Done;
        int address = -1;    // Send: to this one
        int64_t waitMs = -1; // Wait: this long at most; -1 until an exchange ends
    };

    // `requestsEach` is capped at kMaximumRequests.
    RequestPacer(int addresses, int requestsEach);

    Step next(int64_t nowMs) const;
    // A request to the address is on its way.
    void started(int address);
    // Its exchange is over. askAgain false: this address gets nothing more (it refused, stayed silent
    // or gave a reply that we cannot use).
    void ended(int address, int64_t nowMs, bool askAgain);
    // Its request could not start while others ran (another program holds one of the client's ports):
    // it is not counted, and from now on no more run at once than are running now.
    void retryLater(int address);

    int requests(int address) const { return m_states.at(std::size_t(address)).sent; }
    int concurrent() const noexcept { return m_concurrent; }

private:
    struct State
    {
        int sent = 0;
        bool inFlight = false;
        bool finished = false;
        int64_t lastEnd = std::numeric_limits<int64_t>::min();
    };
    int inFlight() const;
    bool wantsMore(const State &state) const { return !state.inFlight && !state.finished && state.sent < m_each; }

    std::vector<State> m_states;
    int m_each;
    int m_concurrent = kConcurrent;
};

} // namespace ORVIK
