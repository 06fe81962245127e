#include "apps/orvik/ntp/requestpacer.h"
#include "apps/orvik/ntp/serverargument.h"
#include "apps/orvik/ntp/timeselection.h"
#include "apps/orvik/ntp/timesurvey.h"
#include "loopback/ntpresponder.h"

#include <QTest>
#include <QtEndian>

#include <map>
#include <vector>

using namespace ORVIK;

namespace {

constexpr qint64 kUs = 1000;
constexpr qint64 kMs = 1000 * kUs;
constexpr qint64 kHour = 3600 * 1000 * kMs;

using Intervals = std::vector<TimeInterval>;

// Plays RequestPacer's steps against made-up servers on a made-up clock. Each address has a script, one
// letter per request (the last one repeats): 'a' answers after 10 ms, 'k' refuses after 10 ms, 's' stays
// silent until the 5 s time-out, 'f' cannot even be sent. `ports` is how many of the client's ports are
// free: a start beyond them fails as 'f' does. Returns the sends as "address@ms", a failed one marked '!'.
QString play(const QStringList &scripts, int samples, int ports)
{
    RequestPacer pacer(int(scripts.size()), samples);
    std::multimap<qint64, std::pair<int, QChar>> ends; // of the requests under way: when, which address, how
    std::map<int, qint64> lastEnd;
    QStringList log;
    qint64 now = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        RequestPacer::Step step = pacer.next(now);
        while (step.kind == RequestPacer::Step::Kind::Send) {
            const int address = step.address;
            const QString &script = scripts[address];
            const QChar how = script.at(std::min<qsizetype>(pacer.requests(address), script.size() - 1));
            const bool fails = how == QLatin1Char('f') || int(ends.size()) >= ports;
            if (lastEnd.count(address) && now - lastEnd[address] < RequestPacer::kSpacingMs)
                return QStringLiteral("too soon: %1@%2").arg(address).arg(now);
            pacer.started(address);
            log << QStringLiteral("%1@%2%3").arg(address).arg(now).arg(fails ? QStringLiteral("!") : QString());
            const qint64 after = fails ? 0 : how == QLatin1Char('s') ? 5000 : 10;
            ends.emplace(now + after, std::make_pair(address, fails ? QLatin1Char('f') : how));
            step = pacer.next(now);
        }
        if (step.kind == RequestPacer::Step::Kind::Done)
            return ends.empty() ? log.join(QLatin1Char(' ')) : QStringLiteral("done while some run");
        qint64 then = ends.empty() ? std::numeric_limits<qint64>::max() : ends.begin()->first;
        if (step.waitMs >= 0)
            then = std::min(then, now + step.waitMs);
        if (then == std::numeric_limits<qint64>::max())
            return QStringLiteral("waits for nothing");
        now = then;
        while (!ends.empty() && ends.begin()->first <= now) {
            const auto [address, how] = ends.begin()->second;
            ends.erase(ends.begin());
            if (how == QLatin1Char('f') && !ends.empty()) { // others still run
                pacer.retryLater(address);
                continue;
            }
            lastEnd[address] = now;
            pacer.ended(address, now, how == QLatin1Char('a'));
        }
    }
    return QStringLiteral("never done");
}

constexpr qint64 kServerAheadNs = 2001234567;

// One exchange made up to the nanosecond: the request is stamped at `stamped` past a whole millisecond and
// leaves `late` after; each way takes its own time. We read the clock `ahead` before the stamp and `after`
// once it left (-1: not seen). The server's clock runs 2.001234567 s ahead and is read to its precision
// (2^precision s); `mostBound` is what the scenario justifies, rounded up. Printed in microseconds, offset
// ± bound must still hold the true offset.
struct Exchange
{
    qint64 stamped, late, out, hold, back, ahead, after;
    int precision;
    qint64 mostBound;
    qint64 stampMovedBy = 0; // the echoed stamp moves by this much; a reply so changed is not ours
};

} // namespace

class tst_OrvikTimeRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void selection_data();
    void selection();
    void boundHoldsTheTrueOffset_data();
    void boundHoldsTheTrueOffset();
    void intervalOfAnAnswer_data();
    void intervalOfAnAnswer();
    void kissCodes_data();
    void kissCodes();
    void pacing_data();
    void pacing();
    void serverArgument_data();
    void serverArgument();
    void addressesOfNames_data();
    void addressesOfNames();
};

