#include "loopback/httptestserver.h"
#include "tests/chronyserver.h"
#include "tests/orvikprocess.h"
#include "tests/time/timetable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

// Under Wine the test cannot start chronyd: a CTest fixture (tests/time/ntschronyd.sh) does, and names
// its folder here, which holds the certificate and "KEPORT NTPPORT".
const char kFixtureVariable[] = "ORVIK_NTS_FIXTURE";

// Until the key-exchange port takes connections: chronyd needs a moment to start.
bool waitForKeyExchange(quint16 port)
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        QTcpSocket socket;
        QSignalSpy connected(&socket, &QTcpSocket::connected);
        QSignalSpy failed(&socket, &QTcpSocket::errorOccurred);
        socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        if (QTest::qWaitFor([&] { return !connected.isEmpty() || !failed.isEmpty(); }, 1000) && !connected.isEmpty())
            return true;
        QTest::qWait(250); // nothing to wait on: chronyd says nothing when it listens
    }
    return false;
}

// What stands between orvik and chronyd's NTP port: it relays the requests and changes the replies as
// an attacker on the path would. chronyd names 127.0.0.2 as its NTP server in the key exchange, and the
// relay listens there on chronyd's port.
class Relay : public QObject
{
public:
    enum class Mode { Pass, Alter, Replay, OtherIdentifier, NtsNak };

    Relay(Mode mode, quint16 port) : m_mode(mode), m_port(port)
    {
        connect(&m_front, &QUdpSocket::readyRead, this, &Relay::request);
        connect(&m_back, &QUdpSocket::readyRead, this, &Relay::reply);
    }

    bool listen()
    {
        return m_front.bind(QHostAddress(QStringLiteral("127.0.0.2")), m_port) &&
               m_back.bind(QHostAddress(QHostAddress::LocalHost), 0);
    }

    int requests = 0;

private:
    // The offset of the first extension field of `type`, or -1.
    static int fieldAt(const QByteArray &datagram, int type)
    {
        for (int at = 48; at + 4 <= datagram.size();) {
            const int length = (uchar(datagram[at + 2]) << 8) | uchar(datagram[at + 3]);
            if (((uchar(datagram[at]) << 8) | uchar(datagram[at + 1])) == type)
                return at;
            if (length < 4)
                break;
            at += length;
        }
        return -1;
    }

    void request()
    {
        while (m_front.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_front.receiveDatagram();
            m_client = datagram.senderAddress();
            m_clientPort = quint16(datagram.senderPort());
            ++requests;
            if (m_mode == Mode::NtsNak) {
                // A kiss-o'-death NTSN that echoes the request's identifier and transmit time.
                QByteArray nak(48, '\0');
                nak[0] = char(0xE4); // leap 3, version 4, server
                nak.replace(12, 4, "NTSN");
                nak.replace(24, 8, datagram.data().mid(40, 8));
                const int id = fieldAt(datagram.data(), 0x0104);
                nak += datagram.data().mid(id, 36);
                m_front.writeDatagram(nak, m_client, m_clientPort);
                continue;
            }
            if (m_mode == Mode::Replay && !m_firstReply.isEmpty()) {
                m_front.writeDatagram(m_firstReply, m_client, m_clientPort);
                continue;
            }
            m_back.writeDatagram(datagram.data(), QHostAddress(QHostAddress::LocalHost), m_port);
        }
    }

    void reply()
    {
        while (m_back.hasPendingDatagrams()) {
            QByteArray data = m_back.receiveDatagram().data();
            if (m_firstReply.isEmpty())
                m_firstReply = data;
            switch (m_mode) {
            case Mode::Alter:
                data[47] = char(data[47] ^ 1); // the transmit time's last bit
                break;
            case Mode::OtherIdentifier: {
                const int at = fieldAt(data, 0x0104);
                if (at > 0)
                    data[at + 4] = char(data[at + 4] ^ 0xFF);
                break;
            }
            default:
                break;
            }
            m_front.writeDatagram(data, m_client, m_clientPort);
        }
    }

    Mode m_mode;
    quint16 m_port;
    QUdpSocket m_front;
    QUdpSocket m_back;
    QHostAddress m_client;
    quint16 m_clientPort = 0;
    QByteArray m_firstReply;
};

} // namespace

