#include "host/base/orviktime.h"
#include "loopback/ntpresponder.h"
#include "tests/ntpports.h"
#include "tests/orvikprocess.h"
#include "time/ntpsample.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTest>

using namespace ORVIK;

namespace {

constexpr qint64 kMs = 1000000;
constexpr qint64 kUs = 1000;
constexpr qint64 kServerAheadNs = 2001234567;
constexpr quint64 kSecond = quint64(1) << 32; // in NTP timestamp units

// The reply of a server whose clock runs a known amount ahead of ours; `sent` gets its transmit time.
QByteArray aheadReply(const QByteArray &request, qint64 *sent = nullptr)
{
    const qint64 received = Time::SystemTime().nanoseconds() + kServerAheadNs;
    const qint64 transmitted = Time::SystemTime().nanoseconds() + kServerAheadNs;
    if (sent)
        *sent = transmitted;
    return NtpResponder::answer(request, NtpResponder::timestampFromNanoseconds(received),
                                NtpResponder::timestampFromNanoseconds(transmitted));
}

enum class Server { None, Silent, Good };

// One run of orvik time and what comes of it. A rejected reply is the good one with its bytes from `at` on
// replaced by `bytes` and its echo of our stamp moved by `originShift` NTP units.
struct TimeQuery
{
    Server server;
    QStringList arguments; // %HOST% and %PORT% stand for the responder's
    int exitCode;
    QString error; // a text that the one line on standard error must contain
    int requests;  // that the responder saw
    int at = 0;
    QByteArray bytes{};
    qint64 originShift = 0;
    QString reason{}; // that the error line gives after the rejection's prefix
};

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

Q_DECLARE_METATYPE(TimeQuery)

class tst_OrvikTime : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void timeCommand_data();
    void timeCommand();
    void boundHoldsTheTrueOffset_data();
    void boundHoldsTheTrueOffset();
};

void tst_OrvikTime::timeCommand_data()
{
    QTest::addColumn<TimeQuery>("query");
    const auto row = [](const char *name, const TimeQuery &query) { QTest::newRow(name) << query; };
    const QStringList ask{"time", "%HOST%", "--port", "%PORT%"};
    row("three-samples-from-a-server-2s-ahead", {Server::Good, ask + QStringList{"--samples", "3"}, 0, {}, 3});
    row("silent-server-times-out", {Server::Silent, ask + QStringList{"--timeout", "0.5"}, 1,
                                    QStringLiteral("no reply from %HOST% port %PORT% within 0.5 s"), 1});
    row("unresolvable-host", {Server::None, {"time", "no such host"}, 1, "cannot resolve the host no such host (", 0});
    row("no-samples", {Server::None, {"time", "::1", "--samples", "0"}, 2, "--samples must be", 0});

    // Every rejection ends the query at its first request, though the default asks for several.
    const auto rejected = [&](const char *name, int at, const QByteArray &bytes, qint64 originShift,
                              const QString &reason) {
        row(name, {Server::Good, ask, 1, "orvik: rejected the reply from %HOST% port %PORT%: ", 1, at, bytes,
                   originShift, reason});
    };
    const QString unsynchronised = QStringLiteral("the server is not synchronised");
    const QString notOurs = QStringLiteral("is not the stamp of our request");
    rejected("kiss-o'-death-ends-the-series", 1, QByteArray(1, '\0'), 0,
             QStringLiteral("kiss-o'-death LOCL, so no further request is sent"));
    rejected("client-mode-reply", 0, "\x23", 0, QStringLiteral("it is not a server reply (mode 3)"));
    rejected("leap-indicator-3", 0, "\xE4", 0, unsynchronised + QStringLiteral(" (leap indicator 3)"));
    rejected("stratum-16", 1, "\x10", 0, unsynchronised + QStringLiteral(" (stratum 16)"));
    rejected("zero-transmit-time", 40, QByteArray(8, '\0'), 0, QStringLiteral("its transmit time is zero"));
    rejected("received-in-2036-after-sent", 32, QByteArray(8, '\xFF'), 0,
             QStringLiteral("do not fit in our round trip"));
    rejected("origin-before-the-request", 0, QByteArray(), qint64(-10 * kSecond), notOurs);
    rejected("origin-after-the-receipt", 0, QByteArray(), qint64(60 * kSecond), notOurs);
    rejected("origin-off-the-millisecond", 0, QByteArray(), 1, notOurs);
}

