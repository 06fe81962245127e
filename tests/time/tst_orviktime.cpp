#include "tests/support/ntp/ntpresponder.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <vector>

using ORVIK::NtpResponder;

namespace {

constexpr int kProcessWaitMs = 60000;
constexpr qint64 kMs = 1000000;
constexpr quint64 kOneSecond = quint64(1) << 32; // in NTP timestamp units
constexpr qint64 kServerAheadMs = 2000;

enum class Server { None, Answers, AnswersFromIPv6, OriginTooEarly, OriginTooLate, OriginZero, Silent, PortsHeld };

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

QString isoMilliseconds(quint64 timestamp)
{
    const qint64 ms = NtpResponder::nanosecondsFromTimestamp(timestamp) / kMs;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

double field(const QString &output, const QString &name)
{
    const QRegularExpression pattern(QStringLiteral("^%1: ([+-]?[0-9]+\\.[0-9]{3}) ms$").arg(name),
                                     QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pattern.match(output);
    return match.hasMatch() ? match.captured(1).toDouble() : qQNaN();
}

} // namespace

class tst_OrvikTime : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void timeCommand_data();
    void timeCommand();
    void reportsTheServersTimeAndClockOffset();
    void demoQueriesItsOwnResponder();

private:
    static Run run(const QStringList &arguments);
};

Run tst_OrvikTime::run(const QStringList &arguments)
{
    // The responder lives in this process, so its event loop must keep running while orvik waits.
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("orvik")), arguments);
    if (!process.waitForStarted(kProcessWaitMs) || !finished.wait(kProcessWaitMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, QStringLiteral("orvik did not finish")};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

void tst_OrvikTime::timeCommand_data()
{
    QTest::addColumn<Server>("server");
    QTest::addColumn<QStringList>("arguments"); // %HOST% and %PORT% stand for the responder's
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // a pattern that standard output must match
    QTest::addColumn<QString>("error");  // a text that standard error must contain

    const QString answered = QStringLiteral("^server: %HOST% port %PORT%\ntransmit time: \\d{4}-\\d\\d-\\d\\dT"
                                            "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z\noffset: [+-]\\d+\\.\\d{3} ms\n"
                                            "delay: \\d+\\.\\d{3} ms\n$");
    const QStringList query{"time", "%HOST%", "--port", "%PORT%"};
    QTest::newRow("answer-over-ipv4") << Server::Answers << query << 0 << answered << QString();
    QTest::newRow("answer-over-ipv6") << Server::AnswersFromIPv6 << query << 0 << answered << QString();
    QTest::newRow("origin-before-the-request-is-rejected")
        << Server::OriginTooEarly << query << 1 << QStringLiteral("^$") << QStringLiteral("rejected the reply");
    QTest::newRow("origin-after-the-receipt-is-rejected")
        << Server::OriginTooLate << query << 1 << QStringLiteral("^$") << QStringLiteral("rejected the reply");
    QTest::newRow("zero-origin-is-rejected")
        << Server::OriginZero << query << 1 << QStringLiteral("^$") << QStringLiteral("rejected the reply");
    QTest::newRow("silent-server-times-out")
        << Server::Silent << (query + QStringList{"--timeout", "0.5"}) << 1 << QStringLiteral("^$")
        << QStringLiteral("no reply from %HOST% port %PORT% within 0.5 s");
    QTest::newRow("all-receive-ports-held") << Server::PortsHeld << query << 1 << QStringLiteral("^$")
                                            << QStringLiteral("local UDP ports 42912 to 42914 are all in use");
    QTest::newRow("unresolvable-host") << Server::None << QStringList{"time", "no such host"} << 1
                                       << QStringLiteral("^$") << QStringLiteral("cannot resolve no such host");
    QTest::newRow("no-host") << Server::None << QStringList{"time"} << 2 << QStringLiteral("^$")
                             << QStringLiteral("exactly one HOST");
    QTest::newRow("two-hosts") << Server::None << QStringList{"time", "a", "b"} << 2 << QStringLiteral("^$")
                               << QStringLiteral("exactly one HOST");
    for (const char *port : {"0", "65536", "ntp"})
        QTest::addRow("port-%s", port) << Server::None << QStringList{"time", "127.0.0.1", "--port", port} << 2
                                       << QStringLiteral("^$") << QStringLiteral("--port must be");
    for (const char *timeout : {"0", "soon", "86400"})
        QTest::addRow("timeout-%s", timeout) << Server::None << QStringList{"time", "127.0.0.1", "--timeout", timeout}
                                             << 2 << QStringLiteral("^$") << QStringLiteral("--timeout must be");
}

void tst_OrvikTime::timeCommand()
{
    QFETCH(Server, server);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);

    NtpResponder responder;
    QVERIFY(responder.listen(
        QHostAddress(server == Server::AnswersFromIPv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost)));
    // Shifts the echoed origin of an otherwise normal answer, as a forged datagram would carry.
    const auto answerWithOrigin = [&](std::function<quint64(quint64)> origin) {
        responder.setScript([origin](const QByteArray &request) {
            QByteArray reply = NtpResponder::answer(request, NtpResponder::now(), NtpResponder::now());
            const quint64 sent = NtpResponder::timestampAt(request, NtpResponder::kTransmitOffset);
            NtpResponder::setTimestamp(reply, NtpResponder::kOriginOffset, origin(sent));
            return QList<QByteArray>{reply};
        });
    };
    std::vector<std::unique_ptr<QUdpSocket>> holders;
    switch (server) {
    case Server::OriginTooEarly:
        answerWithOrigin([](quint64 sent) { return sent - 10 * kOneSecond; });
        break;
    case Server::OriginTooLate:
        answerWithOrigin([](quint64 sent) { return sent + 60 * kOneSecond; });
        break;
    case Server::OriginZero:
        answerWithOrigin([](quint64) { return quint64(0); });
        break;
    case Server::Silent:
        responder.staySilent();
        break;
    case Server::PortsHeld:
        for (quint16 port : {42912, 42913, 42914}) {
            holders.push_back(std::make_unique<QUdpSocket>());
            QVERIFY(holders.back()->bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress));
        }
        break;
    case Server::None:
    case Server::Answers:
    case Server::AnswersFromIPv6:
        break;
    }
    const QString host = responder.address().toString();
    const QString port = QString::number(responder.port());
    output.replace(QStringLiteral("%HOST%"), QRegularExpression::escape(host)).replace(QStringLiteral("%PORT%"), port);
    error.replace(QStringLiteral("%HOST%"), host).replace(QStringLiteral("%PORT%"), port);
    arguments.replaceInStrings(QStringLiteral("%HOST%"), host).replaceInStrings(QStringLiteral("%PORT%"), port);

    const Run result = run(arguments);
    QVERIFY2(result.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stderr: %2").arg(result.exitCode).arg(result.err)));
    QVERIFY2(QRegularExpression(output).match(result.out).hasMatch(), qPrintable(result.out));
    if (error.isEmpty())
        QVERIFY2(result.err.isEmpty(), qPrintable(result.err));
    else
        QVERIFY2(result.err.startsWith(QStringLiteral("orvik: ")) && result.err.contains(error) &&
                     result.err.count(QLatin1Char('\n')) == 1,
                 qPrintable(result.err));
    const bool sent = server != Server::None && server != Server::PortsHeld;
    QCOMPARE(responder.requests().size(), sent ? 1 : 0);
}