void tst_OrvikTimeRules::selection_data()
{
    QTest::addColumn<Intervals>("intervals");
    QTest::addColumn<TimeSelection::Outcome>("outcome");
    QTest::addColumn<int>("groupSize");
    QTest::addColumn<QString>("members"); // '1' for each interval in the group
    QTest::addColumn<qint64>("offset");   // of the combination, when agreed
    QTest::addColumn<qint64>("radius");
    using O = TimeSelection::Outcome;
    const auto row = [](const char *name, const Intervals &intervals, O outcome, int groupSize,
                        const char *members = "", qint64 offset = 0, qint64 radius = 0) {
        QTest::newRow(name) << intervals << outcome << groupSize << QString(members) << offset << radius;
    };
    row("three-honest-one-an-hour-off", {{0, kMs}, {200 * kUs, kMs}, {-100 * kUs, kMs}, {kHour, kMs}}, O::Agreed, 3,
        "1110", 50 * kUs, 850 * kUs);
    row("the-liar-first-changes-nothing", {{kHour, kMs}, {0, kMs}, {200 * kUs, kMs}, {-100 * kUs, kMs}}, O::Agreed, 3,
        "0111", 50 * kUs, 850 * kUs);
    row("one-server-is-its-own-majority", {{5 * kMs, 2 * kMs}}, O::Agreed, 1, "1", 5 * kMs, 2 * kMs);
    row("odd-width-rounds-the-radius-up", {{0, 3}, {2, 2}}, O::Agreed, 2, "11", 1, 2);
    // Closed intervals: a third server that sits exactly where the other two touch agrees with both.
    row("touching-intervals-share-their-end-point", {{0, kMs}, {2 * kMs, kMs}, {kMs, 0}}, O::Agreed, 3, "111", kMs, 0);
    row("a-wide-enough-interval-is-not-a-liar", {{0, kMs}, {0, kMs}, {kHour, kHour + kMs}}, O::Agreed, 3, "111", 0,
        kMs);
    row("three-of-five-outvote-two-liars",
        {{0, kMs}, {100 * kUs, kMs}, {-100 * kUs, kMs}, {50 * kMs, kMs}, {-50 * kMs, kMs}}, O::Agreed, 3, "11100", 0,
        900 * kUs);
    row("one-against-one-is-no-majority", {{0, kMs}, {kHour, kMs}}, O::NoMajority, 1);
    row("two-against-two-is-no-majority", {{0, kMs}, {500 * kUs, kMs}, {kHour, kMs}, {kHour + 1, kMs}}, O::NoMajority,
        2);
    row("one-wide-interval-in-two-separate-majorities", {{5 * kMs, 5 * kMs}, {0, kMs}, {10 * kMs, kMs}}, O::Split, 2);
    row("nothing-answered", {}, O::NoAnswers, 0);
}

void tst_OrvikTimeRules::selection()
{
    QFETCH(Intervals, intervals);
    QFETCH(TimeSelection::Outcome, outcome);
    QFETCH(int, groupSize);
    const TimeSelection selection(intervals);
    QCOMPARE(selection.outcome(), outcome);
    QCOMPARE(selection.groupSize(), groupSize);
    QCOMPARE(selection.answered(), int(intervals.size()));
    if (outcome != TimeSelection::Outcome::Agreed)
        return;
    QFETCH(QString, members);
    QString found;
    for (int i = 0; i < selection.answered(); ++i)
        found += selection.inGroup(i) ? QLatin1Char('1') : QLatin1Char('0');
    QCOMPARE(found, members);
    QFETCH(qint64, offset);
    QFETCH(qint64, radius);
    QCOMPARE(selection.combined().offset, offset);
    QCOMPARE(selection.combined().radius, radius);
}

