#include "loopback/httptestserver.h"
#include "loopback/ntpresponder.h"
#include "tests/chronyserver.h"
#include "tests/ntpports.h"
#include "tests/orvikprocess.h"
#include "tests/time/timetable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <tuple>

using namespace ORVIK;

namespace {

// Under Wine the test cannot start chronyd: a CTest fixture (tests/time/ntschronyd.sh) does, and names
// its folder here, which holds the certificate and "KEPORT NTPPORT".
const char kFixtureVariable[] = "ORVIK_NTS_FIXTURE";
// Why the cases that start servers of their own in this process's system (chronyd, python3) skip there.
const char kOwnServers[] = "needs chronyd and python3 started by the test itself";
constexpr quint64 kHour = quint64(3600) << 32; // in NTP timestamp units
constexpr qint64 kHourNs = 3600 * qint64(1000000000);

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

// How the relay between orvik and chronyd's NTP port changes the replies, as an attacker on the path would.
enum class Forgery { None, Alter, Replay, NtsNak };

// Makes `relay` stand between orvik and `server`'s NTP port. chronyd listens on 127.0.0.1 only and names ::1
// as its NTP server in the key exchange, and the relay listens there on chronyd's port.
bool relayTo(NtpResponder &relay, ChronyServer &server, Forgery forgery)
{
    relay.setScript([&server, forgery, first = QByteArray()](const QByteArray &request) mutable {
        if (forgery == Forgery::NtsNak) {
            // A kiss-o'-death NTSN that echoes the request's transmit time and its unique identifier,
            // the first field of orvik's request.
            QByteArray nak(48, '\0');
            nak[0] = char(0xE4); // leap 3, version 4, server
            nak.replace(12, 4, "NTSN");
            nak.replace(24, 8, request.mid(40, 8));
            return QList<QByteArray>{nak + request.mid(48, 36)};
        }
        if (forgery == Forgery::Replay && !first.isEmpty())
            return QList<QByteArray>{first}; // the first reply again, to the second request
        QList<QByteArray> replies = server.ask(request);
        if (first.isEmpty())
            first = replies.value(0);
        if (forgery == Forgery::Alter && !replies.isEmpty())
            replies[0][47] = char(replies[0][47] ^ 1); // the transmit time's last bit
        return replies;
    });
    return relay.listen(QHostAddress(QHostAddress::LocalHostIPv6), server.port());
}

} // namespace

Q_DECLARE_METATYPE(Forgery)

// orvik time --nts against Debian's chronyd as an NTS server on loopback, with a certificate made here.
class tst_OrvikNts : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void withPlainServers();
    void ntsReplies_data();
    void ntsReplies();
    void keyExchangeRefusals_data();
    void keyExchangeRefusals();

private:
    QString m_certificate;
    QTemporaryDir m_dir;
    // Names itself as the NTP server; one that names ::1, where a relay stands, and that is also
    // asked plainly on 127.0.0.1 (none under Windows, where the fixture's is the only one).
    std::unique_ptr<ChronyServer> m_direct;
    std::unique_ptr<ChronyServer> m_relayed;
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
        kePort = HttpTestServer::unusedPort();
        const QStringList directives{"ntsserverkey " + m_dir.filePath("server-key.pem"),
                                     "ntsservercert " + m_certificate, QStringLiteral("ntsport %1").arg(kePort),
                                     "ntsprocesses 0", "ntsdumpdir " + server->filePath(QString())};
        return kePort != 0 && server->start(directives + more) && server->waitUntilServing() &&
               waitForKeyExchange(kePort);
    };
    QVERIFY2(start(m_direct, m_directKe, {}), qPrintable(m_direct->error()));
    QVERIFY2(start(m_relayed, m_relayedKe, {"ntsntpserver ::1"}), qPrintable(m_relayed->error()));
    m_directNtp = m_direct->port();
}