// orvik time --nts against Debian's chronyd as an NTS server on loopback, with a certificate made here.
class tst_OrvikNts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void authenticatedTime();
    void withPlainServers();
    void forgedReplies_data();
    void forgedReplies();
    void keyExchangeRefusals_data();
    void keyExchangeRefusals();

private:
    QString m_certificate;
    QTemporaryDir m_dir;
    // Names itself as the NTP server; one that names 127.0.0.2, where a relay stands; one plain.
    std::unique_ptr<ChronyServer> m_direct;
    std::unique_ptr<ChronyServer> m_relayed;
    std::unique_ptr<ChronyServer> m_plain;
    quint16 m_directKe = 0;
    quint16 m_directNtp = 0;
    quint16 m_relayedKe = 0;
};

void tst_OrvikNts::initTestCase()
{
#ifdef Q_OS_WIN
    const QString fixture = qEnvironmentVariable(kFixtureVariable);
    if (fixture.isEmpty())
        QSKIP("no NTS server: the CTest fixture that starts chronyd sets ORVIK_NTS_FIXTURE");
    QFile ports(fixture + QStringLiteral("/server.txt"));
    QVERIFY2(ports.open(QIODevice::ReadOnly), qPrintable(ports.fileName()));
    const QList<QByteArray> numbers = ports.readAll().simplified().split(' ');
    QCOMPARE(numbers.size(), 2);
    m_directKe = quint16(numbers[0].toUInt());
    m_directNtp = quint16(numbers[1].toUInt());
    m_certificate = fixture + QStringLiteral("/cert.pem");
    return;
#endif
    if (ChronyServer::program().isEmpty())
        QSKIP("chronyd is not installed (Debian package chrony)");
    m_certificate = m_dir.filePath(QStringLiteral("server-cert.pem"));
    QString error = makeCertificate(m_dir.filePath("server-key.pem"), m_certificate, "DNS:localhost,IP:127.0.0.1");
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = makeCertificate(m_dir.filePath("other-key.pem"), m_dir.filePath("other-cert.pem"), "DNS:ntp.other.test");
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const auto start = [&](std::unique_ptr<ChronyServer> &server, quint16 &kePort, const QStringList &more) {
        server = std::make_unique<ChronyServer>();
        kePort = ORVIK::HttpTestServer::unusedPort();
        QStringList directives;
        if (kePort != 0)
            directives = QStringList{"ntsserverkey " + m_dir.filePath("server-key.pem"),
                                     "ntsservercert " + m_certificate, QStringLiteral("ntsport %1").arg(kePort),
                                     "ntsprocesses 0", "ntsdumpdir " + server->filePath(QString())} +
                         more;
        return server->start(0, directives) && server->waitUntilServing() &&
               (kePort == 0 || waitForKeyExchange(kePort));
    };
    QVERIFY2(start(m_direct, m_directKe, {}), qPrintable(m_direct->error()));
    QVERIFY2(start(m_relayed, m_relayedKe, {"ntsntpserver 127.0.0.2"}), qPrintable(m_relayed->error()));
    m_plain = std::make_unique<ChronyServer>();
    QVERIFY2(m_plain->start() && m_plain->waitUntilServing(), qPrintable(m_plain->error()));
    m_directNtp = m_direct->port();
}

// The cases that start servers of their own in this process's system: chronyd and python3.
#ifdef Q_OS_WIN
#define SKIP_UNDER_WINDOWS() QSKIP("needs chronyd and python3 started by the test itself")
#else
#define SKIP_UNDER_WINDOWS()                                                                                           \
    do {                                                                                                               \
    } while (false)
#endif

void tst_OrvikNts::authenticatedTime()
{
    const OrvikRun run = runOrvik({"time", "--nts", QStringLiteral("127.0.0.1:%1").arg(m_directKe), "--cacert",
                                   m_certificate, "--samples", "2", "--timeout", "5"});
    const QString out = QString::fromUtf8(run.out);
    QVERIFY2(run.exitCode == 0, qPrintable(out + run.err));
    QVERIFY2(run.err.isEmpty(), run.err.constData());
    const QList<TimeTableRow> rows = timeTableOf(out);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].address, QStringLiteral("127.0.0.1"));
    QCOMPARE(rows[0].port, int(m_directNtp));
    QCOMPARE(rows[0].auth, QStringLiteral("NTS"));
    // Two requests, each with a cookie of its own: the second spends one of the pool or a new one.
    QCOMPARE(rows[0].answers, 2);
    QCOMPARE(rows[0].status, QStringLiteral("used"));
    QVERIFY2(out.contains(QStringLiteral("\nagreed: 1 of the 1 addresses that answered\n")), qPrintable(out));
}

