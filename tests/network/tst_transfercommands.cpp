#include "apps/orvik/transfer/transferprogress.h"
#include "loopback/httptestserver.h"
#include "tests/ntpports.h"
#include "tests/orvikprocess.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

// `orvik get` and `orvik put` as processes against the loopback servers of this test: exit codes, files
// written, error texts printed and options reaching the request. The request itself is tested on its own.
class tst_TransferCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void transfer_data();
    void transfer();
    void demoRunsEveryStep();
    void describesProgress_data();
    void describesProgress();

private:
    // Runs orvik with the arguments expanded.
    OrvikRun run(const QStringList &arguments) const
    {
        QStringList expanded;
        for (const QString &argument : arguments)
            expanded << expand(argument);
        return runOrvik(expanded);
    }
    // "plain:/p" and "tls:/p" name a path on a server, "elsewhere:/p" the plain server's path on a port
    // where nothing listens, "port" the plain server's port, "dir:name" a file in the temporary folder.
    QString expand(const QString &argument) const;
    static bool writeFile(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    HttpTestServer m_plain;
    HttpTestServer m_tls;
    QTemporaryDir m_dir;
};

namespace {
const qint64 kLargeSize = 6 * 1024 * 1024 + 3;
}

void tst_TransferCommands::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_plain.listen(), qPrintable(m_plain.errorString()));
    QVERIFY2(m_tls.listen(HttpTestServer::Transport::Tls), qPrintable(m_tls.errorString()));
    HttpTestServer::Route route; // a path without a route keeps what is put there and answers 201
    route.body = "small body\n";
    m_plain.setRoute("/small", route);
    m_tls.setRoute("/small", route);
    route.basicAuth = "ann:right";
    m_plain.setRoute("/locked", route);

    HttpTestServer::Route generated;
    generated.generatedSize = kLargeSize;
    generated.framing = HttpTestServer::Framing::Chunked;
    m_plain.setRoute("/large", generated);
    generated.generatedSize = 100000;
    generated.framing = HttpTestServer::Framing::ContentLength;
    generated.dropAfter = 20000;
    m_plain.setRoute("/cut", generated);
    generated.stall = true;
    m_plain.setRoute("/stall", generated);
}

void tst_TransferCommands::init()
{
    m_plain.clearRecords();
    m_tls.clearRecords();
}

QString tst_TransferCommands::expand(const QString &argument) const
{
    const QString rest = argument.mid(argument.indexOf(QLatin1Char(':')) + 1);
    if (argument.startsWith(QLatin1String("plain:")))
        return m_plain.url(rest).toString();
    if (argument.startsWith(QLatin1String("tls:")))
        return m_tls.url(rest).toString();
    if (argument.startsWith(QLatin1String("elsewhere:"))) {
        QUrl url = m_plain.url(rest);
        url.setPort(HttpTestServer::unusedPort());
        return url.toString();
    }
    if (argument.startsWith(QLatin1String("dir:")))
        return m_dir.filePath(rest);
    return argument == QLatin1String("port") ? QString::number(m_plain.port()) : argument;
}

void tst_TransferCommands::transfer_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("existingFile"); // the output file is there before
    // What get delivers, or what the server received from put; on failure the error line.
    QTest::addColumn<QByteArray>("expected");

    const QByteArray small("small body\n");
    const QByteArray large = HttpTestServer::patternBytes(0, kLargeSize);
    QTest::newRow("get-large-chunked-to-file")
        << QStringList{"get", "plain:/large", "-o", "dir:large.out"} << 0 << false << large;
    QTest::newRow("get-large-to-standard-output") << QStringList{"get", "plain:/large"} << 0 << false << large;
    QTest::newRow("get-https-insecure") << QStringList{"get", "tls:/small", "--insecure", "-o", "dir:tls.out"} << 0
                                        << false << small;
    QTest::newRow("put-data-text") << QStringList{"put", "plain:/upload", "--data", "k=v \u00e9"} << 0 << false
                                   << QByteArray("k=v \xc3\xa9");
    QTest::newRow("put-with-credentials-and-port-option-replacing-url-port")
        << QStringList{"put", "elsewhere:/locked", "dir:mine.bin", "--user", "ann", "--password", "right", "--port",
                       "port"}
        << 0 << false << QByteArray("mine");
    // Part of the body was written before the failure.
    QTest::newRow("closed-mid-body-keeps-the-existing-file") << QStringList{"get", "plain:/cut", "-o", "dir:cut.out"}
                                                             << 1 << true << QByteArray("orvik: Remote Host Closed");
    QTest::newRow("timeout-leaves-no-file")
        << QStringList{"get", "plain:/stall", "--timeout", "1", "-o", "dir:stall.out"} << 1 << false
        << QByteArray("orvik: timed out after 1 s");
    QTest::newRow("put-missing-file-sends-nothing") << QStringList{"put", "plain:/upload", "dir:absent.bin"} << 1
                                                    << false << QByteArray("orvik: File does not exist: ");
    QTest::newRow("usage-get-without-url") << QStringList{"get"} << 2 << false << QByteArray("orvik: ");
    QTest::newRow("usage-port-out-of-range")
        << QStringList{"get", "http://127.0.0.1/", "--port", "65536"} << 2 << false << QByteArray("orvik: ");
    QTest::newRow("usage-timeout-zero") << QStringList{"get", "http://127.0.0.1/", "--timeout", "0"} << 2 << false
                                        << QByteArray("orvik: ");
    QTest::newRow("usage-put-file-and-data")
        << QStringList{"put", "http://127.0.0.1/", "f", "--data", "x"} << 2 << false << QByteArray("orvik: ");
}

