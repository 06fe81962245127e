#include "apps/orvik/transferprogress.h"
#include "tests/support/http/httptestserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

// `orvik get` and `orvik put` as processes against the loopback server of this test.
class tst_TransferCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void getSucceeds_data();
    void getSucceeds();
    void getFails_data();
    void getFails();
    void failedGetKeepsTheExistingFile();
    void putSucceeds_data();
    void putSucceeds();
    void putFails_data();
    void putFails();
    void usageErrors_data();
    void usageErrors();
    void plainProgressLinesWithoutTerminal();
    void demoTransfersThroughTheModule();

    void describesProgress_data();
    void describesProgress();

private:
    struct Result
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    // Runs orvik while this test's event loop keeps serving requests.
    Result run(const QStringList &arguments);
    QString path(const QString &name) const { return m_dir.filePath(name); }
    HttpTestServer &serverFor(bool tls) { return tls ? m_tls : m_plain; }

    HttpTestServer m_plain;
    HttpTestServer m_tls;
    QTemporaryDir m_dir;
};

void tst_TransferCommands::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_plain.listen(), qPrintable(m_plain.errorString()));
    QVERIFY2(m_tls.listen(HttpTestServer::Transport::Tls), qPrintable(m_tls.errorString()));
    for (HttpTestServer *server : {&m_plain, &m_tls}) {
        HttpTestServer::Route small;
        small.body = "small body\n";
        server->setRoute("/small", small);
        HttpTestServer::Route large;
        large.generatedSize = 6 * 1024 * 1024 + 3;
        large.framing = HttpTestServer::Framing::Chunked;
        server->setRoute("/large", large);
    }
}

void tst_TransferCommands::init()
{
    m_plain.clearRecords();
    m_tls.clearRecords();
}

tst_TransferCommands::Result tst_TransferCommands::run(const QStringList &arguments)
{
    QProcess process;
    process.setProgram(QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("orvik")));
    process.setArguments(arguments);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start();
    Result result;
    if (!process.waitForStarted(20000) || !(finished.count() > 0 || finished.wait(60000))) {
        process.kill();
        process.waitForFinished();
        result.err = "orvik did not finish: " + arguments.join(' ').toUtf8();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void tst_TransferCommands::getSucceeds_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("route");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("toFile");

    QTest::newRow("small-to-file") << false << "/small" << QStringList() << true;
    QTest::newRow("small-to-standard-output") << false << "/small" << QStringList() << false;
    QTest::newRow("large-chunked-to-file") << false << "/large" << QStringList() << true;
    QTest::newRow("large-to-standard-output") << false << "/large" << QStringList() << false;
    QTest::newRow("https-insecure") << true << "/large" << QStringList{"--insecure"} << true;
    QTest::newRow("with-timeout-to-spare") << false << "/small" << QStringList{"--timeout", "30"} << true;
    QTest::newRow("port-option-replaces-url-port")
        << false << "/small" << QStringList{"--port", QString::number(m_plain.port())} << true;
}

void tst_TransferCommands::getSucceeds()
{
    QFETCH(bool, tls);
    QFETCH(QString, route);
    QFETCH(QStringList, options);
    QFETCH(bool, toFile);

    const HttpTestServer &server = serverFor(tls);
    const QString output = path(QStringLiteral("get-%1.out").arg(QLatin1String(QTest::currentDataTag())));
    QUrl url = server.url(route);
    if (options.contains(QStringLiteral("--port")))
        url.setPort(HttpTestServer::unusedPort()); // only the option's port leads to the server
    QStringList arguments = QStringList{"get", url.toString()} + options;
    if (toFile)
        arguments << "-o" << output;
    const Result result = run(arguments);
    QVERIFY2(result.exitCode == 0, result.err.constData());

    const QByteArray expected = route == QLatin1String("/small") ? QByteArray("small body\n")
                                                                 : HttpTestServer::patternBytes(0, 6 * 1024 * 1024 + 3);
    if (toFile) {
        QFile file(output);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == expected);
        QVERIFY(result.out.contains("saved " + QByteArray::number(expected.size()) + " bytes"));
    } else {
        QVERIFY(result.out == expected);
    }
    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(server.request(0).method, QByteArray("GET"));
    QCOMPARE(server.request(0).path(), route.toUtf8());
}

void tst_TransferCommands::getFails_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("expectedError");

    QTest::newRow("http-404") << "/nowhere" << QStringList() << QByteArray("orvik: Content Not Found");
    QTest::newRow("http-500") << "/fail500" << QStringList() << QByteArray("orvik: Internal Server Error");
    QTest::newRow("http-401") << "/locked" << QStringList() << QByteArray("orvik: Authentication Required");
    QTest::newRow("wrong-password") << "/locked" << QStringList{"--user", "ann", "--password", "wrong"}
                                    << QByteArray("orvik: Authentication Required");
    QTest::newRow("connection-refused") << "refused" << QStringList() << QByteArray("orvik: Connection Refused");
    QTest::newRow("closed-mid-body") << "/cut" << QStringList() << QByteArray("orvik: Remote Host Closed");
    QTest::newRow("untrusted-certificate") << "tls" << QStringList() << QByteArray("orvik: SSL Handshake");
    QTest::newRow("timeout") << "/stall" << QStringList{"--timeout", "1"} << QByteArray("orvik: timed out after 1 s");
}

