#include "network/qtnetworkaccessmanager.h"
#include "tests/support/ntp/ntpresponder.h"
#include "time/ntpclient.h"
#include "time/ntptimestamp.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>

#include <unistd.h>

using namespace ORVIK;

namespace {

constexpr int kWaitMs = 10000;
constexpr qint64 kMs = 1000000;
constexpr qint64 kServerStartMs = 20000;

QByteArray clientRequest()
{
    QByteArray request(NtpResponder::kHeaderSize, '\0');
    request[0] = 0x23;
    NtpResponder::setTimestamp(request, NtpResponder::kTransmitOffset, NtpResponder::now());
    return request;
}

qint64 distanceMs(Time a, Time b)
{
    return qAbs(a.nanoseconds() - b.nanoseconds()) / kMs;
}

} // namespace

// The client against a real NTP server: chronyd from Debian's chrony package, serving on a loopback
// port with a configuration of its own and without touching the system clock.
class tst_NtpChrony : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void replyEchoesTheRequestThroughARecordingRelay();

private:
    bool serverAnswers();
    QString failureDetails() { return QString::fromLocal8Bit(m_server.readAll()); }

    QTemporaryDir m_dir;
    QProcess m_server;
    quint16 m_port = 0;
};

void tst_NtpChrony::initTestCase()
{
    QString chronyd = QStandardPaths::findExecutable(QStringLiteral("chronyd"));
    if (chronyd.isEmpty())
        chronyd = QStandardPaths::findExecutable(QStringLiteral("chronyd"), {"/usr/sbin", "/sbin"});
    if (chronyd.isEmpty())
        QSKIP("chronyd is not installed (Debian package chrony): no real NTP server to test against");

    QVERIFY(m_dir.isValid());
    {
        // An ephemeral port, released again for the server to take.
        QUdpSocket picker;
        QVERIFY(picker.bind(QHostAddress::LocalHost, 0));
        m_port = picker.localPort();
    }
    const QString config = m_dir.filePath(QStringLiteral("chrony.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("port %1\n"
                              "bindaddress 127.0.0.1\n"
                              "allow 127.0.0.1\n"
                              "local stratum 8\n"
                              "cmdport 0\n"
                              "pidfile %2\n"
                              "driftfile %3\n")
                   .arg(m_port)
                   .arg(m_dir.filePath(QStringLiteral("chronyd.pid")), m_dir.filePath(QStringLiteral("drift")))
                   .toUtf8());
    file.close();

    // -d: stay in the foreground, -x: never adjust the system clock. As root it keeps its privileges
    // (its own user could not write the temporary folder); otherwise it skips the root check.
    QStringList arguments{QStringLiteral("-d"), QStringLiteral("-x"), QStringLiteral("-f"), config};
    arguments << (geteuid() == 0 ? QStringList{QStringLiteral("-u"), QStringLiteral("root")}
                                 : QStringList{QStringLiteral("-U")});
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(chronyd, arguments);
    QVERIFY2(m_server.waitForStarted(kWaitMs), qPrintable(m_server.errorString()));
    QVERIFY2(serverAnswers(),
             qPrintable(QStringLiteral("chronyd did not answer on port %1:\n%2").arg(m_port).arg(failureDetails())));
}

void tst_NtpChrony::cleanupTestCase()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(kWaitMs))
        m_server.kill();
    m_server.waitForFinished(kWaitMs);
}

// The server needs a moment to bind; ask until it answers or gives up.
bool tst_NtpChrony::serverAnswers()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return false;
    QSignalSpy readable(&probe, &QUdpSocket::readyRead);
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < kServerStartMs && m_server.state() == QProcess::Running) {
        probe.writeDatagram(clientRequest(), QHostAddress::LocalHost, m_port);
        if (readable.wait(250) || probe.hasPendingDatagrams())
            return true;
    }
    return false;
}

void tst_NtpChrony::replyEchoesTheRequestThroughARecordingRelay()
{
    // The relay sees the exact request and reply bytes, so the echo can be compared exactly.
    NtpResponder relay;
    QVERIFY2(relay.listen(), qPrintable(relay.errorString()));
    relay.relayTo(QHostAddress(QHostAddress::LocalHost), m_port);
    QtNetworkAccessManager manager;
    const std::unique_ptr<TimeRequest> request(manager.createTimeRequest("127.0.0.1", relay.port()));
    QSignalSpy finished(request.get(), &TimeRequest::finishedSignal);
    QSignalSpy errors(request.get(), &TimeRequest::errorOccurredSignal);
    QVERIFY2(finished.wait(kWaitMs), qPrintable(failureDetails()));
    const Time now = Time::SystemTime();
    QCOMPARE(errors.size(), 0);
    QCOMPARE(relay.requests().size(), 1);
    QCOMPARE(relay.relayedReplies().size(), 1);

    const QByteArray sent = relay.requests().constFirst().bytes;
    const QByteArray reply = relay.relayedReplies().constFirst();
    QVERIFY(reply.size() >= NtpResponder::kHeaderSize);
    QCOMPARE(reply[0] & 0x07, 4); // server mode
    QCOMPARE(reply.mid(NtpResponder::kOriginOffset, 8), sent.mid(NtpResponder::kTransmitOffset, 8));

    const Time ownTransmit = NtpTimestamp::read(reinterpret_cast<const uint8_t *>(sent.constData()) + 40).toTime();
    QCOMPARE(request->serverTime(), ownTransmit);
    QVERIFY2(distanceMs(request->txTime(), now) < 50,
             qPrintable(QStringLiteral("server %1 ms away").arg(distanceMs(request->txTime(), now))));
    QVERIFY(request->rxTime() >= request->serverTime());
    QVERIFY(request->rxTime() <= now);
}

QTEST_GUILESS_MAIN(tst_NtpChrony)
#include "tst_ntpchrony.moc"
