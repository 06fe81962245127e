#include "loopback/ntpresponder.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

using ORVIK::NtpResponder;

namespace {

constexpr int kProcessWaitMs = 60000;
constexpr qint64 kServerAheadMs = 2000;

enum class Server { None, Answers, Silent, PortsHeld };

} // namespace

class tst_OrvikTime : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void timeCommand_data();
    void timeCommand();
};

void tst_OrvikTime::timeCommand_data()
{
    QTest::addColumn<Server>("server");
    QTest::addColumn<int>("originShift");       // seconds added to the echoed origin, as a forged reply would carry
    QTest::addColumn<QStringList>("arguments"); // %HOST% and %PORT% stand for the responder's
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // a text that the one line on standard error must contain

    const QStringList query{"time", "%HOST%", "--port", "%PORT%"};
    const QString rejected = QStringLiteral("rejected the reply");
    QTest::newRow("answer-over-ipv4") << Server::Answers << 0 << query << 0 << QString();
    QTest::newRow("origin-before-the-request-is-rejected") << Server::Answers << -10 << query << 1 << rejected;
    QTest::newRow("origin-after-the-receipt-is-rejected") << Server::Answers << 60 << query << 1 << rejected;
    QTest::newRow("silent-server-times-out") << Server::Silent << 0 << (query + QStringList{"--timeout", "0.5"}) << 1
                                             << QStringLiteral("no reply from %HOST% port %PORT% within 0.5 s");
    QTest::newRow("all-receive-ports-held")
        << Server::PortsHeld << 0 << query << 1 << QStringLiteral("local UDP ports 42912 to 42914 are all in use");
    QTest::newRow("unresolvable-host") << Server::None << 0 << QStringList{"time", "no such host"} << 1
                                       << QStringLiteral("cannot resolve no such host");
    QTest::newRow("no-host") << Server::None << 0 << QStringList{"time"} << 2 << QStringLiteral("exactly one HOST");
    QTest::newRow("port-out-of-range") << Server::None << 0 << QStringList{"time", "::1", "--port", "65536"} << 2
                                       << QStringLiteral("--port must be");
}

void tst_OrvikTime::timeCommand()
{
    QFETCH(Server, server);
    QFETCH(int, originShift);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    NtpResponder responder;
    QVERIFY(responder.listen());
    qint64 transmittedMs = 0;
    responder.setScript([&](const QByteArray &request) {
        // A server whose clock runs ahead of ours; mid-millisecond, so that reading it back cannot lose one.
        transmittedMs = QDateTime::currentMSecsSinceEpoch() + kServerAheadMs;
        const quint64 transmit = NtpResponder::timestampFromNanoseconds(transmittedMs * 1000000 + 500000);
        QByteArray reply = NtpResponder::answer(request, transmit, transmit);
        const quint64 sent = NtpResponder::timestampAt(request, NtpResponder::kTransmitOffset);
        NtpResponder::setTimestamp(reply, NtpResponder::kOriginOffset, sent + (quint64(qint64(originShift)) << 32));
        return QList<QByteArray>{reply};
    });
    if (server == Server::Silent)
        responder.setScript(nullptr);
    QUdpSocket holders[3];
    for (int i = 0; server == Server::PortsHeld && i < 3; ++i)
        QVERIFY(holders[i].bind(QHostAddress::Any, quint16(42912 + i), QUdpSocket::DontShareAddress));
    const QString host = responder.address().toString();
    const QString port = QString::number(responder.port());
    error.replace(QStringLiteral("%HOST%"), host).replace(QStringLiteral("%PORT%"), port);
    arguments.replaceInStrings(QStringLiteral("%HOST%"), host).replaceInStrings(QStringLiteral("%PORT%"), port);

    // The responder lives in this process, so its event loop must keep running while orvik waits.
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("orvik")), arguments);
    QVERIFY(finished.wait(kProcessWaitMs));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == exitCode, qPrintable(err));
    QCOMPARE(responder.requests().size(), server == Server::None || server == Server::PortsHeld ? 0 : 1);
    if (exitCode != 0) {
        QVERIFY2(out.isEmpty(), qPrintable(out));
        QVERIFY2(err.startsWith(QStringLiteral("orvik: ")) && err.contains(error) && err.count(QLatin1Char('\n')) == 1,
                 qPrintable(err));
        return;
    }
    QVERIFY2(err.isEmpty(), qPrintable(err));
    const QString transmitted = QDateTime::fromMSecsSinceEpoch(transmittedMs, Qt::UTC).toString(Qt::ISODateWithMs);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^server: %1 port %2\ntransmit time: %3\noffset: ([+-]\\d+\\.\\d{3}) ms\n"
                                          "delay: (\\d+\\.\\d{3}) ms\n$")
                               .arg(QRegularExpression::escape(host), port, transmitted))
            .match(out);
    QVERIFY2(match.hasMatch(), qPrintable(out));
    // Whatever the delay, the true offset lies within half the round trip of the estimate
    // (plus the millisecond that the request's timestamp drops).
    QVERIFY2(qAbs(match.captured(1).toDouble() - kServerAheadMs) <= match.captured(2).toDouble() / 2 + 1.0,
             qPrintable(out));
}

QTEST_GUILESS_MAIN(tst_OrvikTime)
#include "tst_orviktime.moc"