void tst_OrvikTime::timeCommand()
{
    ORVIK_SKIP_WITHOUT_NTP_PORTS();
    QFETCH(TimeQuery, query);

    NtpResponder responder;
    QVERIFY(responder.listen());
    QStringList transmitted;
    responder.setScript([&](const QByteArray &request) {
        qint64 sent = 0;
        QByteArray reply = aheadReply(request, &sent).replace(query.at, query.bytes.size(), query.bytes);
        const quint64 origin = NtpResponder::timestampAt(reply, NtpPacket::kOriginOffset);
        NtpResponder::setTimestamp(reply, NtpPacket::kOriginOffset, origin + quint64(query.originShift));
        transmitted << QDateTime::fromMSecsSinceEpoch(sent / kMs, Qt::UTC).toString(Qt::ISODateWithMs);
        return QList<QByteArray>{reply};
    });
    if (query.server == Server::Silent)
        responder.setScript(nullptr);
    const QString host = responder.address().toString();
    const QString port = QString::number(responder.port());
    query.error.replace(QStringLiteral("%HOST%"), host).replace(QStringLiteral("%PORT%"), port);
    query.arguments.replaceInStrings(QStringLiteral("%HOST%"), host).replaceInStrings(QStringLiteral("%PORT%"), port);

    const OrvikRun run = runOrvik(query.arguments);
    const QString out = QString::fromUtf8(run.out);
    const QString err = QString::fromUtf8(run.err);
    QVERIFY2(run.exitCode == query.exitCode, qPrintable(err));
    QCOMPARE(responder.requests().size(), query.requests);
    if (query.exitCode != 0) {
        QVERIFY2(out.isEmpty(), qPrintable(out));
        QVERIFY2(err.startsWith(QStringLiteral("orvik: ")) && err.contains(query.error) && err.contains(query.reason) &&
                     err.count(QLatin1Char('\n')) == 1,
                 qPrintable(err));
        return;
    }
    QVERIFY2(err.isEmpty(), qPrintable(err));
    // Each request waited for the one before it to be gone: all came from the first receive port.
    for (const QNetworkDatagram &request : responder.requests())
        QCOMPARE(request.senderPort(), 42912);
    const QRegularExpressionMatch match =
        QRegularExpression(
            QStringLiteral("^server: %1 port %2\nstratum: 1\nreference id: LOCL\nleap: none\n"
                           "transmit time: (\\S+)\noffset: ([+-]\\d+\\.\\d{3}) \u00B1 (\\d+\\.\\d{3}) ms\n"
                           "delay: \\d+\\.\\d{3} ms\nsamples: 3 of 3\n$")
                .arg(QRegularExpression::escape(host), port))
            .match(out);
    QVERIFY2(match.hasMatch(), qPrintable(out));
    QVERIFY2(transmitted.contains(match.captured(1)), qPrintable(out));
    const double trueOffsetMs = double(kServerAheadNs) / kMs;
    QVERIFY2(qAbs(match.captured(2).toDouble() - trueOffsetMs) <= match.captured(3).toDouble(), qPrintable(out));
}

void tst_OrvikTime::boundHoldsTheTrueOffset_data()
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

void tst_OrvikTime::boundHoldsTheTrueOffset()
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
        QCOMPARE(verdict.kind, NtpVerdict::Kind::Rejected);
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

QTEST_GUILESS_MAIN(tst_OrvikTime)
#include "tst_orviktime.moc"