void tst_TransferCommands::getFails()
{
    QFETCH(QString, what);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, expectedError);

    HttpTestServer::Route fail500;
    fail500.status = 500;
    m_plain.setRoute("/fail500", fail500);
    HttpTestServer::Route locked;
    locked.body = "secret";
    locked.basicAuth = "ann:right";
    m_plain.setRoute("/locked", locked);
    HttpTestServer::Route cut;
    cut.generatedSize = 100000;
    cut.dropAfter = 20000;
    m_plain.setRoute("/cut", cut);
    HttpTestServer::Route stall;
    stall.stall = true;
    m_plain.setRoute("/stall", stall);

    QUrl url = m_plain.url(what);
    if (what == QLatin1String("refused")) {
        url.setPort(HttpTestServer::unusedPort());
        url.setPath(QStringLiteral("/"));
    } else if (what == QLatin1String("tls")) {
        url = m_tls.url(QStringLiteral("/small"));
    }
    const QString output = path(QStringLiteral("fail-%1.out").arg(QLatin1String(QTest::currentDataTag())));
    const Result result = run(QStringList{"get", url.toString(), "-o", output} + options);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(expectedError + '\n'), result.err.constData());
    QVERIFY(!QFile::exists(output));
}

void tst_TransferCommands::failedGetKeepsTheExistingFile()
{
    const QString output = path(QStringLiteral("keep.out"));
    QFile file(output);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("previous content");
    file.close();
    const Result result = run({"get", m_plain.url("/nowhere").toString(), "-o", output});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("previous content"));
}

void tst_TransferCommands::putSucceeds_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QByteArray>("fileContent"); // null: --data
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("expectedBody");

    QTest::newRow("file") << false << QByteArray("file body\n") << QStringList() << QByteArray("file body\n");
    QTest::newRow("empty-file") << false << QByteArray("") << QStringList() << QByteArray();
    QTest::newRow("large-file") << false << HttpTestServer::patternBytes(5, 9 * 1024 * 1024) << QStringList()
                                << HttpTestServer::patternBytes(5, 9 * 1024 * 1024);
    QTest::newRow("data-text") << false << QByteArray() << QStringList{"--data", "k=v \u00e9"}
                               << QByteArray("k=v \xc3\xa9");
    QTest::newRow("https-file-insecure") << true << QByteArray("over tls") << QStringList{"--insecure"}
                                         << QByteArray("over tls");
    QTest::newRow("with-credentials") << false << QByteArray("mine")
                                      << QStringList{"--user", "ann", "--password", "right"} << QByteArray("mine");
}

void tst_TransferCommands::putSucceeds()
{
    QFETCH(bool, tls);
    QFETCH(QByteArray, fileContent);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, expectedBody);

    HttpTestServer &server = serverFor(tls);
    HttpTestServer::Route store;
    store.status = 201;
    store.basicAuth = options.contains(QStringLiteral("--user")) ? "ann:right" : "";
    server.setRoute("/upload", store);
    QStringList arguments = {"put", server.url("/upload").toString()};
    if (!fileContent.isNull()) {
        const QString file = path(QStringLiteral("put-%1.bin").arg(QLatin1String(QTest::currentDataTag())));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(fileContent), fileContent.size());
        out.close();
        arguments << file;
    }
    const Result result = run(arguments + options);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY2(result.out.contains("uploaded " + QByteArray::number(expectedBody.size()) + " bytes"),
             result.out.constData());

    const HttpTestServer::Request &last = server.requests().last();
    QCOMPARE(last.method, QByteArray("PUT"));
    QCOMPARE(last.path(), QByteArray("/upload"));
    QCOMPARE(last.bodySize, qint64(expectedBody.size()));
    QCOMPARE(last.bodySha256, QCryptographicHash::hash(expectedBody, QCryptographicHash::Sha256));
}

void tst_TransferCommands::putFails_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("missingFile");
    QTest::addColumn<QByteArray>("expectedError");
    QTest::newRow("missing-file") << "/upload" << true << QByteArray("orvik: File does not exist: ");
    QTest::newRow("http-500") << "/broken" << false << QByteArray("orvik: Internal Server Error");
    QTest::newRow("http-405") << "/readonly" << false << QByteArray("orvik: Operation Not permitted");
}