void tst_OrvikNts::withPlainServers()
{
    SKIP_UNDER_WINDOWS();
    // Two NTS servers and a plain one vote together; the JSON says which were authenticated.
    Relay relay(Relay::Mode::Pass, m_relayed->port());
    if (!relay.listen())
        QSKIP("cannot listen on 127.0.0.2 at chronyd's port");
    const OrvikRun run = runOrvik({"time", "--nts", QStringLiteral("127.0.0.1:%1").arg(m_directKe), "--nts",
                                   QStringLiteral("127.0.0.1:%1").arg(m_relayedKe), "--cacert", m_certificate,
                                   QStringLiteral("127.0.0.1:%1").arg(m_plain->port()), "--samples", "1", "--json"});
    QVERIFY2(run.exitCode == 0, run.out + run.err);
    const QJsonObject document = QJsonDocument::fromJson(run.out).object();
    const QJsonArray addresses = document.value(QStringLiteral("addresses")).toArray();
    QCOMPARE(addresses.size(), 3);
    QCOMPARE(addresses[0][QStringLiteral("port")].toInt(), int(m_direct->port()));
    QCOMPARE(addresses[0][QStringLiteral("authenticated")].toBool(), true);
    // chronyd gave 8 cookies; the request spent one and its reply brought new ones, which are kept.
    QVERIFY2(addresses[0][QStringLiteral("ntsCookies")].toInt() > 7, run.out.constData());
    QCOMPARE(addresses[1][QStringLiteral("address")].toString(), QStringLiteral("127.0.0.2"));
    QCOMPARE(addresses[1][QStringLiteral("authenticated")].toBool(), true);
    QCOMPARE(addresses[2][QStringLiteral("port")].toInt(), int(m_plain->port()));
    QCOMPARE(addresses[2][QStringLiteral("authenticated")].toBool(), false);
    QVERIFY(!addresses[2].toObject().contains(QStringLiteral("ntsCookies")));
    for (const QJsonValue &address : addresses)
        QCOMPARE(address[QStringLiteral("status")].toString(), QStringLiteral("used"));
    QCOMPARE(document[QStringLiteral("result")][QStringLiteral("groupSize")].toInt(), 3);
    QCOMPARE(relay.requests, 1);
}

void tst_OrvikNts::forgedReplies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("status"); // the table's status column for the one address
    const auto row = [](const char *name, Relay::Mode mode, int samples, int exitCode, const QString &status) {
        QTest::newRow(name) << int(mode) << samples << exitCode << status;
    };
    const QString unusable = QStringLiteral("unusable: no authentic reply within 1 s; refused one: ");
    row("altered", Relay::Mode::Alter, 1, 1, unusable + "it does not authenticate with the server's key");
    // The first reply is passed on; the second request gets the first reply again.
    row("replayed", Relay::Mode::Replay, 2, 0, "used (refused a reply: it does not echo our unique identifier)");
    row("another-identifier", Relay::Mode::OtherIdentifier, 1, 1, unusable + "it does not echo our unique identifier");
    row("ntsn", Relay::Mode::NtsNak, 2, 1, "refused: kiss-o'-death NTSN, not asked again");
}

