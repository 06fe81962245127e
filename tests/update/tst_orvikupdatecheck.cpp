#include "loopback/httptestserver.h"
#include "tests/orvikprocess.h"

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

private:
    HttpTestServer server; // answers from this process's event loop while orvik runs
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
    serve("orvik", "# the host itself\nname=orvik\nversion=0.9.5\n");
}

void tst_OrvikUpdateCheck::outcome_data()
{
    QTest::addColumn<QStringList>("arguments"); // "BASE" stands for the server's base address
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");  // "BASE" as above
    QTest::addColumn<QByteArray>("err");  // the start of the one line on standard error
    QTest::addColumn<QByteArray>("name"); // of the description the server was asked for; empty: none

    const QString base = QStringLiteral("--base=BASE");
    QTest::newRow("update-available") << QStringList{base, "--name=OrvikStudio", "--current=1.9.2"} << 0
                                      << QByteArray("update available: ORVIK Studio 1.10.0 (installed 1.9.2)\n"
                                                    "page: BASEOrvikStudio/\n")
                                      << QByteArray() << QByteArray("OrvikStudio");
    QTest::newRow("defaults-are-orvik-and-its-version")
        << QStringList{base} << 0 << QByteArray("up to date: orvik 1.0.0 (latest 0.9.5)\n") << QByteArray()
        << QByteArray("orvik");
    QTest::newRow("description-not-found")
        << QStringList{base, "--name=Missing"} << 1 << QByteArray()
        << QByteArray("orvik: update check of BASEUpdate/Windows/Missing.txt failed: ") << QByteArray("Missing");
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
    QFETCH(QByteArray, name);

    const QByteArray baseURL = server.url().toEncoded();
    arguments.replaceInStrings(QStringLiteral("BASE"), QString::fromUtf8(baseURL));
    out.replace("BASE", baseURL);
    err.replace("BASE", baseURL);
    server.clearRecords();

    const OrvikRun result = runOrvik(QStringList{QStringLiteral("update-check")} + arguments);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    // Nothing, or one line in which a reason follows a start that does not end the line.
    const QByteArray &printed = result.err;
    const bool errAsExpected = err.isEmpty()
                                   ? printed.isEmpty()
                                   : printed.startsWith(err) && (err.endsWith('\n') || printed.size() > err.size() + 1);
    QVERIFY2(errAsExpected, printed.constData());
    QCOMPARE(printed.count('\n'), err.isEmpty() ? 0 : 1);
    QCOMPARE(server.requestCount(), name.isEmpty() ? 0 : 1);
    if (!name.isEmpty())
        QCOMPARE(server.request(0).target, "/Update/Windows/" + name + ".txt");
}

QTEST_GUILESS_MAIN(tst_OrvikUpdateCheck)
#include "tst_orvikupdatecheck.moc"
