#include "apps/orvik/ntp/timesurvey.h"

#include "apps/orvik/ntp/ntsexchange.h"
#include "apps/orvik/ntp/reachprobe.h"
#include "apps/orvik/ntp/requestpacer.h"
#include "apps/orvik/ntp/timeexchange.h"
#include "time/ntppacket.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <tuple>

namespace ORVIK {

namespace {

// ICMP comes back within a round trip: what has not come by then is not waited for as long as a reply.
constexpr int kProbeWaitMs = 1000;
constexpr int kRootDelayOffset = 4;
constexpr int kRootDispersionOffset = 8;

// NTP's short format: unsigned 16.16 seconds, in nanoseconds rounded up.
int64_t shortFormat(const NtpExchange &exchange, int offset)
{
    const uint64_t value = qFromBigEndian<quint32>(exchange.packet.data() + offset);
    return int64_t((value * 1000000000u + 0xFFFF) >> 16);
}

// A kiss-o'-death carries its code where a server names its reference.
uint32_t kissCode(const NtpExchange &exchange)
{
    return qFromBigEndian<quint32>(exchange.packet.data() + NtpPacket::kReferenceIdOffset);
}

bool narrower(const TimeAnswer &a, const TimeAnswer &b)
{
    return std::make_tuple(a.radius(), a.sample.delay) < std::make_tuple(b.radius(), b.sample.delay);
}

} // namespace

void addAddresses(std::vector<TimeServerAddress> &addresses, const QString &name, uint16_t port,
                  const QList<QHostAddress> &found, const std::shared_ptr<NtsSession> &nts)
{
    for (const QHostAddress &address : found) {
        const bool known = std::any_of(addresses.cbegin(), addresses.cend(), [&](const TimeServerAddress &a) {
            return a.port == port && a.address.isEqual(address, QHostAddress::ConvertV4MappedToIPv4);
        });
        if (!known)
            addresses.push_back({name, address, port, nts, {}});
    }
}

TimeAnswer TimeAnswer::of(const NtpSample &sample, const NtpExchange &exchange)
{
    return {sample, shortFormat(exchange, kRootDelayOffset), shortFormat(exchange, kRootDispersionOffset)};
}

TimeSurvey::TimeSurvey(NetworkAccessManager &manager, std::vector<TimeServerAddress> addresses, int samples,
                       int timeoutMs)
    : m_manager(manager), m_samples(samples), m_timeoutMs(timeoutMs)
{
    for (TimeServerAddress &address : addresses)
        m_reports.push_back(AddressReport{std::move(address), AddressReport::Status::Silent, 0, 0, {}, {}, {}});
}

void TimeSurvey::run()
{
    RequestPacer pacer(int(m_reports.size()), m_samples);
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    QElapsedTimer clock;
    clock.start();
    // The exchanges under way, by address. One that has finished is still inside its own signal, so it
    // moves to `over`, which is emptied once the loop is done.
    std::map<int, std::unique_ptr<TimeExchange>> running;
    std::vector<std::unique_ptr<TimeExchange>> over;
    std::function<void()> schedule;
    for (std::size_t i = 0; i < m_reports.size(); ++i) {
        AddressReport &report = m_reports[i];
        if (report.server.failure.isEmpty())
            continue;
        // Nothing to ask with: the pacer counts it as over without a request.
        report.status = AddressReport::Status::Failed;
        report.detail = report.server.failure;
        pacer.ended(int(i), clock.elapsed(), false);
    }

    const auto concluded = [&](int index) {
        over.push_back(std::move(running.at(index)));
        running.erase(index);
        const TimeExchange *exchange = over.back().get();
        AddressReport &report = m_reports[std::size_t(index)];
        const NtpVerdict &verdict = exchange->verdict();
        if (!exchange->refusal().isEmpty())
            report.refusal = exchange->refusal();
        bool again = false;
        switch (exchange->outcome()) {
        case TimeExchange::Outcome::Replied:
            if (verdict.kind == NtpVerdict::Kind::Accepted) {
                const TimeAnswer answer = TimeAnswer::of(verdict.sample, exchange->exchange());
                if (!report.best || narrower(answer, *report.best))
                    report.best = answer;
                ++report.answers;
                again = true;
            } else if (verdict.kind == NtpVerdict::Kind::KissOfDeath &&
                       TimeSelection::isRefusal(kissCode(exchange->exchange()))) {
                report.status = AddressReport::Status::Refused;
                report.detail = referenceLetters(kissCode(exchange->exchange()));
            } else {
                // Not synchronised, or not what a server sends: what it said before cannot be trusted either.
                report.status = AddressReport::Status::Unusable;
                report.detail = verdict.reason;
            }
            break;
        case TimeExchange::Outcome::Failed:
            if (!running.empty() && !report.server.nts) {
                // Most likely one of the client's ports is held elsewhere: try again with fewer at once.
                pacer.retryLater(index);
                report.requests = pacer.requests(index);
                schedule();
                return;
            }
            report.status = AddressReport::Status::Failed;
            report.detail = exchange->failureReason().isEmpty() ? QStringLiteral("the module gives no reason")
                                                                : exchange->failureReason();
            break;
        case TimeExchange::Outcome::NoDatagram:
            report.status = AddressReport::Status::Failed;
            report.detail = QStringLiteral("this module's time request does not report the reply's datagram");
            break;
        case TimeExchange::Outcome::TimedOut:
            // A lost datagram or a server that stopped answering: what came before is still good. A
            // server that no longer takes our cookies (NTSN) is not asked again with them.
            if (exchange->ntsNak()) {
                report.status = AddressReport::Status::Refused;
                report.detail = QStringLiteral("NTSN");
            } else if (!report.best && !exchange->refusal().isEmpty()) {
                report.status = AddressReport::Status::Unusable;
                report.detail = QStringLiteral("no authentic reply within %1 s; refused one: %2")
                                    .arg(m_timeoutMs / 1000.0)
                                    .arg(exchange->refusal());
            }
            break;
        }
        if (report.status == AddressReport::Status::Refused || report.status == AddressReport::Status::Unusable)
            report.best.reset();
        pacer.ended(index, clock.elapsed(), again);
        schedule();
    };

    schedule = [&] {
        for (;;) {
            const RequestPacer::Step step = pacer.next(clock.elapsed());
            switch (step.kind) {
            case RequestPacer::Step::Kind::Done:
                loop.quit();
                return;
            case RequestPacer::Step::Kind::Wait:
                if (step.waitMs >= 0)
                    wake.start(int(std::min<int64_t>(step.waitMs, RequestPacer::kSpacingMs)));
                return;
            case RequestPacer::Step::Kind::Send:
                break;
            }
            const int index = step.address;
            AddressReport &report = m_reports[std::size_t(index)];
            pacer.started(index);
            report.requests = pacer.requests(index);
            if (report.server.nts) {
                auto exchange = std::make_unique<NtsExchange>();
                QObject::connect(exchange.get(), &TimeExchange::finished, &loop,
                                 [&concluded, index] { concluded(index); });
                NtsExchange &started = *exchange;
                running.emplace(index, std::move(exchange));
                started.start(report.server.nts, report.server.address, report.server.port, m_timeoutMs);
            } else {
                auto exchange = std::make_unique<TimeExchange>();
                QObject::connect(exchange.get(), &TimeExchange::finished, &loop,
                                 [&concluded, index] { concluded(index); });
                TimeExchange &started = *exchange;
                running.emplace(index, std::move(exchange));
                started.start(m_manager, report.server.address.toString(), report.server.port, m_timeoutMs);
            }
        }
    };
    QObject::connect(&wake, &QTimer::timeout, &loop, [&schedule] { schedule(); });

    QTimer::singleShot(0, &loop, [&schedule] { schedule(); });
    loop.exec();
    // Why the silent and the failed said nothing, where a datagram of orvik's own can tell.
    ReachProbe::describe(m_reports, std::min(m_timeoutMs, kProbeWaitMs));
    select();
}

void TimeSurvey::select()
{
    std::vector<TimeInterval> intervals;
    std::vector<std::size_t> answered;
    for (std::size_t i = 0; i < m_reports.size(); ++i) {
        if (m_reports[i].best) {
            intervals.push_back(m_reports[i].best->interval());
            answered.push_back(i);
        }
    }
    m_selection.emplace(intervals);
    for (std::size_t k = 0; k < answered.size(); ++k) {
        AddressReport &report = m_reports[answered[k]];
        if (m_selection->outcome() != TimeSelection::Outcome::Agreed)
            report.status = AddressReport::Status::Undecided;
        else
            report.status =
                m_selection->inGroup(int(k)) ? AddressReport::Status::Used : AddressReport::Status::Rejected;
    }
}

} // namespace ORVIK
