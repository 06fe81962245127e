#include "loopback/ntpresponder.h"
#include "tests/chronyserver.h"
#include "tests/ntpports.h"
#include "tests/orvikprocess.h"
#include "tests/time/timetable.h"
#include "tests/wine.h"
#include "time/ntppacket.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

using namespace ORVIK;

namespace {

constexpr qint64 kSecond = qint64(1) << 32; // in NTP timestamp units
constexpr qint64 kHour = 3600 * kSecond;

// A peer of one run: a relay to chronyd (an honest server), a responder whose script plays the liar, refuses,
// stays silent (no script) or changes an honest reply; or a closed port.
struct Peer
{
    enum class Kind { Chrony, Scripted, Closed };
    Kind kind;
    NtpResponder::Script script{};
    bool ipv6 = false; // listens on ::1
    bool portOfPrevious = false;
};

// An honest reply of our own clock, then as many datagrams as `forge` makes of it.
Peer forging(const std::function<QList<QByteArray>(QByteArray &reply)> &forge)
{
    return {Peer::Kind::Scripted, [forge](const QByteArray &request) {
                const quint64 received = NtpResponder::now(); // read first: the reply leaves after its request came
                QByteArray reply = NtpResponder::answer(request, received, NtpResponder::now());
                return forge(reply);
            }};
}

// An honest reply, changed.
Peer changed(const std::function<void(QByteArray &reply)> &change)
{
    return forging([change](QByteArray &reply) {
        change(reply);
        return QList<QByteArray>{reply};
    });
}

void shiftTimestamp(QByteArray &reply, int offset, qint64 by)
{
    NtpResponder::setTimestamp(reply, offset, NtpResponder::timestampAt(reply, offset) + quint64(by));
}

// One run of orvik time against the peers. In the arguments {0}, {1}, ... stand for peer i as HOST:PORT,
// {P0}, {P1}, ... for its port alone. The table of standard output must list the peers' addresses in the
// order given, each with its status (the whole text when it has ": ", else its start) and how many
// requests its peer received.
struct TimeRun
{
    QList<Peer> peers;
    QStringList arguments;
    int exitCode;
    QStringList statuses;
    QList<int> requests; // that each peer received
    QString error{};     // that the one line on standard error contains (is, with its line end); empty: nothing on it
};

// The peers of one run, each on a loopback port of its own, and every request they received in order.
struct Peers
{
    bool setUp(const QList<Peer> &peers)
    {
        for (int i = 0; i < peers.size(); ++i) {
            const Peer &peer = peers[i];
            auto responder = std::make_unique<NtpResponder>();
            const QHostAddress address(peer.ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost);
            const quint16 port = peer.portOfPrevious ? responders.back()->port() : 0;
            if (!responder->listen(address, port)) {
                error = responder->errorString();
                return false;
            }
            responder->setScript(peer.script);
            if (peer.kind == Peer::Kind::Closed)
                responder->close();
            NtpResponder *recorder = responder.get();
            QObject::connect(recorder, &NtpResponder::requestReceived, recorder,
                             [this, recorder] { arrivals.append(recorder->requests().constLast().senderPort()); });
            responders.push_back(std::move(responder));
        }
        return true;
    }

    // {i}: peer i as ADDRESS:PORT (an IPv4 peer); {Pi}: its port.
    QStringList substitute(QStringList arguments) const
    {
        for (std::size_t i = 0; i < responders.size(); ++i) {
            const QString port = QString::number(responders[i]->port());
            arguments.replaceInStrings(QStringLiteral("{%1}").arg(i), responders[i]->address().toString() + ':' + port);
            arguments.replaceInStrings(QStringLiteral("{P%1}").arg(i), port);
        }
        return arguments;
    }