void tst_OrvikTimeRules::boundHoldsTheTrueOffset_data()
{
    QTest::addColumn<Exchange>("x");
    QTest::newRow("symmetric-paths-observed-closely")
        << Exchange{50 * kUs, 5 * kUs, 100 * kUs, 10 * kUs, 100 * kUs, 20 * kUs, 10 * kUs, -29, 122 * kUs};
    QTest::newRow("all-the-delay-on-the-way-out")
        << Exchange{999 * kUs, 5 * kUs, 5 * kMs, 10 * kUs, 0, 1200 * kUs, -1, -29, 3253 * kUs};
    QTest::newRow("all-the-delay-on-the-way-back")
        << Exchange{0, 0, 0, 10 * kUs, 5 * kMs, 400 * kUs, -1, -29, 2751 * kUs};
    QTest::newRow("server-reads-whole-milliseconds")
        << Exchange{500 * kUs, 5 * kUs, 100 * kUs, 10 * kUs, 100 * kUs, 20 * kUs, 10 * kUs, -9, 2080 * kUs};
    // The true offset sits 3 ns inside the bound of 953 ns, and the offset rounds away from it to the
    // microsecond: only a bound rounded up with that rounding included still holds it.
    QTest::newRow("true-offset-at-the-edge-printed-bound-covers-the-rounding")
        << Exchange{50 * kUs, 0, 1900, 10 * kUs, 0, 0, 0, -29, 953};
    // A stamp after we saw the request leave and before the reply came: not the stamp of this request.
    QTest::newRow("stamp-after-the-send-before-the-arrival-is-not-ours")
        << Exchange{0, 0, 5 * kMs, 10 * kUs, 5 * kMs, 0, 10 * kUs, -29, 0, 2 * kMs};
}

void tst_OrvikTimeRules::boundHoldsTheTrueOffset()
{
    QFETCH(Exchange, x);
    const qint64 millisecond = 1796000000123 * kMs; // in December 2026
    const qint64 read = millisecond + x.stamped;
    const qint64 left = read + x.late;
    const qint64 serverTick = x.precision == -9 ? kMs : 1; // 2^-9 s covers a clock read in whole milliseconds
    const qint64 t2 = (left + x.out + kServerAheadNs) / serverTick * serverTick;
    const qint64 t3 = (left + x.out + x.hold + kServerAheadNs) / serverTick * serverTick;
    QByteArray packet = NtpResponder::answer(QByteArray(), NtpResponder::timestampFromNanoseconds(t2),
                                             NtpResponder::timestampFromNanoseconds(t3));
    packet[3] = char(x.precision);
    NtpResponder::setTimestamp(packet, NtpPacket::kOriginOffset,
                               NtpResponder::timestampFromNanoseconds(millisecond + x.stampMovedBy));
    NtpExchange exchange;
    std::copy(packet.cbegin(), packet.cend(), exchange.packet.begin());
    exchange.sentAfter = read - x.ahead;
    if (x.after >= 0)
        exchange.sentBefore = left + x.after;
    exchange.received = left + x.out + x.hold + x.back;

    const NtpVerdict verdict = judgeExchange(exchange);
    if (x.stampMovedBy != 0) {
        QCOMPARE(verdict.kind, NtpVerdict::Kind::Stray);
        QVERIFY2(verdict.reason.contains(QStringLiteral("is not the stamp of our request")),
                 qPrintable(verdict.reason));
        return;
    }
    QCOMPARE(verdict.reason, QString());
    const NtpSample &sample = verdict.sample;
    const QString figures = QStringLiteral("offset %1 bound %2").arg(sample.offset).arg(sample.bound);
    QVERIFY2(qAbs(sample.offset - kServerAheadNs) <= sample.bound, qPrintable(figures));
    QVERIFY2(sample.bound <= x.mostBound, qPrintable(figures));
    const NtpSampleMicroseconds shown = inMicroseconds(sample);
    QVERIFY2(qAbs(shown.offset * kUs - kServerAheadNs) <= shown.bound * kUs,
             qPrintable(figures + QStringLiteral(", printed %1 us bound %2 us").arg(shown.offset).arg(shown.bound)));
}