void tst_OrvikNts::forgedReplies()
{
    SKIP_UNDER_WINDOWS();
    QFETCH(int, mode);
    QFETCH(int, samples);
    QFETCH(int, exitCode);
    QFETCH(QString, status);
    Relay relay(Relay::Mode(mode), m_relayed->port());
    if (!relay.listen())
        QSKIP("cannot listen on 127.0.0.2 at chronyd's port");
    const OrvikRun run = runOrvik({"time", "--nts", QStringLiteral("127.0.0.1:%1").arg(m_relayedKe), "--cacert",
                                   m_certificate, "--samples", QString::number(samples), "--timeout", "1"});
    const QString out = QString::fromUtf8(run.out);
    QVERIFY2(run.exitCode == exitCode, qPrintable(out + run.err));
    const QList<TimeTableRow> rows = timeTableOf(out);
    // The key exchange names 127.0.0.2, the relay, as the server to ask.
    const auto relayed = std::find_if(
        rows.cbegin(), rows.cend(), [](const TimeTableRow &row) { return row.address == QStringLiteral("127.0.0.2"); });
    QVERIFY2(relayed != rows.cend(), qPrintable(out + run.err));
    QCOMPARE(relayed->auth, QStringLiteral("NTS"));
    QCOMPARE(relayed->status, status);
    // An NTSN is not obeyed at once (it is not authenticated), but the address is not asked again.
    QCOMPARE(relayed->requests, mode == int(Relay::Mode::NtsNak) ? 1 : samples);
    QCOMPARE(relay.requests, relayed->requests);
}

void tst_OrvikNts::keyExchangeRefusals_data()
{
    QTest::addColumn<QString>("refuser");     // a mode of ntske_refuser.py, or empty for chronyd
    QTest::addColumn<QString>("certificate"); // the server's and --cacert's, or empty for no --cacert
    QTest::addColumn<QString>("reason");
    const auto row = [](const char *name, const char *refuser, const char *certificate, const char *reason) {
        QTest::newRow(name) << QString(refuser) << QString(certificate) << QString(reason);
    };
    row("untrusted-certificate", "", "", "the server's certificate is not trusted: self-signed certificate");
    // Trusted, but for another name than the address asked.
    row("certificate-for-another-name", "tls13", "other",
        "the server's certificate is not trusted: IP address mismatch");
    row("tls-1.2", "tls12", "server", "TLS handshake failed: tlsv1 alert protocol version");
    row("another-alpn", "alpn", "server", "the server does not agree to the protocol ntske/1 (ALPN)");
}

void tst_OrvikNts::keyExchangeRefusals()
{
    QFETCH(QString, refuser);
    // Without a TLS server of its own, the certificate of chronyd is still refused: under Windows, by
    // the system's ROOT store, which does not hold it.
    if (!refuser.isEmpty())
        SKIP_UNDER_WINDOWS();
    QFETCH(QString, certificate);
    QFETCH(QString, reason);
    quint16 port = m_directKe;
    QProcess python;
    if (!refuser.isEmpty()) {
        const QString script = QFINDTESTDATA("ntske_refuser.py");
        QVERIFY(!script.isEmpty());
        python.start(QStringLiteral("python3"), {script, refuser, m_dir.filePath(certificate + "-cert.pem"),
                                                 m_dir.filePath(certificate + "-key.pem")});
        QVERIFY2(python.waitForStarted(10000), qPrintable(python.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(python.canReadLine(), 20000);
        port = quint16(python.readLine().trimmed().toUInt());
        QVERIFY(port != 0);
    }
    QStringList arguments{"time", "--nts", QStringLiteral("127.0.0.1:%1").arg(port), "--timeout", "5"};
    if (!certificate.isEmpty())
        arguments << "--cacert" << m_dir.filePath(certificate + "-cert.pem");
    const OrvikRun run = runOrvik(arguments);
    if (python.state() != QProcess::NotRunning) {
        python.closeWriteChannel();
        QVERIFY(python.waitForFinished(10000));
    }
    const QString err = QString::fromUtf8(run.err);
    QVERIFY2(run.exitCode == 1, qPrintable(run.out + err));
    QVERIFY2(err.startsWith(QStringLiteral("orvik: ")) && err.contains(reason), qPrintable(err));
    // The table names it too: an NTS address that was never asked.
    const QList<TimeTableRow> rows = timeTableOf(QString::fromUtf8(run.out));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].auth, QStringLiteral("NTS"));
    QCOMPARE(rows[0].requests, 0);
    QVERIFY2(rows[0].status.startsWith(QStringLiteral("failed: NTS key exchange failed: ")) &&
                 rows[0].status.contains(reason),
             qPrintable(rows[0].status));
}

QTEST_GUILESS_MAIN(tst_OrvikNts)
#include "tst_orviknts.moc"