    std::vector<std::unique_ptr<NtpResponder>> responders;
    QList<int> arrivals; // the port of each request, in the order they came
    QString error;
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

private:
    std::unique_ptr<ChronyServer> m_chrony; // the honest servers' clock, when chrony is installed
};

void tst_OrvikTime::initTestCase()
{
    if (ChronyServer::program().isEmpty())
        return; // the rows that need it say so
    m_chrony = std::make_unique<ChronyServer>();
    QVERIFY2(m_chrony->start() && m_chrony->waitUntilServing(), qPrintable(m_chrony->error()));
}

void tst_OrvikTime::timeCommand_data()
{
    QTest::addColumn<TimeRun>("run");
    using K = Peer::Kind;
    // A recording relay in front of chronyd, which serves our clock; every relay asks it in turn.
    const Peer chrony{K::Chrony, [server = m_chrony.get()](const QByteArray &request) { return server->ask(request); }};
    const Peer silent{K::Scripted};
    const Peer liar = changed([](QByteArray &reply) {
        shiftTimestamp(reply, NtpPacket::kReceiveOffset, kHour);
        shiftTimestamp(reply, NtpPacket::kTransmitOffset, kHour);
    });
    const auto kiss = [](const QByteArray &code) {
        return changed([code](QByteArray &reply) {
            reply[NtpPacket::kStratumOffset] = 0;
            reply.replace(NtpPacket::kReferenceIdOffset, 4, code);
        });
    };
    const auto bytesAt = [](int at, const QByteArray &bytes) {
        return changed([at, bytes](QByteArray &reply) { reply.replace(at, bytes.size(), bytes); });
    };
    const Peer strayFirst = forging([](QByteArray &reply) {
        QByteArray stray = reply;
        shiftTimestamp(stray, NtpPacket::kOriginOffset, 1);
        stray[NtpPacket::kStratumOffset] = 0; // were it taken, a kiss-o'-death would end the query
        stray.replace(NtpPacket::kReferenceIdOffset, 4, "DENY");
        return QList<QByteArray>{stray, reply};
    });
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
    // Also the message of no majority, whole.
    row("a-server-named-twice-gets-one-vote", {liar, chrony}, "time {0} {0} {1} --samples 1", 1, "undecided|undecided",
        {1, 1},
        "orvik: no majority agrees on the time: the largest group that agrees is 1 of the 2 addresses that "
        "answered\n");
    row("one---port-for-an-ipv4-and-an-ipv6-address", {chrony, Peer{K::Chrony, chrony.script, true, true}},
        "time 127.0.0.1 ::1 --port {P0} --samples 1", 0, "used|used", {1, 1});
    row("a-stray-datagram-before-the-answer-is-passed-over", {strayFirst}, "time {0} --samples 1", 0, "used", {1});
    // ICMP port unreachable reaches only a connected socket: orvik's own datagram hears it. A server
    // that is there and silent is not called closed.
    const QString silentHalf = QStringLiteral("silent: no reply within 0.5 s");
    row("a-closed-port-is-silent-and-refuses", {Peer{K::Closed}, silent}, "time {0} {1} --timeout 0.5", 1,
        silentHalf + "; the connection was refused: ICMP port unreachable|" + silentHalf, {0, 1}, noneUsable);

    // A reply that fails the checks ends what that address says, though more requests were asked for.
    const auto unusable = [&](const char *name, const Peer &peer, const QString &reason) {
        row(name, {peer}, "time {0}", 1, "unusable: " + reason, {1}, noneUsable);
    };
    unusable("client-mode-reply", bytesAt(0, "\x23"), "it is not a server reply (mode 3)");
    unusable("leap-indicator-3", bytesAt(0, "\xE4"), "the server is not synchronised (leap indicator 3)");
    unusable("stratum-16", bytesAt(1, "\x10"), "the server is not synchronised (stratum 16)");
    unusable("zero-transmit-time", bytesAt(40, QByteArray(8, '\0')), "its transmit time is zero");
    unusable("received-in-2036-after-sent", bytesAt(32, QByteArray(8, '\xFF')),
             "its receive and transmit times do not fit in our round trip");
    // A reply that does not echo our stamp answers some other request: it is passed over, so the server
    // has not answered.
    const auto notOurs = [&](const char *name, qint64 shift) {
        const Peer peer =
            changed([shift](QByteArray &reply) { shiftTimestamp(reply, NtpPacket::kOriginOffset, shift); });
        row(name, {peer}, "time {0} --timeout 0.5", 1, silentHalf, {1}, noneUsable);
    };
    notOurs("origin-before-the-request", -10 * kSecond);
    notOurs("origin-after-the-receipt", 60 * kSecond);

    QTest::newRow("unresolvable-host") << TimeRun{
        {}, {"time", "no such host"}, 1, {}, {}, "orvik: cannot resolve no such host\n"};
    row("no-host", {}, "time", 2, "", {}, "orvik: time needs at least one HOST or --nts HOST\n");
    row("bracket-left-open", {}, "time [::1", 2, "", {}, "does not close");
    row("nine-samples", {}, "time ::1 --samples 9", 2, "", {}, "orvik: --samples must be a number from 1 to 8\n");
}

void tst_OrvikTime::timeCommand()
{
    QFETCH(TimeRun, run);
    const auto has = [&run](Peer::Kind kind) {
        return std::any_of(run.peers.cbegin(), run.peers.cend(),
                           [kind](const Peer &peer) { return peer.kind == kind; });
    };
    if (!m_chrony && has(Peer::Kind::Chrony))
        QSKIP("chronyd is not installed (Debian package chrony): no honest servers to ask");
    if (!run.peers.isEmpty())
        ORVIK_SKIP_WITHOUT_NTP_PORTS();
    // Windows reports ICMP port unreachable to a connected UDP socket as WSAECONNRESET; Wine's recv
    // reports nothing (see docs/windows.md, "Where Wine falls short of Windows").
    if (runningUnderWine() && has(Peer::Kind::Closed))
        QSKIP("Wine does not report ICMP port unreachable to a connected UDP socket");
    Peers peers;
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

    // Each peer saw what the pacing allows, and the table, one line per peer, says so of each address.
    const QList<TimeTableRow> rows = timeTableOf(out);
    QVERIFY2(rows.size() == run.statuses.size() && rows.size() == qsizetype(peers.responders.size()), qPrintable(out));
    for (int i = 0; i < rows.size(); ++i) {
        const bool whole = run.statuses[i].contains(QLatin1String(": "));
        QVERIFY2(whole ? rows[i].status == run.statuses[i] : rows[i].status.startsWith(run.statuses[i]),
                 qPrintable(out));
        const NtpResponder &peer = *peers.responders[std::size_t(i)];
        QVERIFY2(rows[i].address == peer.address().toString() && rows[i].port == peer.port(), qPrintable(out));
        QVERIFY2(peer.requests().size() == run.requests[i],
                 qPrintable(QStringLiteral("%1 requests\n").arg(peer.requests().size()) + out));
        // A closed port receives nothing of the one request sent to it (it is silent, so not asked again).
        const bool closed = run.peers[i].kind == Peer::Kind::Closed;
        QCOMPARE(rows[i].requests, closed ? 1 : int(peer.requests().size()));
        QVERIFY2(rows[i].answers <= rows[i].requests, qPrintable(out));
    }
    if (run.statuses.isEmpty())
        QVERIFY2(out.isEmpty(), qPrintable(out));

    // Every request left from one of the client's three ports. Those started together held three at
    // once; a fourth address waited for one of them to be free.
    const QList<int> &arrivals = peers.arrivals;
    QSet<int> firstPorts;
    for (int i = 0; i < arrivals.size(); ++i) {
        QVERIFY2(arrivals[i] >= 42912 && arrivals[i] <= 42914, qPrintable(out));
        if (i < 3 && i < rows.size())
            firstPorts.insert(arrivals[i]);
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

QTEST_GUILESS_MAIN(tst_OrvikTime)
#include "tst_orviktime.moc"