void tst_OrvikTimeRules::intervalOfAnAnswer_data()
{
    QTest::addColumn<QByteArray>("rootFields"); // root delay, then root dispersion: 16.16 seconds each
    QTest::addColumn<qint64>("radius");         // of an answer whose own bound is 1 ms
    QTest::newRow("a-primary-server-adds-nothing") << QByteArray(8, '\0') << kMs;
    QTest::newRow("half-the-root-delay") << QByteArray::fromHex("0000800000000000") << kMs + 250 * kMs;
    QTest::newRow("all-the-root-dispersion") << QByteArray::fromHex("0000000000004000") << kMs + 250 * kMs;
    // 1/65536 s is 15258.789 ns: both round up, so the interval only ever grows.
    QTest::newRow("smallest-units-round-up") << QByteArray::fromHex("0000000100000001") << kMs + 7630 + 15259;
}

void tst_OrvikTimeRules::intervalOfAnAnswer()
{
    QFETCH(QByteArray, rootFields);
    QFETCH(qint64, radius);
    NtpExchange exchange;
    std::copy(rootFields.cbegin(), rootFields.cend(), exchange.packet.begin() + 4);
    NtpSample sample;
    sample.offset = 7 * kMs;
    sample.bound = kMs;
    const TimeAnswer answer = TimeAnswer::of(sample, exchange);
    QCOMPARE(answer.radius(), radius);
    QCOMPARE(answer.interval().offset, 7 * kMs);
    QCOMPARE(answer.interval().radius, radius);
}

void tst_OrvikTimeRules::kissCodes_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<bool>("refusal");
    QTest::newRow("RATE-slow-down") << QByteArray("RATE") << true;
    QTest::newRow("DENY-access-denied") << QByteArray("DENY") << true;
    QTest::newRow("RSTR-restricted") << QByteArray("RSTR") << true;
    QTest::newRow("INIT-only-not-synchronised-yet") << QByteArray("INIT") << false;
    QTest::newRow("STEP-only-not-synchronised") << QByteArray("STEP") << false;
    QTest::newRow("lower-case-rate-is-another-code") << QByteArray("rate") << false;
}

void tst_OrvikTimeRules::kissCodes()
{
    QFETCH(QByteArray, code);
    QFETCH(bool, refusal);
    QCOMPARE(TimeSelection::isRefusal(qFromBigEndian<quint32>(code.constData())), refusal);
}

void tst_OrvikTimeRules::pacing_data()
{
    QTest::addColumn<QStringList>("scripts");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("ports");
    QTest::addColumn<QString>("sends");
    QTest::newRow("two-seconds-after-each-answer") << QStringList{"a"} << 4 << 3 << "0@0 0@2010 0@4020 0@6030";
    QTest::newRow("three-at-once-the-fourth-when-one-is-done")
        << QStringList{"a", "a", "a", "a"} << 2 << 3 << "0@0 1@0 2@0 3@10 0@2010 1@2010 2@2010 3@2020";
    QTest::newRow("a-refusal-ends-that-address-only")
        << QStringList{"a", "ak"} << 3 << 3 << "0@0 1@0 0@2010 1@2010 0@4020";
    QTest::newRow("a-silent-address-is-asked-once") << QStringList{"s", "a"} << 3 << 3 << "0@0 1@0 1@2010 1@4020";
    QTest::newRow("never-more-than-eight")
        << QStringList{"a"} << 20 << 3 << "0@0 0@2010 0@4020 0@6030 0@8040 0@10050 0@12060 0@14070";
    QTest::newRow("a-port-held-elsewhere-means-fewer-at-once")
        << QStringList{"a", "a", "a"} << 1 << 2 << "0@0 1@0 2@0! 2@10";
    QTest::newRow("a-failure-with-nothing-else-running-ends-that-address")
        << QStringList{"f", "s"} << 3 << 3 << "0@0! 1@0 0@5000!";
}

void tst_OrvikTimeRules::pacing()
{
    QFETCH(QStringList, scripts);
    QFETCH(int, samples);
    QFETCH(int, ports);
    QFETCH(QString, sends);
    QCOMPARE(play(scripts, samples, ports), sends);
}