void tst_TransferCommands::putFails()
{
    QFETCH(QString, route);
    QFETCH(bool, missingFile);
    QFETCH(QByteArray, expectedError);

    HttpTestServer::Route broken;
    broken.status = 500;
    m_plain.setRoute("/broken", broken);
    HttpTestServer::Route readonly;
    readonly.status = 405;
    m_plain.setRoute("/readonly", readonly);
    const QString file = path(missingFile ? QStringLiteral("absent.bin") : QStringLiteral("present.bin"));
    if (!missingFile) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("content");
    }
    const Result result = run({"put", m_plain.url(route).toString(), file});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(expectedError), result.err.constData());
    QCOMPARE(m_plain.requestCount(), missingFile ? 0 : 1);
}

void tst_TransferCommands::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("get-without-url") << QStringList{"get"};
    QTest::newRow("get-two-urls") << QStringList{"get", "http://127.0.0.1/a", "http://127.0.0.1/b"};
    QTest::newRow("port-out-of-range") << QStringList{"get", "http://127.0.0.1/", "--port", "65536"};
    QTest::newRow("timeout-zero") << QStringList{"get", "http://127.0.0.1/", "--timeout", "0"};
    QTest::newRow("put-without-file") << QStringList{"put", "http://127.0.0.1/"};
    QTest::newRow("put-file-and-data") << QStringList{"put", "http://127.0.0.1/", "f", "--data", "x"};
    QTest::newRow("put-empty-data") << QStringList{"put", "http://127.0.0.1/", "--data", ""};
}

void tst_TransferCommands::usageErrors()
{
    QFETCH(QStringList, arguments);
    const Result result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.startsWith("orvik: "), result.err.constData());
    QVERIFY(result.out.isEmpty());
}

void tst_TransferCommands::plainProgressLinesWithoutTerminal()
{
    const Result result = run({"get", m_plain.url("/large").toString(), "-o", path(QStringLiteral("progress.out"))});
    QCOMPARE(result.exitCode, 0);
    const QList<QByteArray> lines = result.err.trimmed().split('\n');
    QVERIFY(!lines.isEmpty());
    QVERIFY2(!result.err.contains('\r'), result.err.constData()); // no bar redrawn in place
    for (const QByteArray &line : lines)
        QVERIFY2(line.startsWith("progress: "), line.constData());
    QVERIFY2(lines.last().startsWith("progress: 6.0 MiB / 6.0 MiB (100%), "), lines.last().constData());
}

void tst_TransferCommands::demoTransfersThroughTheModule()
{
    const Result result = run({"demo"});
    const QByteArray out = result.out;
    QVERIFY2(out.contains("== web transfers ==\n"), out.constData());
    QVERIFY2(!out.contains("-- web transfers: FAILED"), out.constData());
    for (const QByteArray &line : {QByteArray("   server received PUT /demo/hello.txt, 27 bytes (identical)\n"),
                                   QByteArray("   received 27 bytes: Hello from the ORVIK demo.\n"),
                                   QByteArray("   server received PUT /demo/blob.bin, 2097152 bytes (identical)\n"),
                                   QByteArray("   received 2097152 bytes (identical)\n")})
        QVERIFY2(out.contains(line), line.constData());
}

void tst_TransferCommands::describesProgress_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing-yet") << qint64(0) << qint64(-1) << qint64(0) << "0 B, 0 B/s";
    QTest::newRow("unknown-total-has-no-eta") << qint64(5 << 20) << qint64(-1) << qint64(2000) << "5.0 MiB, 2.5 MiB/s";
    QTest::newRow("eta-rounds-up") << qint64(1536) << qint64(4096) << qint64(1000)
                                   << "1.5 KiB / 4.0 KiB (37%), 1.5 KiB/s, ETA 2 s";
    QTest::newRow("complete-has-no-eta") << qint64(4096) << qint64(4096) << qint64(500)
                                         << "4.0 KiB / 4.0 KiB (100%), 8.0 KiB/s";
    QTest::newRow("empty-body-is-complete") << qint64(0) << qint64(0) << qint64(10) << "0 B / 0 B (100%), 0 B/s";
    QTest::newRow("eta-in-minutes") << qint64(1 << 20) << qint64(100 << 20) << qint64(1000)
                                    << "1.0 MiB / 100.0 MiB (1%), 1.0 MiB/s, ETA 1 min 39 s";
    QTest::newRow("gibibytes") << (qint64(3) << 30) << (qint64(4) << 30) << qint64(3000)
                               << "3.0 GiB / 4.0 GiB (75%), 1.0 GiB/s, ETA 1 s";
}

void tst_TransferCommands::describesProgress()
{
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, expected);
    QCOMPARE(TransferProgress::describe(done, total, elapsedMs), expected);
}

QTEST_GUILESS_MAIN(tst_TransferCommands)
#include "tst_transfercommands.moc"
