#include "apps/orvik/commands/timequery.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/optionvalues.h"
#include "apps/orvik/cli/safetext.h"
#include "apps/orvik/commands.h"
#include "apps/orvik/ntp/ntskeyexchange.h"
#include "apps/orvik/ntp/requestpacer.h"
#include "apps/orvik/ntp/timesurvey.h"
#include "host/base/orviktime.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "time/ntpsample.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <optional>

namespace ORVIK {

namespace {

// Longer than any sensible wait, short enough that the value fits a timer.
constexpr double kMaximumTimeoutSeconds = 3600;

// Whole microseconds as milliseconds with three decimals.
QString milliseconds(int64_t microseconds, bool withSign)
{
    const int64_t magnitude = microseconds < 0 ? -microseconds : microseconds;
    const QString text =
        QStringLiteral("%1.%2").arg(magnitude / 1000).arg(static_cast<int>(magnitude % 1000), 3, 10, QLatin1Char('0'));
    return (microseconds < 0 ? QStringLiteral("-") : withSign ? QStringLiteral("+") : QString()) + text;
}

// An interval as printed: the offset to the microsecond and a radius rounded up so that it still holds.
NtpSampleMicroseconds shown(int64_t offset, int64_t radius, int64_t delay = 0)
{
    NtpSample sample;
    sample.offset = offset;
    sample.bound = radius;
    sample.delay = delay;
    return inMicroseconds(sample);
}

// A primary server (stratum 1) names its source in up to four letters; any other gives the IPv4 address
// of its own server (for an IPv6 one, the first bytes of a hash, which read like an address).
QString referenceId(const NtpSample &sample)
{
    return sample.stratum == 1 ? referenceLetters(sample.referenceId) : QHostAddress(sample.referenceId).toString();
}

QString statusName(AddressReport::Status status)
{
    switch (status) {
    case AddressReport::Status::Used:
        return QStringLiteral("used");
    case AddressReport::Status::Rejected:
        return QStringLiteral("rejected");
    case AddressReport::Status::Undecided:
        return QStringLiteral("undecided");
    case AddressReport::Status::Refused:
        return QStringLiteral("refused");
    case AddressReport::Status::Silent:
        return QStringLiteral("silent");
    case AddressReport::Status::Unusable:
        return QStringLiteral("unusable");
    case AddressReport::Status::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QString statusText(const AddressReport &report, const TimeQuery &query)
{
    QString name = statusName(report.status);
    // A refused reply beside an answer that was used: someone on the path tried, and failed.
    if (!report.refusal.isEmpty() && report.best)
        name += QStringLiteral(" (refused a reply: %1)").arg(report.refusal);
    switch (report.status) {
    case AddressReport::Status::Rejected:
        return name + QStringLiteral(": outside the group that agrees");
    case AddressReport::Status::Undecided:
        return name + QStringLiteral(": no group agrees");
    case AddressReport::Status::Refused:
        return name + QStringLiteral(": kiss-o'-death %1, not asked again").arg(report.detail);
    case AddressReport::Status::Silent:
        // What orvik's own datagram found, if anything, after the plain fact.
        return name + QStringLiteral(": no reply within %1 s").arg(query.timeoutMs / 1000.0) +
               (report.detail.isEmpty() ? QString() : QStringLiteral("; ") + report.detail);
    case AddressReport::Status::Unusable:
    case AddressReport::Status::Failed:
        return name + QStringLiteral(": ") + report.detail;
    case AddressReport::Status::Used:
        break;
    }
    return name;
}

// An NTS server's address, also when its key exchange failed and it was not asked.
bool asksWithNts(const TimeServerAddress &server)
{
    return server.nts || !server.failure.isEmpty();
}

QString addressText(const TimeServerAddress &server)
{
    const QString address = server.address.toString();
    return server.name == address ? address : QStringLiteral("%1 (%2)").arg(address, server.name);
}

// Why no answer can be given, as the one line on standard error; empty when a majority agrees.
QString disagreement(const TimeSelection &selection)
{
    switch (selection.outcome()) {
    case TimeSelection::Outcome::Agreed:
        return {};
    case TimeSelection::Outcome::NoAnswers:
        return QStringLiteral("no address gave a usable answer");
    case TimeSelection::Outcome::NoMajority:
        return QStringLiteral("no majority agrees on the time: the largest group that agrees is %1 of the %2 "
                              "addresses that answered")
            .arg(selection.groupSize())
            .arg(selection.answered());
    case TimeSelection::Outcome::Split:
        break;
    }
    return QStringLiteral("the %1 addresses that answered split into separate groups of %2 that do not agree")
        .arg(selection.answered())
        .arg(selection.groupSize());
}

void printTable(const TimeSurvey &survey, const TimeQuery &query, QTextStream &out)
{
    const QStringList header{QStringLiteral("ADDRESS"),  QStringLiteral("PORT"),      QStringLiteral("AUTH"),
                             QStringLiteral("STRATUM"),  QStringLiteral("OFFSET ms"), QStringLiteral("\u00B1 ms"),
                             QStringLiteral("DELAY ms"), QStringLiteral("ANSWERS"),   QStringLiteral("STATUS")};
    QList<QStringList> rows{header};
    for (const AddressReport &report : survey.reports()) {
        // NTS: every answer counted from this address authenticated with the key from its key exchange.
        QStringList row{addressText(report.server), QString::number(report.server.port),
                        asksWithNts(report.server) ? QStringLiteral("NTS") : QStringLiteral("none")};
        if (report.best) {
            const NtpSample &sample = report.best->sample;
            const NtpSampleMicroseconds figures = shown(sample.offset, report.best->radius(), sample.delay);
            row << QString::number(sample.stratum) << milliseconds(figures.offset, true)
                << milliseconds(figures.bound, false) << milliseconds(figures.delay, false);
        } else {
            row << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-");
        }
        row << QStringLiteral("%1/%2").arg(report.answers).arg(report.requests) << statusText(report, query);
        rows << row;
    }
    QList<int> widths(header.size(), 0);
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], int(row[column].size()));
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column) {
            const bool last = column == row.size() - 1;
            // Names left, figures right, so that the decimal points line up.
            const bool left = column == 0 || last;
            line += left ? (last ? row[column] : row[column].leftJustified(widths[column]))
                         : row[column].rightJustified(widths[column]);
            if (!last)
                line += QStringLiteral("  ");
        }
        out << line << '\n';
    }
    const TimeSelection &selection = survey.selection();
    if (selection.outcome() == TimeSelection::Outcome::Agreed) {
        const TimeInterval combined = selection.combined();
        const NtpSampleMicroseconds figures = shown(combined.offset, combined.radius);
        out << "agreed: " << selection.groupSize() << " of the " << selection.answered()
            << " addresses that answered\n";
        out << "offset: " << milliseconds(figures.offset, true) << ' ' << QChar(0x00B1) << ' '
            << milliseconds(figures.bound, false) << " ms\n";
        out << "time: " << isoTime(Time::SystemTime().nanoseconds() + combined.offset) << '\n';
    }
    out.flush();
}