void tst_OrvikTimeRules::serverArgument_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host"); // empty: refused
    QTest::addColumn<int>("port");     // 0: none of its own
    QTest::addColumn<QString>("error");
    const auto row = [](const char *name, const char *text, const char *host, int port, const char *error) {
        QTest::newRow(name) << QString(text) << QString(host) << port << QString(error);
    };
    row("name", "time.example", "time.example", 0, "");
    row("name-with-port", "time.example:1123", "time.example", 1123, "");
    row("ipv4-with-port", "127.0.0.1:65535", "127.0.0.1", 65535, "");
    row("ipv6-bare", "::1", "::1", 0, "");
    row("ipv6-in-brackets", "[2001:db8::7]", "2001:db8::7", 0, "");
    row("ipv6-in-brackets-with-port", "[::1]:11123", "::1", 11123, "");
    row("empty", "", "", 0, "may not be empty");
    row("port-zero", "host:0", "", 0, "from 1 to 65535");
    row("port-too-big", "host:65536", "", 0, "from 1 to 65535");
    row("port-empty", "host:", "", 0, "from 1 to 65535");
    row("no-host-before-the-port", ":123", "", 0, "names no host");
    row("ipv6-with-port-but-no-brackets-is-not-an-address", "2001:db8::7:123:99999", "", 0,
        "with a port, write [ADDRESS]:PORT");
    row("bracket-left-open", "[::1:123", "", 0, "does not close");
    row("ipv4-in-brackets", "[127.0.0.1]:123", "", 0, "not an IPv6 address");
    row("junk-after-the-bracket", "[::1]123", "", 0, "other than :PORT");
}

void tst_OrvikTimeRules::serverArgument()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, error);
    QString why;
    const std::optional<ServerArgument> server = ServerArgument::parse(text, &why);
    if (host.isEmpty()) {
        QVERIFY(!server);
        QVERIFY2(why.contains(error), qPrintable(why));
        return;
    }
    QVERIFY2(server, qPrintable(why));
    QCOMPARE(server->host, host);
    QCOMPARE(int(server->port.value_or(0)), port);
}

using Found = QList<QStringList>; // per name given, on port 123 unless "name:port": the addresses it gave

void tst_OrvikTimeRules::addressesOfNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<Found>("found");
    QTest::addColumn<QStringList>("asked"); // "address port name"
    QTest::newRow("every-address-of-a-name-counts")
        << QStringList{"pool"} << Found{{"192.0.2.1", "2001:db8::1", "192.0.2.2"}}
        << QStringList{"192.0.2.1 123 pool", "2001:db8::1 123 pool", "192.0.2.2 123 pool"};
    QTest::newRow("an-address-named-twice-is-asked-once")
        << QStringList{"192.0.2.1", "192.0.2.1"} << Found{{"192.0.2.1"}, {"192.0.2.1"}}
        << QStringList{"192.0.2.1 123 192.0.2.1"};
    QTest::newRow("two-names-for-one-address-give-one-vote")
        << QStringList{"a", "b"} << Found{{"192.0.2.1", "192.0.2.2"}, {"192.0.2.2", "192.0.2.3"}}
        << QStringList{"192.0.2.1 123 a", "192.0.2.2 123 a", "192.0.2.3 123 b"};
    QTest::newRow("ipv4-mapped-is-the-same-address")
        << QStringList{"a", "b"} << Found{{"192.0.2.1"}, {"::ffff:192.0.2.1"}} << QStringList{"192.0.2.1 123 a"};
    QTest::newRow("another-port-is-another-server") << QStringList{"a", "a:1123"} << Found{{"192.0.2.1"}, {"192.0.2.1"}}
                                                    << QStringList{"192.0.2.1 123 a", "192.0.2.1 1123 a"};
}

void tst_OrvikTimeRules::addressesOfNames()
{
    QFETCH(QStringList, names);
    QFETCH(Found, found);
    QFETCH(QStringList, asked);
    std::vector<TimeServerAddress> addresses;
    for (int i = 0; i < names.size(); ++i) {
        const std::optional<ServerArgument> server = ServerArgument::parse(names[i], nullptr);
        QVERIFY(server);
        QList<QHostAddress> list;
        for (const QString &address : found[i])
            list << QHostAddress(address);
        addAddresses(addresses, server->host, server->port.value_or(123), list);
    }
    QStringList result;
    for (const TimeServerAddress &address : addresses)
        result << QStringLiteral("%1 %2 %3").arg(address.address.toString()).arg(address.port).arg(address.name);
    QCOMPARE(result, asked);
}

QTEST_GUILESS_MAIN(tst_OrvikTimeRules)
#include "tst_orviktimerules.moc"
