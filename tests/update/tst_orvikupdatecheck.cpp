#include "tests/support/http/httptestserver.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace ORVIK;

// `orvik update-check` as a user runs it, against a loopback update server.
class tst_OrvikUpdateCheck : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void outcome_data();
    void outcome();
    void demoChecksAgainstItsOwnServer();

private:
    HttpTestServer server;
};

void tst_OrvikUpdateCheck::initTestCase()
{
    QVERIFY2(server.listen(), qPrintable(server.errorString()));
    const auto serve = [this](const QByteArray &name, const QByteArray &body) {
        HttpTestServer::Route route;
        route.body = body;
        server.setRoute("/Update/Windows/" + name + ".txt", route);
    };
    serve("OrvikStudio", "name=ORVIK Studio\r\nversion=1.10.0\r\n");
    serve("OrvikPaint", "name=ORVIK Paint\nversion=2.0\nurl=https://get.orvik.example/paint-2.0.exe\n");
    serve("orvik", "# the host itself\nname=orvik\nversion=1.0.0\n");
    serve("Garbled", "<html>Moved</html>");
}

void tst_OrvikUpdateCheck::outcome_data()
{
    QTest::addColumn<QStringList>("arguments"); // "BASE" stands for the server's base address
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");    // "BASE" as above
    QTest::addColumn<QByteArray>("err");    // the start of standard error
    QTest::addColumn<QByteArray>("target"); // the request the server saw; empty: none

    const QString base = QStringLiteral("--base=BASE");
    QTest::newRow("update-available") << QStringList{base, "--name=OrvikStudio", "--current=1.9.2"} << 0
                                      << QByteArray("update available: ORVIK Studio 1.10.0 (installed 1.9.2)\n"
                                                    "page: BASEOrvikStudio/\n")
                                      << QByteArray() << QByteArray("/Update/Windows/OrvikStudio.txt");
    QTest::newRow("available-with-download")
        << QStringList{base, "--name", "OrvikPaint", "--current", "1.5"} << 0
        << QByteArray("update available: ORVIK Paint 2.0 (installed 1.5)\n"
                      "page: BASEOrvikPaint/  download: https://get.orvik.example/paint-2.0.exe\n")
        << QByteArray() << QByteArray("/Update/Windows/OrvikPaint.txt");
    QTest::newRow("up-to-date") << QStringList{base, "--name=OrvikStudio", "--current=1.10"} << 0
                                << QByteArray("up to date: ORVIK Studio 1.10 (latest 1.10.0)\n") << QByteArray()
                                << QByteArray("/Update/Windows/OrvikStudio.txt");
    QTest::newRow("defaults-are-orvik-and-its-version")
        << QStringList{base} << 0 << QByteArray("up to date: orvik 1.0.0 (latest 1.0.0)\n") << QByteArray()
        << QByteArray("/Update/Windows/orvik.txt");
    QTest::newRow("description-not-found")
        << QStringList{base, "--name=Missing"} << 1 << QByteArray()
        << QByteArray("orvik: update check of BASEUpdate/Windows/Missing.txt failed: ")
        << QByteArray("/Update/Windows/Missing.txt");
    QTest::newRow("malformed-description")
        << QStringList{base, "--name=Garbled"} << 1 << QByteArray()
        << QByteArray("orvik: update check of BASEUpdate/Windows/Garbled.txt failed: Malformed update "
                      "description: line 1: expected key=value")
        << QByteArray("/Update/Windows/Garbled.txt");
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(HttpTestServer::unusedPort());
    QTest::newRow("connection-refused") << QStringList{"--base=" + refused} << 1 << QByteArray()
                                        << "orvik: update check of " + refused.toUtf8() +
                                               "Update/Windows/orvik.txt failed: "
                                        << QByteArray();
    QTest::newRow("base-without-slash") << QStringList{"--base=http://127.0.0.1:1"} << 2 << QByteArray()
                                        << QByteArray("orvik: --base must end in \"/\"\n") << QByteArray();
    QTest::newRow("current-not-a-version")
        << QStringList{base, "--current=1.2-beta"} << 2 << QByteArray()
        << QByteArray("orvik: --current must be a version number such as 1.2.0\n") << QByteArray();
    QTest::newRow("empty-name") << QStringList{base, "--name="} << 2 << QByteArray()
                                << QByteArray("orvik: --name must not be empty\n") << QByteArray();
}

void tst_OrvikUpdateCheck::outcome()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(QByteArray, target);

    const QByteArray baseURL = server.url().toEncoded();
    arguments.replaceInStrings(QStringLiteral("BASE"), QString::fromUtf8(baseURL));
    out.replace("BASE", baseURL);
    err.replace("BASE", baseURL);
    server.clearRecords();

    // The server answers from this process's event loop while orvik runs.
    QProcess orvik;
    QSignalSpy finished(&orvik, &QProcess::finished);
    orvik.start(QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("orvik")),
                QStringList{QStringLiteral("update-check")} + arguments);
    QVERIFY(finished.wait(60000));
    const QByteArray stdoutText = orvik.readAllStandardOutput();
    const QByteArray stderrText = orvik.readAllStandardError();

    QCOMPARE(orvik.exitStatus(), QProcess::NormalExit);
    QCOMPARE(orvik.exitCode(), exitCode);
    QCOMPARE(stdoutText, out);
    if (err.isEmpty()) {
        QVERIFY2(stderrText.isEmpty(), stderrText.constData());
    } else {
        // One line, which gives a reason after the fixed start.
        QVERIFY2(stderrText.startsWith(err), stderrText.constData());
        if (!err.endsWith('\n'))
            QVERIFY2(stderrText.size() > err.size() + 1, stderrText.constData());
        QCOMPARE(stderrText.count('\n'), 1);
    }
    if (target.isEmpty()) {
        QCOMPARE(server.requestCount(), 0);
    } else {
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(server.request(0).target, target);
    }
}

void tst_OrvikUpdateCheck::demoChecksAgainstItsOwnServer()
{
    QProcess orvik;
    QSignalSpy finished(&orvik, &QProcess::finished);
    orvik.start(QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("orvik")),
                {QStringLiteral("demo")});
    QVERIFY(finished.wait(120000));
    // Only this step's lines: the demo's other steps and its exit code belong to other services.
    const QList<QByteArray> lines = orvik.readAllStandardOutput().split('\n');
    const qsizetype step = lines.indexOf("== update check ==");
    QVERIFY(step >= 0);
    QVERIFY(lines.size() > step + 4);
    QVERIFY2(lines.at(step + 1).startsWith("update server: http://127.0.0.1:"), lines.at(step + 1).constData());
    QCOMPARE(lines.at(step + 2), QByteArray("update available: ORVIK Demo 1.1.0 (installed 1.0.0)"));
    QVERIFY2(lines.at(step + 3).contains("/orvik-demo/  download: http://127.0.0.1:"), lines.at(step + 3).constData());
    QCOMPARE(lines.at(step + 4), QByteArray("requested: GET /Update/Windows/orvik-demo.txt"));
}

QTEST_GUILESS_MAIN(tst_OrvikUpdateCheck)
#include "tst_orvikupdatecheck.moc"
