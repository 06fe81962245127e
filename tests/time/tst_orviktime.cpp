#include "host/base/orviktime.h"
#include "loopback/ntpresponder.h"
#include "tests/chronyserver.h"
#include "tests/ntpports.h"
#include "tests/orvikprocess.h"
#include "tests/time/timetable.h"
#include "tests/wine.h"
#include "time/ntpsample.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace ORVIK;

namespace {

constexpr qint64 kMs = 1000000;
constexpr qint64 kUs = 1000;
constexpr qint64 kServerAheadNs = 2001234567;
constexpr quint64 kSecond = quint64(1) << 32; // in NTP timestamp units
constexpr quint64 kHour = 3600 * kSecond;

// A peer of one run: a relay to one of the chronyd instances (the honest servers), or a responder that
// plays the liar, refuses, stays silent or sends a reply changed from an honest one; or a closed port.
struct Peer
{
    enum class Kind { Chrony, HourAhead, Kiss, Silent, Changed, StrayFirst, Closed };
    Kind kind;
    QByteArray bytes{}; // Kiss: its code; Changed: the bytes put in from `at` on
    int at = 0;
    qint64 originShift = 0; // Changed: moves the echo of our stamp by this many NTP units
    bool ipv6 = false;      // listens on ::1
    bool portOfPrevious = false;
};

// One run of orvik time against the peers. In the arguments {0}, {1}, ... stand for peer i as HOST:PORT,
// {P0}, {P1}, ... for its port alone. The table of standard output must list the addresses in the order
// given, each with its status (the whole text when it has ": ", else its start) and how many requests its
// peer received.
struct TimeRun
{
    QList<Peer> peers;
    QStringList arguments;
    int exitCode;
    QStringList statuses;
    QList<int> requests; // that each peer received
    QString error{};     // that the one line on standard error contains (is, with its line end); empty: nothing on it
};

constexpr qint64 kHourNs = 3600 * 1000 * kMs;

// The peers of one run, each on a loopback port of its own, and every request they received in order.
struct Peers
{
    explicit Peers(const std::vector<std::unique_ptr<ChronyServer>> &chronyServers) : chrony(chronyServers) {}

    bool setUp(const QList<Peer> &peers)
    {
        std::size_t chronyUsed = 0;
        for (int i = 0; i < peers.size(); ++i) {
            const Peer &peer = peers[i];
            auto responder = std::make_unique<NtpResponder>();
            const QHostAddress address(peer.ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost);
            const quint16 port = peer.portOfPrevious ? responders.back()->port() : 0;
            if (!responder->listen(address, port)) {
                error = responder->errorString();
                return false;
            }
            switch (peer.kind) {
            case Peer::Kind::Chrony: {
                // A recording relay in front of chronyd, which serves our own clock.
                auto upstream = std::make_unique<QUdpSocket>();
                if (chronyUsed >= chrony.size() || !upstream->bind(QHostAddress(QHostAddress::LocalHost), 0)) {
                    error = QStringLiteral("no chronyd for peer %1").arg(i);
                    return false;
                }
                responder->setScript([up = upstream.get(), server = chrony[chronyUsed++].get()](
                                         const QByteArray &request) { return server->ask(*up, request); });
                upstreams.push_back(std::move(upstream));
                break;
            }
            case Peer::Kind::HourAhead:
                responder->setScript([](const QByteArray &request) {
                    const quint64 received = NtpResponder::now() + kHour;
                    return QList<QByteArray>{NtpResponder::answer(request, received, NtpResponder::now() + kHour)};
                });
                break;
            case Peer::Kind::Kiss:
                responder->setScript([code = peer.bytes](const QByteArray &request) {
                    QByteArray reply = NtpResponder::answer(request, NtpResponder::now(), NtpResponder::now());
                    reply[NtpPacket::kStratumOffset] = 0;
                    reply.replace(NtpPacket::kReferenceIdOffset, 4, code);
                    return QList<QByteArray>{reply};
                });
                break;
            case Peer::Kind::Silent:
                responder->setScript(nullptr);
                break;
            case Peer::Kind::Closed:
                responder->close();
                break;
            case Peer::Kind::Changed:
                responder->setScript([peer](const QByteArray &request) {
                    const quint64 received = NtpResponder::now();
                    QByteArray reply = NtpResponder::answer(request, received, NtpResponder::now());
                    reply.replace(peer.at, peer.bytes.size(), peer.bytes);
                    const quint64 origin = NtpResponder::timestampAt(reply, NtpPacket::kOriginOffset);
                    NtpResponder::setTimestamp(reply, NtpPacket::kOriginOffset, origin + quint64(peer.originShift));
                    return QList<QByteArray>{reply};
                });
                break;
            case Peer::Kind::StrayFirst:
                responder->setScript([](const QByteArray &request) {
                    const quint64 received = NtpResponder::now();
                    const QByteArray reply = NtpResponder::answer(request, received, NtpResponder::now());
                    QByteArray stray = reply;
                    const quint64 origin = NtpResponder::timestampAt(reply, NtpPacket::kOriginOffset);
                    NtpResponder::setTimestamp(stray, NtpPacket::kOriginOffset, origin + 1);
                    stray[NtpPacket::kStratumOffset] = 0; // were it taken, a kiss-o'-death would end the query
                    stray.replace(NtpPacket::kReferenceIdOffset, 4, "DENY");
                    return QList<QByteArray>{stray, reply};
                });
                break;
            }
            NtpResponder *recorder = responder.get();
            QObject::connect(recorder, &NtpResponder::requestReceived, recorder, [this, recorder, i] {
                arrivals.append({i, recorder->requests().constLast().senderPort()});
            });
            responders.push_back(std::move(responder));
        }
        return true;
    }