void tst_OrvikTime::reportsTheServersTimeAndClockOffset()
{
    NtpResponder responder;
    QVERIFY(responder.listen());
    quint64 transmitted = 0;
    responder.setScript([&](const QByteArray &request) {
        // A server whose clock runs 2 s ahead of ours.
        const quint64 ahead = NtpResponder::timestampFromNanoseconds(
            NtpResponder::nanosecondsFromTimestamp(NtpResponder::now()) + kServerAheadMs * kMs);
        transmitted = ahead;
        return QList<QByteArray>{NtpResponder::answer(request, ahead, ahead)};
    });
    const Run result = run({"time", "127.0.0.1", "--port", QString::number(responder.port())});
    QVERIFY2(result.exitCode == 0, qPrintable(result.err));
    QVERIFY(result.out.contains(QStringLiteral("\ntransmit time: %1\n").arg(isoMilliseconds(transmitted))));

    // Whatever the delay, the true offset lies within half the round trip of the estimate
    // (plus the millisecond that the request's timestamp drops).
    const double offset = field(result.out, QStringLiteral("offset"));
    const double delay = field(result.out, QStringLiteral("delay"));
    QVERIFY2(delay >= 0, qPrintable(result.out));
    QVERIFY2(qAbs(offset - kServerAheadMs) <= delay / 2 + 1.0, qPrintable(result.out));
}

void tst_OrvikTime::demoQueriesItsOwnResponder()
{
    const Run result = run({"demo"});
    const qsizetype section = result.out.indexOf(QStringLiteral("== network time ==\n"));
    QVERIFY2(section >= 0, qPrintable(result.out + result.err));
    const QString ours = result.out.mid(section).section(QStringLiteral("\n=="), 0, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("NTP responder on 127\\.0\\.0\\.1 port (\\d+)\nserver: 127\\.0\\.0\\.1 "
                                               "port \\1\ntransmit time: .+\noffset: .+ ms\ndelay: .+ ms(\n|$)"))
                 .match(ours)
                 .hasMatch(),
             qPrintable(ours));
    QVERIFY2(!result.out.contains(QStringLiteral("-- network time: FAILED")), qPrintable(result.out));
}

QTEST_GUILESS_MAIN(tst_OrvikTime)
#include "tst_orviktime.moc"
