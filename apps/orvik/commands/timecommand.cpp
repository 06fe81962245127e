#include "apps/orvik/commands/timequery.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/optionvalues.h"
#include "apps/orvik/commands.h"
#include "apps/orvik/ntp/timeexchange.h"
#include "apps/orvik/transfer/failuretext.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "time/ntpsample.h"

#include <QHostAddress>

#include <cmath>
#include <optional>
#include <tuple>

namespace ORVIK {

namespace {

// Longer than any sensible wait, short enough that the value fits a timer.
constexpr double kMaximumTimeoutSeconds = 3600;
// Enough to find a request that left early in its millisecond; more only loads the server.
constexpr int kMaximumSamples = 64;

// Whole microseconds as milliseconds with three decimals.
QString milliseconds(int64_t microseconds, bool withSign)
{
    const int64_t magnitude = microseconds < 0 ? -microseconds : microseconds;
    const QString text =
        QStringLiteral("%1.%2").arg(magnitude / 1000).arg(static_cast<int>(magnitude % 1000), 3, 10, QLatin1Char('0'));
    return (microseconds < 0 ? QStringLiteral("-") : withSign ? QStringLiteral("+") : QString()) + text;
}

QString describe(const TimeQuery &query)
{
    return QStringLiteral("%1 port %2").arg(query.host).arg(query.port);
}

// A primary server (stratum 1) names its source in up to four letters; any other gives the IPv4 address
// of its own server (for an IPv6 one, the first bytes of a hash, which read like an address).
QString referenceId(const NtpSample &sample)
{
    return sample.stratum == 1 ? referenceLetters(sample.referenceId) : QHostAddress(sample.referenceId).toString();
}

QString leap(int indicator)
{
    switch (indicator) {
    case 1:
        return QStringLiteral("a second is added at the end of the day");
    case 2:
        return QStringLiteral("a second is left out at the end of the day");
    default:
        return QStringLiteral("none");
    }
}

void printSample(const NtpSample &sample, int answers, const TimeQuery &query, QTextStream &out)
{
    const NtpSampleMicroseconds shown = inMicroseconds(sample);
    out << "server: " << describe(query) << '\n';
    out << "stratum: " << sample.stratum << '\n';
    out << "reference id: " << referenceId(sample) << '\n';
    out << "leap: " << leap(sample.leap) << '\n';
    out << "transmit time: " << isoTime(sample.transmit) << '\n';
    out << "offset: " << milliseconds(shown.offset, true) << ' ' << QChar(0x00B1) << ' '
        << milliseconds(shown.bound, false) << " ms\n";
    out << "delay: " << milliseconds(shown.delay, false) << " ms\n";
    out << "samples: " << answers << " of " << query.samples << '\n';
    out.flush();
}

} // namespace

// Asks the installed access manager for query.samples time requests and reports the best answer.
int runTimeQuery(CommandContext &context, const TimeQuery &query)
{
    NetworkAccessManager *manager = ItemDownloader::AccessManager();
    if (!manager) {
        context.err << "orvik: no access manager is installed" << Qt::endl;
        return ExitFailure;
    }
    std::optional<NtpSample> best;
    int answers = 0;
    // One request after another: each listens on the module's fixed port, free again only once it is gone.
    for (int sample = 0; sample < query.samples; ++sample) {
        TimeExchange exchange;
        const TimeExchange::Outcome outcome = exchange.run(*manager, query.host, query.port, query.timeoutMs);
        if (outcome == TimeExchange::Outcome::TimedOut && answers > 0)
            break; // a lost datagram or a server that stopped answering: what came is still good
        switch (outcome) {
        case TimeExchange::Outcome::TimedOut:
            context.err << "orvik: no reply from " << describe(query) << " within " << query.timeoutMs / 1000.0 << " s"
                        << Qt::endl;
            return ExitFailure;
        case TimeExchange::Outcome::Failed:
            ErrorLine::print(context.err,
                             FailureText::describe(exchange.failureReason(), QStringLiteral("time request"), query.host,
                                                   query.port));
            return ExitFailure;
        case TimeExchange::Outcome::NoDatagram:
            context.err << "orvik: this module's time request does not report the reply's datagram" << Qt::endl;
            return ExitFailure;
        case TimeExchange::Outcome::Replied:
            break;
        }
        const NtpVerdict verdict = judgeExchange(exchange.exchange());
        if (verdict.kind != NtpVerdict::Kind::Accepted) {
            // A kiss-o'-death asks us to stop; any other bad reply ends the query as well.
            context.err << "orvik: rejected the reply from " << describe(query) << ": " << verdict.reason
                        << (verdict.kind == NtpVerdict::Kind::KissOfDeath ? ", so no further request is sent" : "")
                        << Qt::endl;
            return ExitFailure;
        }
        ++answers;
        const NtpSample &candidate = verdict.sample;
        if (!best || std::tie(candidate.bound, candidate.delay) < std::tie(best->bound, best->delay))
            best = candidate;
    }
    printSample(*best, answers, query, context.out);
    return ExitOk;
}

namespace {

const QCommandLineOption kPortOption(QStringLiteral("port"), QStringLiteral("Server UDP port (default 123)."),
                                     QStringLiteral("N"), QString::number(kDefaultNtpPort));
const QCommandLineOption kTimeoutOption(QStringLiteral("timeout"),
                                        QStringLiteral("Seconds to wait for each reply (default 5)."),
                                        QStringLiteral("SECONDS"), QString::number(kDefaultTimeoutSeconds));
const QCommandLineOption kSamplesOption(QStringLiteral("samples"),
                                        QStringLiteral("Requests to send, one after another (default 8)."),
                                        QStringLiteral("N"), QString::number(kDefaultSamples));

bool parseQuery(CommandContext &context, const CommandLine &parser, TimeQuery &query)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.constFirst().isEmpty()) {
        context.err << "orvik: time needs exactly one HOST" << Qt::endl;
        return false;
    }
    query.host = positional.constFirst();
    const std::optional<uint16_t> port = OptionValues::port(parser.value(kPortOption));
    if (!port) {
        context.err << "orvik: --port must be a number from 1 to 65535" << Qt::endl;
        return false;
    }
    query.port = *port;
    const std::optional<qint64> timeoutMs =
        OptionValues::secondsAsMs(parser.value(kTimeoutOption), kMaximumTimeoutSeconds);
    if (!timeoutMs) {
        ErrorLine::print(context.err, QStringLiteral("--timeout must be a number of seconds above 0 and at most %1")
                                          .arg(OptionValues::plain(kMaximumTimeoutSeconds)));
        return false;
    }
    query.timeoutMs = int(*timeoutMs);
    const std::optional<qint64> samples = OptionValues::wholeNumber(parser.value(kSamplesOption), 1, kMaximumSamples);
    if (!samples) {
        context.err << "orvik: --samples must be a number from 1 to " << kMaximumSamples << Qt::endl;
        return false;
    }
    query.samples = int(*samples);
    return true;
}

} // namespace

int runTimeCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(QStringLiteral(
        "Ask an NTP server for the time through the module and print the server's stratum, reference id,\n"
        "leap state and transmit time, the clock offset with its error bound and the round-trip delay.\n"
        "With t2, t3 = the server's receive and transmit times, t4 = the local receive time and t1 = the\n"
        "middle of the interval that the request's send time is known to lie in:\n"
        "  offset = ((t2 - t1) + (t3 - t4)) / 2    (positive: the local clock is behind)\n"
        "  delay  = (t4 - t1) - (t3 - t2)\n"
        "The true offset lies within the printed bound. Of the samples, the one with the tightest bound is\n"
        "shown. A reply that is not a server's, does not echo our request, is a kiss-o'-death, comes from an\n"
        "unsynchronised server or carries a zero transmit time is rejected."));
    context.addCommonOptions(parser);
    parser.addOption(kPortOption);
    parser.addOption(kTimeoutOption);
    parser.addOption(kSamplesOption);
    parser.addPositionalArgument(QStringLiteral("HOST"), QStringLiteral("NTP server name or address."));
    if (!context.parse(parser))
        return ExitUsage;
    TimeQuery query;
    if (!parseQuery(context, parser, query))
        return ExitUsage;
    if (!context.loadModuleWithServices(parser))
        return ExitUsage;
    return runTimeQuery(context, query);
}

} // namespace ORVIK