QJsonObject addressJson(const AddressReport &report)
{
    QJsonObject object{{QStringLiteral("name"), report.server.name},
                       {QStringLiteral("address"), report.server.address.toString()},
                       {QStringLiteral("port"), int(report.server.port)},
                       {QStringLiteral("status"), statusName(report.status)},
                       {QStringLiteral("authenticated"), bool(report.server.nts)},
                       {QStringLiteral("requests"), report.requests},
                       {QStringLiteral("answers"), report.answers}};
    if (!report.detail.isEmpty())
        object.insert(QStringLiteral("detail"), report.detail);
    if (!report.refusal.isEmpty())
        object.insert(QStringLiteral("refusedReply"), report.refusal);
    // What the run leaves of its cookies: each request spends one, each authentic reply brings new ones.
    if (report.server.nts)
        object.insert(QStringLiteral("ntsCookies"), int(report.server.nts->cookies.size()));
    if (report.best) {
        const NtpSample &sample = report.best->sample;
        object.insert(QStringLiteral("stratum"), sample.stratum);
        object.insert(QStringLiteral("referenceId"), referenceId(sample));
        object.insert(QStringLiteral("leap"), sample.leap);
        object.insert(QStringLiteral("transmitTime"), isoTime(sample.transmit));
        object.insert(QStringLiteral("offsetNs"), qint64(sample.offset));
        object.insert(QStringLiteral("boundNs"), qint64(sample.bound));
        object.insert(QStringLiteral("delayNs"), qint64(sample.delay));
        object.insert(QStringLiteral("rootDelayNs"), qint64(report.best->rootDelay));
        object.insert(QStringLiteral("rootDispersionNs"), qint64(report.best->rootDispersion));
        object.insert(QStringLiteral("radiusNs"), qint64(report.best->radius()));
    }
    return object;
}