void tst_TransferCommands::transfer()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(bool, existingFile);
    QFETCH(QByteArray, expected);

    const bool put = arguments.first() == QLatin1String("put");
    const int option = int(arguments.indexOf(QStringLiteral("-o")));
    const QString output = option < 0 ? QString() : expand(arguments.at(option + 1));
    if (existingFile)
        QVERIFY(writeFile(output, "previous content"));
    if (exitCode == 0 && put && arguments.at(2).startsWith(QLatin1String("dir:")))
        QVERIFY(writeFile(expand(arguments.at(2)), expected));
    const OrvikRun result = run(arguments);
    QVERIFY2(result.exitCode == exitCode, result.err.constData());
    if (exitCode != 0) {
        // The text starts a line; it is the whole line unless it names more after it.
        const QByteArray line = '\n' + expected + (expected.endsWith(' ') ? "" : "\n");
        QVERIFY2(('\n' + result.err).contains(line), result.err.constData());
        QVERIFY2(result.out.isEmpty(), result.out.constData());
        if (put)
            QCOMPARE(m_plain.requestCount(), 0);
        else if (!existingFile)
            QVERIFY(!QFile::exists(output));
        QFile file(output);
        QVERIFY(!existingFile || (file.open(QIODevice::ReadOnly) && file.readAll() == "previous content"));
        return;
    }
    // Not a terminal: plain progress lines, no bar redrawn in place.
    QVERIFY2(!result.err.contains('\r'), result.err.constData());
    const QList<QByteArray> progress = result.err.trimmed().split('\n');
    for (const QByteArray &line : progress)
        QVERIFY2(line.startsWith("progress: "), result.err.constData());
    QVERIFY2(progress.last().contains("(100%)") && !progress.last().contains("ETA"), result.err.constData());
    QVERIFY2(result.err.count("(100%)") == 1, result.err.constData()); // the final state once

    const HttpTestServer &server = arguments.at(1).startsWith(QLatin1String("tls:")) ? m_tls : m_plain;
    const HttpTestServer::Request &last = server.requests().last();
    QCOMPARE(last.path(), QUrl(expand(arguments.at(1))).path().toUtf8());
    if (put) {
        QCOMPARE(last.method, QByteArray("PUT"));
        QCOMPARE(last.bodySize, qint64(expected.size()));
        QCOMPARE(last.bodySha256, QCryptographicHash::hash(expected, QCryptographicHash::Sha256));
        QVERIFY2(result.out.contains("uploaded " + QByteArray::number(expected.size()) + " bytes"),
                 result.out.constData());
        return;
    }
    QCOMPARE(last.method, QByteArray("GET"));
    if (output.isEmpty()) {
        QVERIFY(result.out == expected);
        return;
    }
    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == expected);
    QVERIFY(result.out.contains("saved " + QByteArray::number(expected.size()) + " bytes"));
}

void tst_TransferCommands::demoRunsEveryStep()
{
    ORVIK_SKIP_WITHOUT_NTP_PORTS(); // the demo's time step needs them
    const OrvikRun result = run({"demo"});
    QCOMPARE(result.exitCode, 0);
    // Each step's header followed, before the next header, by its key lines.
    const QList<QList<QByteArray>> steps{
        {"== module registration ==\n", "name: ORVIKNetwork\n", "ports: 1\n"},
        {"== web transfers ==\n", "   server received PUT /demo/hello.txt, 27 bytes (identical)\n",
         "   received 27 bytes: Hello from the ORVIK demo.\n",
         "   server received PUT /demo/blob.bin, 2097152 bytes (identical)\n",
         "   received 2097152 bytes (identical)\n"},
        {"== network time ==\n", "\nserver: 127.0.0.1 port ", "\ntransmit time: ", "\noffset: "},
        {"== update check ==\n", "\nupdate available: ORVIK Demo 1.1.0 (installed 1.0.0)\n",
         "/orvik-demo/  download: http://127.0.0.1:", "\nrequested: GET /Update/Windows/orvik-demo.txt\n",
         "\ninstalled: the package left its marker\n",
         "\nchanged package refused: The update download failed: the package's SHA-256 "},
        {"== wifi dialog screenshot ==\n", "\n92\tCafe Nord\n", "\nscreenshot: "},
        {"\ndemo: 5 of 5 steps passed\n"}};
    qsizetype at = 0;
    for (const QList<QByteArray> &step : steps) {
        at = result.out.indexOf(step.first(), at);
        QVERIFY2(at >= 0, step.first().constData());
        const qsizetype next = result.out.indexOf("\n== ", at);
        for (const QByteArray &line : step) {
            const qsizetype found = result.out.indexOf(line, at);
            QVERIFY2(found >= 0 && (next < 0 || found < next), line.constData());
        }
    }
    QVERIFY2(!result.out.contains(": FAILED"), result.out.constData());
}

void tst_TransferCommands::describesProgress_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unknown-total-has-no-eta") << qint64(5 << 20) << qint64(-1) << qint64(2000) << "5.0 MiB, 2.5 MiB/s";
    QTest::newRow("eta-in-minutes") << qint64(1 << 20) << qint64(100 << 20) << qint64(1000)
                                    << "1.0 MiB / 100.0 MiB (1%), 1.0 MiB/s, ETA 1 min 39 s";
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
