#include "host/widgets/itemdownloader.h"
#include "module/moduleentry.h"
#include "tests/support/http/httptestserver.h"
#include "tests/update/probechecker.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using namespace ORVIK;

// Update checks through the module's installed access manager against a loopback HTTP server.
namespace {

constexpr int kWaitMs = 20000; // well past the checker's 10-second download time-out

QByteArray qbytes(const String &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.length()));
}

String bytes(const QByteArray &data)
{
    return String(data.constData(), static_cast<uint32_t>(data.size()));
}

HttpTestServer::Route serving(const QByteArray &body, int status = 200)
{
    HttpTestServer::Route route;
    route.body = body;
    route.status = status;
    return route;
}

UpdateChecker::UpdateStatus statusAt(const QSignalSpy &spy, int index)
{
    return spy.at(index).at(0).value<UpdateChecker::UpdateStatus>();
}

} // namespace

class tst_UpdateCheckHttp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void servedDescriptionReachesTheLogic_data();
    void servedDescriptionReachesTheLogic();
    void failuresEndInFailed_data();
    void failuresEndInFailed();
    void stalledServerTimesOut();
    void exceptionWhilePreparing();
    void requestsInTurnOnOneDownloader();
    void secondRequestAbandonsTheFirst();

private:
    // A checker whose description folder is on the test server, shaped like the real one.
    std::unique_ptr<ProbeChecker> checkerFor(const QByteArray &name)
    {
        auto checker = std::make_unique<ProbeChecker>(bytes(name));
        checker->updateBaseURL = bytes(folder());
        checker->setCurrentVersion("2.0.0");
        return checker;
    }
    QByteArray folder() const { return server.url(QStringLiteral("/Update/Windows/")).toEncoded(); }

    HttpTestServer server;
};

void tst_UpdateCheckHttp::initTestCase()
{
    ORVIKNetworkSetupMetatypesForORVIK();
    QVERIFY(ItemDownloader::HasNetworkManager());
    QVERIFY2(server.listen(), qPrintable(server.errorString()));
}

void tst_UpdateCheckHttp::init()
{
    server.clearRecords();
}

void tst_UpdateCheckHttp::servedDescriptionReachesTheLogic_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::newRow("no-argument") << QByteArray();
    QTest::newRow("text-argument") << QByteArray("user asked");
    QTest::newRow("address-argument") << folder() + "Elsewhere.txt";
}

void tst_UpdateCheckHttp::servedDescriptionReachesTheLogic()
{
    QFETCH(QByteArray, argument);
    // CRLF, a comment with bytes that are not UTF-8, no final line end: nothing may be changed on the way.
    const QByteArray description = "# caf\xe9 \xff\xfe\r\nname=ORVIK Suite\r\nversion=2.1.0\r\nurl=" +
                                   server.url(QStringLiteral("/get/suite-2.1.0.exe")).toEncoded() +
                                   "\r\nchannel=stable";
    server.setRoute("/Update/Windows/OrvikSuite.txt", serving(description));

    std::unique_ptr<ProbeChecker> checker = checkerFor("OrvikSuite");
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    checker->requestCheckForUpdate(bytes(argument));
    QVERIFY(statusSet.wait(kWaitMs));

    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(server.request(0).method, QByteArray("GET"));
    QCOMPARE(server.request(0).target, QByteArray("/Update/Windows/OrvikSuite.txt"));
    QCOMPARE(checker->received, QList<QByteArray>{description});
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker->updateStatus(), UpdateChecker::UpdateStatusAvailable);
    QCOMPARE(qbytes(checker->updateName()), QByteArray("ORVIK Suite"));
    QCOMPARE(qbytes(checker->updateVersion()), QByteArray("2.1.0"));
    QCOMPARE(qbytes(checker->updateURLDownload()), server.url(QStringLiteral("/get/suite-2.1.0.exe")).toEncoded());
}

void tst_UpdateCheckHttp::failuresEndInFailed_data()
{
    QTest::addColumn<QByteArray>("base"); // empty: the test server's folder
    QTest::addColumn<int>("status");      // the route's status; 0: no route
    QTest::addColumn<qint64>("dropAfter");

    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(HttpTestServer::unusedPort()) + "/";
    QTest::newRow("http-404") << QByteArray() << 0 << qint64(-1);
    QTest::newRow("http-500-with-a-description") << QByteArray() << 500 << qint64(-1);
    QTest::newRow("connection-refused") << refused << 200 << qint64(-1);
    QTest::newRow("connection-dropped-mid-body") << QByteArray() << 200 << qint64(12);
}

void tst_UpdateCheckHttp::failuresEndInFailed()
{
    QFETCH(QByteArray, base);
    QFETCH(int, status);
    QFETCH(qint64, dropAfter);

    const QByteArray name = "Failing" + QByteArray(QTest::currentDataTag()).replace('-', "");
    if (status) {
        HttpTestServer::Route route = serving("name=ORVIK\nversion=9.0.0\n# padding to drop within\n", status);
        route.dropAfter = dropAfter;
        server.setRoute("/Update/Windows/" + name + ".txt", route);
    }
    std::unique_ptr<ProbeChecker> checker = checkerFor(name);
    if (!base.isEmpty())
        checker->updateBaseURL = bytes(base);
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    checker->requestCheckForUpdate("");
    QVERIFY(statusSet.wait(kWaitMs));
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(statusAt(statusSet, 0), UpdateChecker::UpdateStatusFailed);
    QVERIFY(checker->received.isEmpty());
}