    // {i}: peer i as HOST:PORT; {Pi}: its port.
    QStringList substitute(QStringList arguments) const
    {
        for (std::size_t i = 0; i < responders.size(); ++i) {
            const NtpResponder &peer = *responders[i];
            const QString port = QString::number(peer.port());
            const QString host = peer.address().protocol() == QAbstractSocket::IPv6Protocol
                                     ? QStringLiteral("[%1]").arg(peer.address().toString())
                                     : peer.address().toString();
            arguments.replaceInStrings(QStringLiteral("{%1}").arg(i), host + QLatin1Char(':') + port);
            arguments.replaceInStrings(QStringLiteral("{P%1}").arg(i), port);
        }
        return arguments;
    }

    int peerAt(const QString &address, int port) const
    {
        for (std::size_t i = 0; i < responders.size(); ++i)
            if (responders[i]->address().toString() == address && responders[i]->port() == port)
                return int(i);
        return -1;
    }

    const std::vector<std::unique_ptr<ChronyServer>> &chrony;
    std::vector<std::unique_ptr<QUdpSocket>> upstreams; // declared first: the relays' scripts use them
    std::vector<std::unique_ptr<NtpResponder>> responders;
    QList<std::pair<int, quint16>> arrivals; // which peer, from which port
    QString error;
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

Q_DECLARE_METATYPE(TimeRun)

class tst_OrvikTime : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void timeCommand_data();
    void timeCommand();
    void jsonDocument();
    void boundHoldsTheTrueOffset_data();
    void boundHoldsTheTrueOffset();

private:
    std::vector<std::unique_ptr<ChronyServer>> m_chrony; // the honest servers, when chrony is installed
};

void tst_OrvikTime::initTestCase()
{
    if (ChronyServer::program().isEmpty())
        return; // the rows that need it say so
    for (int i = 0; i < 3; ++i) {
        auto server = std::make_unique<ChronyServer>();
        QVERIFY2(server->start() && server->waitUntilServing(), qPrintable(server->error()));
        m_chrony.push_back(std::move(server));
    }
}

void tst_OrvikTime::timeCommand_data()
{
    QTest::addColumn<TimeRun>("run");
    using K = Peer::Kind;
    const Peer chrony{K::Chrony}, liar{K::HourAhead}, silent{K::Silent};
    const auto kiss = [](const char *code) { return Peer{K::Kiss, code}; };
    const auto changed = [](int at, const QByteArray &bytes, qint64 shift) {
        return Peer{K::Changed, bytes, at, shift};
    };
    // Arguments are split at spaces, statuses at '|'.
    const auto row = [](const QString &name, const QList<Peer> &peers, const char *arguments, int exitCode,
                        const QString &statuses, const QList<int> &requests, const char *error = "") {
        QTest::newRow(qPrintable(name)) << TimeRun{peers,    QString::fromLatin1(arguments).split(QLatin1Char(' ')),
                                                   exitCode, statuses.split(QLatin1Char('|'), Qt::SkipEmptyParts),
                                                   requests, QString::fromLatin1(error)};
    };
    const QString outside = QStringLiteral("rejected: outside the group that agrees");
    const char *noneUsable = "orvik: no address gave a usable answer\n";

    row("three-chronyd-outvote-one-an-hour-off", {chrony, chrony, chrony, liar}, "time {0} {1} {2} {3} --samples 2", 0,
        "used|used|used|" + outside, {2, 2, 2, 2});
    row("kiss-o'-death-RATE-is-not-asked-again", {chrony, kiss("RATE"), chrony}, "time {0} {1} {2} --samples 2", 0,
        "used|refused: kiss-o'-death RATE, not asked again|used", {2, 1, 2});
    row("kiss-code-INIT-only-means-not-synchronised", {chrony, chrony, kiss("INIT")}, "time {0} {1} {2} --samples 2", 0,
        "used|used|unusable: kiss-o'-death INIT", {2, 2, 1});
    row("a-silent-address-is-reported-the-rest-go-on", {silent, chrony, chrony},
        "time {0} {1} {2} --samples 2 --timeout 1", 0, "silent: no reply within 1 s|used|used", {1, 2, 2});
    // Also the message of no majority, whole.
    row("a-server-named-twice-gets-one-vote", {liar, chrony}, "time {0} {0} {1} --samples 1", 1, "undecided|undecided",
        {1, 1},
        "orvik: no majority agrees on the time: the largest group that agrees is 1 of the 2 addresses that "
        "answered\n");
    row("ipv6-in-brackets-with-its-port", {Peer{K::Chrony, {}, 0, 0, true}, chrony, chrony},
        "time {0} {1} {2} --samples 1", 0, "used|used|used", {1, 1, 1});
    row("one---port-for-an-ipv4-and-an-ipv6-address", {chrony, Peer{K::Chrony, {}, 0, 0, true, true}},
        "time 127.0.0.1 ::1 --port {P0} --samples 1", 0, "used|used", {1, 1});
    row("a-stray-datagram-before-the-answer-is-passed-over", {Peer{K::StrayFirst}}, "time {0} --samples 1", 0, "used",
        {1});
    // ICMP port unreachable reaches only a connected socket: orvik's own datagram hears it. A server
    // that is there and silent is not called closed.
    const QString silentHalf = QStringLiteral("silent: no reply within 0.5 s");
    row("a-closed-port-is-silent-and-refuses", {Peer{K::Closed}, silent}, "time {0} {1} --timeout 0.5", 1,
        silentHalf + "; the connection was refused: ICMP port unreachable|" + silentHalf, {0, 1}, noneUsable);
    row("nothing-answers", {silent}, "time {0} --timeout 0.5", 1, silentHalf, {1}, noneUsable);

    // A reply that fails the checks ends what that address says, though more requests were asked for.
    const auto unusable = [&](const char *name, const Peer &peer, const QString &reason) {
        row(name, {peer}, "time {0}", 1, "unusable: " + reason, {1}, noneUsable);
    };
    unusable("client-mode-reply", changed(0, "\x23", 0), "it is not a server reply (mode 3)");
    unusable("leap-indicator-3", changed(0, "\xE4", 0), "the server is not synchronised (leap indicator 3)");
    unusable("stratum-16", changed(1, "\x10", 0), "the server is not synchronised (stratum 16)");
    unusable("zero-transmit-time", changed(40, QByteArray(8, '\0'), 0), "its transmit time is zero");
    unusable("received-in-2036-after-sent", changed(32, QByteArray(8, '\xFF'), 0),
             "its receive and transmit times do not fit in our round trip");
    // A reply that does not echo our stamp answers some other request: it is passed over, so the server
    // has not answered.
    const auto notOurs = [&](const char *name, qint64 shift) {
        row(name, {changed(0, {}, shift)}, "time {0} --timeout 0.5", 1, "silent", {1}, noneUsable);
    };
    notOurs("origin-before-the-request", qint64(-10 * kSecond));
    notOurs("origin-after-the-receipt", qint64(60 * kSecond));
    notOurs("origin-off-the-millisecond", 1);

    QTest::newRow("unresolvable-host") << TimeRun{
        {}, {"time", "no such host"}, 1, {}, {}, "orvik: cannot resolve no such host\n"};
    row("no-host", {}, "time", 2, "", {}, "orvik: time needs at least one HOST or --nts HOST\n");
    row("bracket-left-open", {}, "time [::1", 2, "", {}, "does not close");
    row("nine-samples", {}, "time ::1 --samples 9", 2, "", {}, "orvik: --samples must be a number from 1 to 8\n");
}

void tst_OrvikTime::timeCommand()
{
    QFETCH(TimeRun, run);
    const auto chronyPeers = std::count_if(run.peers.cbegin(), run.peers.cend(),
                                           [](const Peer &peer) { return peer.kind == Peer::Kind::Chrony; });
    if (std::size_t(chronyPeers) > m_chrony.size())
        QSKIP("chronyd is not installed (Debian package chrony): no honest servers to ask");
    if (!run.peers.isEmpty())
        ORVIK_SKIP_WITHOUT_NTP_PORTS();
    // Windows reports ICMP port unreachable to a connected UDP socket as WSAECONNRESET; Wine's recv
    // reports nothing (see docs/windows.md, "Where Wine falls short of Windows").
    if (runningUnderWine() && std::any_of(run.peers.cbegin(), run.peers.cend(),
                                          [](const Peer &peer) { return peer.kind == Peer::Kind::Closed; }))
        QSKIP("Wine does not report ICMP port unreachable to a connected UDP socket");
    Peers peers(m_chrony);
    QVERIFY2(peers.setUp(run.peers), qPrintable(peers.error));
    const OrvikRun result = runOrvik(peers.substitute(run.arguments));
    const QString out = QString::fromUtf8(result.out);
    const QString err = QString::fromUtf8(result.err);
    QVERIFY2(result.exitCode == run.exitCode, qPrintable(out + err));
    if (run.error.isEmpty())
        QVERIFY2(err.isEmpty(), qPrintable(err));
    else
        QVERIFY2(err.startsWith(QStringLiteral("orvik: ")) && err.count(QLatin1Char('\n')) == 1 &&
                     (run.error.endsWith(QLatin1Char('\n')) ? err == run.error : err.contains(run.error)),
                 qPrintable(err));

    // Each peer saw what the pacing allows, and the table says so of each address.
    for (std::size_t i = 0; i < peers.responders.size(); ++i)
        QVERIFY2(
            peers.responders[i]->requests().size() == run.requests.value(int(i)),
            qPrintable(QStringLiteral("peer %1: %2 requests\n").arg(i).arg(peers.responders[i]->requests().size()) +
                       out));
    const QList<TimeTableRow> rows = timeTableOf(out);
    QCOMPARE(rows.size(), run.statuses.size());
    for (int i = 0; i < rows.size(); ++i) {
        const bool whole = run.statuses[i].contains(QLatin1String(": "));
        QVERIFY2(whole ? rows[i].status == run.statuses[i] : rows[i].status.startsWith(run.statuses[i]),
                 qPrintable(out));
        const int peer = peers.peerAt(rows[i].address, rows[i].port);
        QVERIFY2(peer >= 0, qPrintable(out));
        // A closed port receives nothing of the one request sent to it (it is silent, so not asked again).
        const bool closed = run.peers[peer].kind == Peer::Kind::Closed;
        QCOMPARE(rows[i].requests, closed ? 1 : int(peers.responders[std::size_t(peer)]->requests().size()));
        QVERIFY2(rows[i].answers <= rows[i].requests, qPrintable(out));
    }
    if (run.statuses.isEmpty())
        QVERIFY2(out.isEmpty(), qPrintable(out));

    // Every request left from one of the client's three ports. Those started together held three at
    // once; a fourth address waited for one of them to be free.
    const QList<std::pair<int, quint16>> &arrivals = peers.arrivals;
    QSet<quint16> firstPorts;
    for (int i = 0; i < arrivals.size(); ++i) {
        QVERIFY2(arrivals[i].second >= 42912 && arrivals[i].second <= 42914, qPrintable(out));
        if (i < 3 && i < rows.size())
            firstPorts.insert(arrivals[i].second);
    }
    QCOMPARE(firstPorts.size(), std::min<qsizetype>(3, std::min(rows.size(), arrivals.size())));
    if (run.exitCode != 0)
        return;
    // The answer holds the true offset, the honest servers' (ours), which are the majority.
    const QRegularExpressionMatch answer =
        QRegularExpression(QStringLiteral("\nagreed: (\\d+) of the (\\d+) addresses that answered\n"
                                          "offset: ([+-]\\d+\\.\\d{3}) \u00B1 (\\d+\\.\\d{3}) ms\ntime: \\S+\n$"))
            .match(out);
    QVERIFY2(answer.hasMatch(), qPrintable(out));
    QCOMPARE(answer.captured(1).toInt(), int(run.statuses.count(QStringLiteral("used"))));
    QVERIFY2(qAbs(answer.captured(3).toDouble()) <= answer.captured(4).toDouble(), qPrintable(out));
}

void tst_OrvikTime::jsonDocument()
{
    if (m_chrony.empty())
        QSKIP("chronyd is not installed (Debian package chrony): no honest servers to ask");
    ORVIK_SKIP_WITHOUT_NTP_PORTS();
    Peers peers(m_chrony);
    QVERIFY2(peers.setUp({Peer{Peer::Kind::Chrony}, Peer{Peer::Kind::HourAhead}, Peer{Peer::Kind::Chrony},
                          Peer{Peer::Kind::Chrony}, Peer{Peer::Kind::Silent}}),
             qPrintable(peers.error));
    const OrvikRun result = runOrvik(
        peers.substitute({"time", "{0}", "{1}", "{2}", "{3}", "{4}", "--samples", "1", "--timeout", "0.5", "--json"}));
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.out, &error); // the whole output, one document
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + result.out));
    const QJsonArray addresses = document[QStringLiteral("addresses")].toArray();
    const QStringList statuses{"used", "rejected", "used", "used", "silent"};
    QCOMPARE(addresses.size(), statuses.size());
    for (int i = 0; i < addresses.size(); ++i) {
        const QJsonObject address = addresses[i].toObject();
        QCOMPARE(address[QStringLiteral("status")].toString(), statuses[i]);
        QCOMPARE(address[QStringLiteral("address")].toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(address[QStringLiteral("port")].toInt(), int(peers.responders[std::size_t(i)]->port()));
        QCOMPARE(address[QStringLiteral("requests")].toInt(), 1);
        QCOMPARE(address[QStringLiteral("answers")].toInt(), i == 4 ? 0 : 1);
        QCOMPARE(address.contains(QStringLiteral("offsetNs")), i != 4);
    }
    const qint64 liarOffset = addresses[1][QStringLiteral("offsetNs")].toInteger();
    QVERIFY2(qAbs(liarOffset - kHourNs) <= addresses[1][QStringLiteral("radiusNs")].toInteger(),
             qPrintable(QString::number(liarOffset)));
    QCOMPARE(addresses[0][QStringLiteral("stratum")].toInt(), 8);
    const QJsonObject answer = document[QStringLiteral("result")].toObject();
    QVERIFY(answer[QStringLiteral("agreed")].toBool());
    QCOMPARE(answer[QStringLiteral("groupSize")].toInt(), 3);
    QCOMPARE(answer[QStringLiteral("answered")].toInt(), 4);
    QVERIFY2(qAbs(answer[QStringLiteral("offsetNs")].toInteger()) <= answer[QStringLiteral("boundNs")].toInteger(),
             result.out.constData());
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

QTEST_GUILESS_MAIN(tst_OrvikTime)
#include "tst_orviktime.moc"
