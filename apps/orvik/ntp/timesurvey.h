#pragma once

#include "apps/orvik/ntp/timeselection.h"
#include "time/ntpsample.h"

#include <QHostAddress>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace ORVIK {

class NetworkAccessManager;
struct NtsSession;

// One address to ask, and the server argument that it came from.
struct TimeServerAddress
{
    QString name; // as given: a name, or the address itself
    QHostAddress address;
    uint16_t port = 0;
    std::shared_ptr<NtsSession> nts; // set: asked with NTS, through the keys and cookies of this session
    QString failure;                 // set: not asked at all (its key exchange failed), reported as failed
};

// Adds each address that a name gave, except those already there with the same port (an IPv4 address
// and its IPv4-mapped IPv6 form are one): a server named twice, or reached through two names, must not
// get two votes.
void addAddresses(std::vector<TimeServerAddress> &addresses, const QString &name, uint16_t port,
                  const QList<QHostAddress> &found, const std::shared_ptr<NtsSession> &nts = {});

// An accepted answer with what the server says of its own distance from its reference, in nanoseconds.
struct TimeAnswer
{
    NtpSample sample;
    int64_t rootDelay = 0;
    int64_t rootDispersion = 0;

    // Half the width of the interval that holds the true time, if the server is honest.
    int64_t radius() const noexcept { return sample.bound + (rootDelay + 1) / 2 + rootDispersion; }
    TimeInterval interval() const noexcept { return {sample.offset, radius()}; }
    // Reads the root delay and root dispersion (16.16 seconds) from a reply's header, rounded up.
    static TimeAnswer of(const NtpSample &sample, const NtpExchange &exchange);
};

// What became of one address.
struct AddressReport
{
    enum class Status {
        Used,      // in the group that agrees
        Rejected,  // answered, outside the group that agrees
        Undecided, // answered, but no group agrees
        Refused,   // a kiss-o'-death told us to stop (detail: its code)
        Silent,    // no answer within the time-out
        Unusable,  // its reply fails the checks (detail: why)
        Failed,    // the request could not be made (detail: why)
    };
    TimeServerAddress server;
    Status status = Status::Silent;
    int requests = 0;               // sent
    int answers = 0;                // accepted
    std::optional<TimeAnswer> best; // the answer with the narrowest interval, then the shortest delay
    QString detail;
    QString refusal; // the last reply that was refused (an NTS reply that does not authenticate), and why
};

// Asks each address through the installed access manager, under RequestPacer's rules, and combines
// the answers with TimeSelection. Runs on the caller's thread, in an event loop of its own.
class TimeSurvey
{
public:
    TimeSurvey(NetworkAccessManager &manager, std::vector<TimeServerAddress> addresses, int samples, int timeoutMs);

    void run();

    const std::vector<AddressReport> &reports() const noexcept { return m_reports; }
    // The combination of the answers; valid after run().
    const TimeSelection &selection() const { return *m_selection; }

private:
    void select();

    NetworkAccessManager &m_manager;
    std::vector<AddressReport> m_reports;
    int m_samples;
    int m_timeoutMs;
    std::optional<TimeSelection> m_selection;
};

} // namespace ORVIK