void printJson(const TimeSurvey &survey, const QJsonArray &unresolved, QTextStream &out)
{
    QJsonArray addresses;
    for (const AddressReport &report : survey.reports())
        addresses.append(addressJson(report));
    const TimeSelection &selection = survey.selection();
    const bool agreed = selection.outcome() == TimeSelection::Outcome::Agreed;
    QJsonObject result{{QStringLiteral("agreed"), agreed},
                       {QStringLiteral("answered"), selection.answered()},
                       {QStringLiteral("groupSize"), selection.groupSize()}};
    if (agreed) {
        const TimeInterval combined = selection.combined();
        result.insert(QStringLiteral("offsetNs"), qint64(combined.offset));
        result.insert(QStringLiteral("boundNs"), qint64(combined.radius));
        result.insert(QStringLiteral("time"), isoTime(Time::SystemTime().nanoseconds() + combined.offset));
    } else {
        result.insert(QStringLiteral("reason"), disagreement(selection));
    }
    const QJsonObject document{{QStringLiteral("addresses"), addresses},
                               {QStringLiteral("unresolved"), unresolved},
                               {QStringLiteral("result"), result}};
    out << QJsonDocument(document).toJson(QJsonDocument::Indented);
    out.flush();
}

// Every address of every server, in the order given, each (address, port) once.
std::vector<TimeServerAddress> resolve(CommandContext &context, const TimeQuery &query, QJsonArray &unresolved)
{
    std::vector<TimeServerAddress> addresses;
    for (const ServerArgument &server : query.servers) {
        const uint16_t port = server.port.value_or(query.port);
        const QHostInfo info = QHostInfo::fromName(server.host);
        QString error;
        if (info.error() != QHostInfo::NoError)
            error = QStringLiteral("cannot resolve %1").arg(server.host);
        else if (info.addresses().isEmpty())
            error = QStringLiteral("%1 has no address").arg(server.host);
        if (!error.isEmpty()) {
            ErrorLine::print(context.err, error);
            unresolved.append(QJsonObject{{QStringLiteral("name"), server.host}, {QStringLiteral("error"), error}});
            continue;
        }
        addAddresses(addresses, server.host, port, info.addresses());
    }
    return addresses;
}

// The key exchange with every address of each NTS server, then the addresses that NTP goes to: the
// server that the exchange named, else the one that answered it. An address whose exchange fails is
// reported as failed and not asked.
void keyExchanges(CommandContext &context, const TimeQuery &query, std::vector<TimeServerAddress> &addresses,
                  QJsonArray &unresolved)
{
    for (const ServerArgument &server : query.ntsServers) {
        const uint16_t port = server.port.value_or(NtsKeyExchange::kDefaultPort);
        const QHostInfo info = QHostInfo::fromName(server.host);
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            const QString error = QStringLiteral("cannot resolve %1").arg(server.host);
            ErrorLine::print(context.err, error);
            unresolved.append(QJsonObject{{QStringLiteral("name"), server.host}, {QStringLiteral("error"), error}});
            continue;
        }
        for (const QHostAddress &address : info.addresses()) {
            NtsKeyExchange::Result result =
                NtsKeyExchange::run(server.host, address, port, query.caFile, query.timeoutMs);
            if (!result.ok) {
                const QString why = QStringLiteral("NTS key exchange failed: %1").arg(result.error);
                ErrorLine::print(
                    context.err,
                    QStringLiteral("%1 port %2: %3").arg(SafeText::printable(server.host)).arg(port).arg(why));
                addresses.push_back({server.host, address, port, {}, why});
                continue;
            }
            auto session = std::make_shared<NtsSession>(std::move(result.session));
            QList<QHostAddress> ntpAddresses{address};
            if (!session->server.isEmpty()) {
                const QHostInfo named = QHostInfo::fromName(session->server);
                if (named.error() != QHostInfo::NoError || named.addresses().isEmpty()) {
                    const QString why = QStringLiteral("cannot resolve %1, the NTP server that its key exchange names")
                                            .arg(session->server);
                    ErrorLine::print(context.err, QStringLiteral("%1: %2").arg(SafeText::printable(server.host), why));
                    addresses.push_back({server.host, address, port, {}, why});
                    continue;
                }
                ntpAddresses = named.addresses();
            }
            addAddresses(addresses, server.host, session->port, ntpAddresses, session);
        }
    }
}

} // namespace

int runTimeQuery(CommandContext &context, const TimeQuery &query)
{
    NetworkAccessManager *manager = ItemDownloader::AccessManager();
    if (!manager) {
        ErrorLine::print(context.err, QStringLiteral("no access manager is installed"));
        return ExitFailure;
    }
    QJsonArray unresolved;
    std::vector<TimeServerAddress> addresses;
    keyExchanges(context, query, addresses, unresolved);
    for (TimeServerAddress &address : resolve(context, query, unresolved)) {
        const bool known = std::any_of(addresses.cbegin(), addresses.cend(), [&](const TimeServerAddress &a) {
            return a.port == address.port && a.address.isEqual(address.address, QHostAddress::ConvertV4MappedToIPv4);
        });
        if (!known)
            addresses.push_back(std::move(address));
    }
    if (addresses.empty() && !query.json)
        return ExitFailure; // each name has said why
    TimeSurvey survey(*manager, std::move(addresses), query.samples, query.timeoutMs);
    survey.run();
    if (query.json)
        printJson(survey, unresolved, context.out);
    else
        printTable(survey, query, context.out);
    const QString why = disagreement(survey.selection());
    if (why.isEmpty())
        return ExitOk;
    if (!survey.reports().empty())
        ErrorLine::print(context.err, why);
    return ExitFailure;
}