void tst_OrvikNts::withPlainServers()
{
    if (!m_relayed)
        QSKIP(kOwnServers);
    ORVIK_SKIP_WITHOUT_NTP_PORTS(); // the plain servers are asked through the module's client
    // Two NTS servers, one of them also asked plainly, a plain server an hour ahead and a silent one vote
    // together; the JSON says which were authenticated and which agree.
    NtpResponder relay, liar, silent;
    if (!relayTo(relay, *m_relayed, Forgery::None))
        QSKIP("cannot listen on ::1 at chronyd's port");
    liar.setScript([](const QByteArray &request) {
        const quint64 received = NtpResponder::now() + kHour;
        return QList<QByteArray>{NtpResponder::answer(request, received, NtpResponder::now() + kHour)};
    });
    silent.setScript(nullptr);
    QVERIFY(liar.listen() && silent.listen());
    const OrvikRun run = runOrvik(
        {"time", "--nts", QStringLiteral("127.0.0.1:%1").arg(m_directKe), "--nts",
         QStringLiteral("127.0.0.1:%1").arg(m_relayedKe), "--cacert", m_certificate,
         QStringLiteral("127.0.0.1:%1").arg(m_relayed->port()), QStringLiteral("127.0.0.1:%1").arg(liar.port()),
         QStringLiteral("127.0.0.1:%1").arg(silent.port()), "--samples", "1", "--timeout", "1", "--json"});
    QVERIFY2(run.exitCode == 0, run.out + run.err);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(run.out, &error); // the whole output, one document
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString() + run.out));
    const QJsonArray addresses = document[QStringLiteral("addresses")].toArray();
    const QList<std::tuple<const char *, quint16, const char *>> expected{{"127.0.0.1", m_direct->port(), "used"},
                                                                          {"::1", m_relayed->port(), "used"},
                                                                          {"127.0.0.1", m_relayed->port(), "used"},
                                                                          {"127.0.0.1", liar.port(), "rejected"},
                                                                          {"127.0.0.1", silent.port(), "silent"}};
    QCOMPARE(addresses.size(), expected.size());
    for (int i = 0; i < addresses.size(); ++i) {
        const QJsonObject address = addresses[i].toObject();
        const auto [host, port, status] = expected[i];
        QCOMPARE(address[QStringLiteral("address")].toString(), QString::fromLatin1(host));
        QCOMPARE(address[QStringLiteral("port")].toInt(), int(port));
        QCOMPARE(address[QStringLiteral("status")].toString(), QString::fromLatin1(status));
        QCOMPARE(address[QStringLiteral("authenticated")].toBool(), i < 2);
        QCOMPARE(address.contains(QStringLiteral("ntsCookies")), i < 2);
        QCOMPARE(address[QStringLiteral("requests")].toInt(), 1);
        QCOMPARE(address[QStringLiteral("answers")].toInt(), i == 4 ? 0 : 1);
        QCOMPARE(address.contains(QStringLiteral("offsetNs")), i != 4);
    }
    // chronyd gave 8 cookies; the request spent one and its reply brought new ones, which are kept.
    QVERIFY2(addresses[0][QStringLiteral("ntsCookies")].toInt() > 7, run.out.constData());
    QCOMPARE(addresses[0][QStringLiteral("stratum")].toInt(), 8);
    const qint64 liarOffset = addresses[3][QStringLiteral("offsetNs")].toInteger();
    QVERIFY2(qAbs(liarOffset - kHourNs) <= addresses[3][QStringLiteral("radiusNs")].toInteger(),
             qPrintable(QString::number(liarOffset)));
    const QJsonObject answer = document[QStringLiteral("result")].toObject();
    QVERIFY(answer[QStringLiteral("agreed")].toBool());
    QCOMPARE(answer[QStringLiteral("groupSize")].toInt(), 3);
    QCOMPARE(answer[QStringLiteral("answered")].toInt(), 4);
    QVERIFY2(qAbs(answer[QStringLiteral("offsetNs")].toInteger()) <= answer[QStringLiteral("boundNs")].toInteger(),
             run.out.constData());
    QCOMPARE(relay.requests().size(), 1);
}

void tst_OrvikNts::ntsReplies_data()
{
    QTest::addColumn<Forgery>("forgery"); // None: the direct server; else what the relay before the other does
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("status"); // the table's status column for the one address
    QTest::addColumn<int>("answers");
    // Two requests, each with a cookie of its own: the second spends one of the pool or a new one.
    QTest::newRow("authentic") << Forgery::None << 2 << 0 << "used" << 2;
    // Each kind of refusal that tst_orvikntsrules checks in detail (forged, stray, NTSN), as the user sees it.
    QTest::newRow("altered") << Forgery::Alter << 1 << 1
                             << "unusable: no authentic reply within 1 s; refused one: it does not authenticate with "
                                "the server's key"
                             << 0;
    // The first reply is passed on; the second request gets the first reply again.
    QTest::newRow("replayed") << Forgery::Replay << 2 << 0
                              << "used (refused a reply: it does not echo our unique identifier)" << 1;
    QTest::newRow("ntsn") << Forgery::NtsNak << 2 << 1 << "refused: kiss-o'-death NTSN, not asked again" << 0;
}

void tst_OrvikNts::ntsReplies()
{
    QFETCH(Forgery, forgery);
    QFETCH(int, samples);
    QFETCH(int, exitCode);
    QFETCH(QString, status);
    QFETCH(int, answers);
    const bool relayed = forgery != Forgery::None;
    if (relayed && !m_relayed)
        QSKIP(kOwnServers);
    NtpResponder relay;
    if (relayed && !relayTo(relay, *m_relayed, forgery))
        QSKIP("cannot listen on ::1 at chronyd's port");
    const OrvikRun run =
        runOrvik({"time", "--nts", QStringLiteral("127.0.0.1:%1").arg(relayed ? m_relayedKe : m_directKe), "--cacert",
                  m_certificate, "--samples", QString::number(samples), "--timeout", relayed ? "1" : "5"});
    const QString out = QString::fromUtf8(run.out);
    QVERIFY2(run.exitCode == exitCode, qPrintable(out + run.err));
    QVERIFY2(run.err.isEmpty() == (exitCode == 0), run.err.constData());
    const QList<TimeTableRow> rows = timeTableOf(out);
    QCOMPARE(rows.size(), 1);
    // The key exchange names the NTP server to ask: ::1, the relay, or none, so the server itself.
    QCOMPARE(rows[0].address, QString::fromLatin1(relayed ? "::1" : "127.0.0.1"));
    QCOMPARE(rows[0].port, int(relayed ? m_relayed->port() : m_directNtp));
    QCOMPARE(rows[0].auth, QStringLiteral("NTS"));
    QCOMPARE(rows[0].status, status);
    QCOMPARE(rows[0].answers, answers);
    // An NTSN is not obeyed at once (it is not authenticated), but the address is not asked again.
    QCOMPARE(rows[0].requests, forgery == Forgery::NtsNak ? 1 : samples);
    if (relayed)
        QCOMPARE(int(relay.requests().size()), rows[0].requests);
    if (exitCode == 0)
        QVERIFY2(out.contains(QStringLiteral("\nagreed: 1 of the 1 addresses that answered\n")), qPrintable(out));
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
    if (!refuser.isEmpty() && !m_relayed)
        QSKIP(kOwnServers);
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
    endProcess(python);
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