void tst_UpdateCheckHttp::stalledServerTimesOut()
{
    HttpTestServer::Route route;
    route.stall = true;
    server.setRoute("/Update/Windows/Stalled.txt", route);
    std::unique_ptr<ProbeChecker> checker = checkerFor("Stalled");
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(bytes(folder() + "Stalled.txt"));
    QVERIFY(downloader);
    QList<QByteArray> failures; // the view is only valid while the signal is delivered
    connect(downloader, &ItemDownloader::downloadFailedSignal, this,
            [&failures](StringView text) { failures.append(QByteArray(text.data(), text.length())); });
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);

    checker->requestCheckForUpdate("");
    QVERIFY(statusSet.wait(kWaitMs));
    // The downloader was started with the checker's 10-second span.
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures.at(0).contains("10000 ms"), failures.at(0).constData());
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(statusAt(statusSet, 0), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(server.requestCount(), 1);
}

void tst_UpdateCheckHttp::exceptionWhilePreparing()
{
    server.setRoute("/Update/Windows/Locked.txt", serving("name=ORVIK\nversion=2.0.0\n"));
    std::unique_ptr<ProbeChecker> checker = checkerFor("Locked");
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    checker->requestCheckForUpdate("");
    QVERIFY(statusSet.wait(kWaitMs));
    QCOMPARE(checker->received.size(), 1);

    checker->throwing = true;
    checker->requestCheckForUpdate("");
    // Reported at once, before any transfer, in a message box that blocks nothing.
    QCOMPARE(statusSet.count(), 2);
    QCOMPARE(statusAt(statusSet, 1), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(server.requestCount(), 1);
    QPointer<QMessageBox> box;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *candidate = qobject_cast<QMessageBox *>(widget); candidate && candidate->isVisible())
            box = candidate;
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("The update channel file is locked"));
    QVERIFY(!box->isModal());
    QVERIFY(!QApplication::activeModalWidget());

    // The check forgot its downloader: when that downloader completes again, nothing reaches the logic.
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(bytes(folder() + "Locked.txt"));
    QVERIFY(downloader);
    QSignalSpy downloaded(downloader, &ItemDownloader::downloadedSignal);
    downloader->start(TimeSpan::FromSeconds(10));
    QVERIFY(downloaded.wait(kWaitMs));
    QCOMPARE(server.requestCount(), 2);
    QCOMPARE(checker->received.size(), 1);
    QCOMPARE(statusSet.count(), 2);

    box->close();
    QTRY_VERIFY_WITH_TIMEOUT(box.isNull(), kWaitMs);
}

void tst_UpdateCheckHttp::requestsInTurnOnOneDownloader()
{
    const QByteArray path = "/Update/Windows/Twice.txt";
    server.setRoute(path, serving("name=ORVIK\nversion=2.0.1\n"));
    std::unique_ptr<ProbeChecker> checker = checkerFor("Twice");
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    for (int request = 1; request <= 2; ++request) {
        checker->requestCheckForUpdate("");
        QTRY_COMPARE_WITH_TIMEOUT(statusSet.count(), request, kWaitMs);
        // One completion connection, however many requests were made.
        QCOMPARE(checker->received.size(), request);
        QCOMPARE(checker->updateStatus(), UpdateChecker::UpdateStatusAvailable);
    }

    // Each request added a failure connection: the downloader's next failure sets status 4 twice.
    server.setRoute(path, serving("gone", 404));
    statusSet.clear();
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(bytes(folder() + "Twice.txt"));
    QVERIFY(downloader);
    QSignalSpy failed(downloader, &ItemDownloader::downloadFailedSignal);
    downloader->start(TimeSpan::FromSeconds(10));
    QVERIFY(failed.wait(kWaitMs));
    QCOMPARE(statusSet.count(), 2);
    QCOMPARE(statusAt(statusSet, 0), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(statusAt(statusSet, 1), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(checker->received.size(), 2);
}

void tst_UpdateCheckHttp::secondRequestAbandonsTheFirst()
{
    server.setRoute("/Update/Windows/BackToBack.txt", serving("name=ORVIK\nversion=1.9\n"));
    std::unique_ptr<ProbeChecker> checker = checkerFor("BackToBack");
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    checker->requestCheckForUpdate("");
    checker->requestCheckForUpdate("");
    // The running download failed when the second start abandoned it: once per failure connection.
    QCOMPARE(statusSet.count(), 2);
    QCOMPARE(statusAt(statusSet, 0), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(statusAt(statusSet, 1), UpdateChecker::UpdateStatusFailed);

    // The second download completes, once.
    QVERIFY(statusSet.wait(kWaitMs));
    QCOMPARE(statusSet.count(), 3);
    QCOMPARE(statusAt(statusSet, 2), UpdateChecker::UpdateStatusUpToDate);
    QCOMPARE(checker->received, QList<QByteArray>{"name=ORVIK\nversion=1.9\n"});
}

QTEST_MAIN(tst_UpdateCheckHttp)
#include "tst_updatecheckhttp.moc"