namespace {

const QCommandLineOption kPortOption(QStringLiteral("port"),
                                     QStringLiteral("UDP port of servers that name none (default 123)."),
                                     QStringLiteral("N"), QString::number(kDefaultNtpPort));
const QCommandLineOption kTimeoutOption(QStringLiteral("timeout"),
                                        QStringLiteral("Seconds to wait for each reply (default 5)."),
                                        QStringLiteral("SECONDS"), QString::number(kDefaultTimeoutSeconds));
const QCommandLineOption kSamplesOption(QStringLiteral("samples"),
                                        QStringLiteral("Requests to each address, 2 s apart (default 4, at most 8)."),
                                        QStringLiteral("N"), QString::number(kDefaultSamples));
const QCommandLineOption kJsonOption(QStringLiteral("json"), QStringLiteral("Print one JSON document."));
const QCommandLineOption kNtsOption(QStringLiteral("nts"),
                                    QStringLiteral("Ask this server with NTS (authenticated): its key-exchange "
                                                   "address, port 4460 unless given. May be repeated."),
                                    QStringLiteral("HOST[:PORT]"));
const QCommandLineOption kCaCertOption(QStringLiteral("cacert"),
                                       QStringLiteral("Also trust the PEM certificates in FILE for NTS key exchanges."),
                                       QStringLiteral("FILE"));

bool parseQuery(CommandContext &context, const CommandLine &parser, TimeQuery &query)
{
    const QStringList positional = parser.positionalArguments();
    const QStringList nts = parser.values(kNtsOption);
    if (positional.isEmpty() && nts.isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("time needs at least one HOST or --nts HOST"));
        return false;
    }
    for (const auto &[list, texts] :
         {std::make_pair(&query.servers, positional), std::make_pair(&query.ntsServers, nts)}) {
        for (const QString &text : texts) {
            QString error;
            const std::optional<ServerArgument> server = ServerArgument::parse(text, &error);
            if (!server) {
                ErrorLine::print(context.err, error);
                return false;
            }
            *list << *server;
        }
    }
    query.caFile = parser.value(kCaCertOption);
    const std::optional<uint16_t> port = OptionValues::port(parser.value(kPortOption));
    if (!port) {
        ErrorLine::print(context.err, QStringLiteral("--port must be a number from 1 to 65535"));
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
    const std::optional<qint64> samples =
        OptionValues::wholeNumber(parser.value(kSamplesOption), 1, RequestPacer::kMaximumRequests);
    if (!samples) {
        ErrorLine::print(context.err,
                         QStringLiteral("--samples must be a number from 1 to %1").arg(RequestPacer::kMaximumRequests));
        return false;
    }
    query.samples = int(*samples);
    query.json = parser.isSet(kJsonOption);
    return true;
}

} // namespace

int runTimeCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(QStringLiteral(
        "Ask NTP servers for the time through the module and combine their answers as NTP does.\n"
        "Every address of every HOST is asked, at most three at once, each up to --samples times, 2 s\n"
        "apart. Each answer is an interval, offset \u00B1 (error bound + root delay / 2 + root\n"
        "dispersion); the largest group of intervals that share a point must be a majority of the\n"
        "addresses that answered, and the answer is the middle of their common part. Servers outside it\n"
        "are rejected. A kiss-o'-death RATE, DENY or RSTR is obeyed: that address is not asked again.\n"
        "With --nts, a server is asked with Network Time Security: a TLS 1.3 key exchange, then requests\n"
        "whose replies count only when they authenticate with the key it gave (AUTH: NTS).\n"
        "Offset: server clock minus local clock (positive: the local clock is behind)."));
    context.addCommonOptions(parser);
    parser.addOption(kPortOption);
    parser.addOption(kTimeoutOption);
    parser.addOption(kSamplesOption);
    parser.addOption(kJsonOption);
    parser.addOption(kNtsOption);
    parser.addOption(kCaCertOption);
    parser.addPositionalArgument(QStringLiteral("HOST"),
                                 QStringLiteral("NTP server: a name or an address, HOST:PORT or [IPv6]:PORT."),
                                 QStringLiteral("[HOST...]"));
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
