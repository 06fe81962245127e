#include "apps/orvik/commands/timequery.h"

#include "apps/orvik/commands.h"
#include "host/base/moduleresources.h"

#include "host/base/orviktime.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/timerequest.h"

#include <QDateTime>
#include <QEventLoop>
#include <QHostInfo>
#include <QTimer>
#include <QUdpSocket>

#include <cmath>
#include <memory>

namespace ORVIK {

namespace {

constexpr int64_t kNanosecondsPerMillisecond = 1000000;
// A time request listens on the module's declared receive port or, when that is taken, on one of the
// next two.
constexpr int kReceivePortsTried = 3;
// Longer than any sensible wait, short enough that the value fits a timer.
constexpr double kMaximumTimeoutSeconds = 3600;

// The three times of the first reply, read the moment it arrives.
struct TimeSample
{
    Time origin;   // t1: our request's transmit time as the server echoed it
    Time transmit; // t3: when the server sent its reply, by its clock
    Time receipt;  // t4: when the reply arrived, by ours
};

int64_t floorMilliseconds(int64_t nanoseconds)
{
    const int64_t quotient = nanoseconds / kNanosecondsPerMillisecond;
    return nanoseconds % kNanosecondsPerMillisecond < 0 ? quotient - 1 : quotient;
}

QString isoTime(Time time)
{
    return QDateTime::fromMSecsSinceEpoch(floorMilliseconds(time.nanoseconds()), Qt::UTC).toString(Qt::ISODateWithMs);
}

QString milliseconds(int64_t nanoseconds, bool withSign)
{
    const QString text = QString::number(static_cast<double>(nanoseconds) / kNanosecondsPerMillisecond, 'f', 3);
    return withSign && nanoseconds >= 0 ? QLatin1Char('+') + text : text;
}

QString describe(const TimeQuery &query)
{
    return QStringLiteral("%1 port %2").arg(query.host).arg(query.port);
}

// The request carries whole milliseconds, and reading them back can lose one more; so the echoed
// origin of a genuine answer lies between the millisecond we started in, less one, and the receipt.
bool originIsOurs(const TimeSample &sample, Time requested)
{
    const Time earliest((floorMilliseconds(requested.nanoseconds()) - 1) * kNanosecondsPerMillisecond);
    return sample.origin >= earliest && sample.origin <= sample.receipt;
}

void printSample(const TimeSample &sample, const TimeQuery &query, QTextStream &out)
{
    const int64_t t1 = sample.origin.nanoseconds();
    const int64_t t3 = sample.transmit.nanoseconds();
    const int64_t t4 = sample.receipt.nanoseconds();
    out << "server: " << describe(query) << '\n';
    out << "transmit time: " << isoTime(sample.transmit) << '\n';
    out << "offset: " << milliseconds(((t3 - t1) + (t3 - t4)) / 2, true) << " ms\n";
    out << "delay: " << milliseconds(t4 - t1, false) << " ms\n";
    out.flush();
}

// The UDP port that the module declares for its time replies, as its resources hook gives it; -1 if none.
int declaredReceivePort(const ModuleLoader &loader)
{
    ModuleResources resources;
    if (!loader.callDefineResources(resources))
        return -1;
    for (const ModulePort &port : resources.ports)
        if (port.protocol == String("udp") && port.port > 0)
            return port.port;
    return -1;
}

// The module reports every failure alike; find out which step failed, to tell the user what to fix.
QString failureReason(const TimeQuery &query, const ModuleLoader &loader)
{
    const QHostInfo lookup = QHostInfo::fromName(query.host);
    if (lookup.error() != QHostInfo::NoError)
        return QStringLiteral("cannot resolve %1: %2").arg(query.host, lookup.errorString());
    if (lookup.addresses().isEmpty())
        return QStringLiteral("%1 has no address").arg(query.host);
    const int first = declaredReceivePort(loader);
    if (first < 0)
        return QStringLiteral("the module declares no UDP receive port");
    const int last = std::min(first + kReceivePortsTried - 1, 65535);
    for (int port = first; port <= last; ++port) {
        QUdpSocket probe;
        if (probe.bind(QHostAddress::Any, static_cast<quint16>(port)))
            return QStringLiteral("the UDP socket reported an error");
    }
    return QStringLiteral("local UDP ports %1 to %2 are all in use").arg(first).arg(last);
}

} // namespace

// Asks the installed access manager for one time request and waits for its first answer.
int runTimeQuery(CommandContext &context, const TimeQuery &query)
{
    NetworkAccessManager *manager = ItemDownloader::AccessManager();
    if (!manager) {
        context.err << "orvik: no access manager is installed" << Qt::endl;
        return ExitFailure;
    }
    const QByteArray host = query.host.toUtf8();
    const Time requested = Time::SystemTime();
    const std::unique_ptr<TimeRequest> request(
        manager->createTimeRequest(StringView(host.constData(), static_cast<uint32_t>(host.size())), query.port));

    enum class Outcome { Reply, Failed, TimedOut } outcome = Outcome::TimedOut;
    TimeSample sample;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(request.get(), &TimeRequest::finishedSignal, &loop, [&] {
        // Later datagrams of a burst must not replace the reply that decided the outcome.
        QObject::disconnect(request.get(), nullptr, &loop, nullptr);
        sample = {request->serverTime(), request->txTime(), request->rxTime()};
        outcome = Outcome::Reply;
        loop.quit();
    });
    QObject::connect(request.get(), &TimeRequest::errorOccurredSignal, &loop, [&](int) {
        QObject::disconnect(request.get(), nullptr, &loop, nullptr);
        outcome = Outcome::Failed;
        loop.quit();
    });
    timer.start(query.timeoutMs);
    loop.exec();

    switch (outcome) {
    case Outcome::TimedOut:
        context.err << "orvik: no reply from " << describe(query) << " within " << query.timeoutMs / 1000.0 << " s"
                    << Qt::endl;
        return ExitFailure;
    case Outcome::Failed:
        context.err << "orvik: time request to " << describe(query)
                    << " failed: " << failureReason(query, context.loader) << Qt::endl;
        return ExitFailure;
    case Outcome::Reply:
        break;
    }
    if (!originIsOurs(sample, requested)) {
        context.err << "orvik: rejected the reply from " << describe(query) << ": its origin time "
                    << isoTime(sample.origin) << " is not between our request (" << isoTime(requested)
                    << ") and the reply's arrival (" << isoTime(sample.receipt)
                    << "), so it does not answer our request" << Qt::endl;
        return ExitFailure;
    }
    printSample(sample, query, context.out);
    return ExitOk;
}

namespace {

const QCommandLineOption kPortOption(QStringLiteral("port"), QStringLiteral("Server UDP port (default 123)."),
                                     QStringLiteral("N"), QString::number(kDefaultNtpPort));
const QCommandLineOption kTimeoutOption(QStringLiteral("timeout"),
                                        QStringLiteral("Seconds to wait for a reply (default 5)."),
                                        QStringLiteral("SECONDS"), QString::number(kDefaultTimeoutSeconds));

bool parseQuery(CommandContext &context, const QCommandLineParser &parser, TimeQuery &query)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.constFirst().isEmpty()) {
        context.err << "orvik: time needs exactly one HOST" << Qt::endl;
        return false;
    }
    query.host = positional.constFirst();
    bool ok = false;
    const uint port = parser.value(kPortOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        context.err << "orvik: --port must be a number from 1 to 65535" << Qt::endl;
        return false;
    }
    query.port = static_cast<uint16_t>(port);
    const double seconds = parser.value(kTimeoutOption).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > kMaximumTimeoutSeconds) {
        context.err << "orvik: --timeout must be a number of seconds above 0 and at most " << kMaximumTimeoutSeconds
                    << Qt::endl;
        return false;
    }
    query.timeoutMs = std::max(1, static_cast<int>(std::lround(seconds * 1000)));
    return true;
}

} // namespace

int runTimeCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Ask an NTP server for the time through the module and print the server's transmit time, the clock\n"
        "offset and the round-trip delay. With t1 = our request's send time as the server echoes it,\n"
        "t3 = the server's transmit time and t4 = the local receive time (the server's receive time is not\n"
        "reported, so t3 stands in for it):\n"
        "  offset = ((t3 - t1) + (t3 - t4)) / 2    (positive: the local clock is behind)\n"
        "  delay  = t4 - t1\n"
        "A reply whose echoed origin time does not fall between the request and its arrival is rejected."));
    context.addCommonOptions(parser);
    parser.addOption(kPortOption);
    parser.addOption(kTimeoutOption);
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
