#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "loopback/httptestserver.h"
#include "module/moduleentry.h"
#include "update/orvikupdatechecker.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using namespace ORVIK;

// Update checks through the module's installed access manager against a loopback HTTP server.
namespace {

constexpr int kWaitMs = 20000; // well past the checker's 10-second download time-out
const QByteArray kServer = "https://updates.orvik.example/";

const auto bytes = [](const QByteArray &data) { return String(data.constData(), static_cast<uint32_t>(data.size())); };
const auto qbytes = [](const String &text) { return QByteArray(text.data(), static_cast<qsizetype>(text.length())); };
const auto statusAt = [](const QSignalSpy &spy, int i) { return spy.at(i).at(0).value<UpdateChecker::UpdateStatus>(); };

// Records every text reaching the host's update logic and can be told to fail while a check is prepared.
class ProbeChecker : public ORVIKUpdateChecker
{
public:
    using ORVIKUpdateChecker::ORVIKUpdateChecker;

    void processUpdateString(const String &text) override
    {
        received.append(qbytes(text));
        ORVIKUpdateChecker::processUpdateString(text);
    }
    String defaultURLPathName() override
    {
        if (throwing)
            throw Exception("The update channel file is locked");
        return ORVIKUpdateChecker::defaultURLPathName();
    }

    QList<QByteArray> received;
    bool throwing = false;
};

HttpTestServer::Route serving(const QByteArray &body, int status = 200)
{
    HttpTestServer::Route route;
    route.body = body;
    route.status = status;
    return route;
}

// A checker named `name`, installed version 2.0.0.
std::unique_ptr<ProbeChecker> checkerNamed(const QByteArray &name)
{
    auto checker = std::make_unique<ProbeChecker>(bytes(name));
    checker->setCurrentVersion("2.0.0");
    return checker;
}

} // namespace

class tst_UpdateCheckHttp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void servedDescriptionReachesTheLogic();
    void stalledDownloadFailsAtTheCheckersTimeOut();
    void requestsOnOneDownloader();

private:
    // A named checker whose description folder is on the test server, which answers its request by `route`.
    std::unique_ptr<ProbeChecker> checkerFor(const QByteArray &name, const HttpTestServer::Route &route)
    {
        server.setRoute("/Update/Windows/" + name + ".txt", route);
        std::unique_ptr<ProbeChecker> checker = checkerNamed(name);
        checker->updateBaseURL = bytes(server.url(QStringLiteral("/Update/Windows/")).toEncoded());
        return checker;
    }
    ItemDownloader *downloaderOf(ProbeChecker &checker)
    {
        return ItemDownloader::GetItemDownloader(checker.updateBaseURL.value() + checker.defaultURLPathName() + ".txt");
    }

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

// The default name (the application's) and a page that is set are orvik update-check's cases.
void tst_UpdateCheckHttp::servedDescriptionReachesTheLogic()
{
    std::unique_ptr<ProbeChecker> checker = checkerNamed("OrvikSuite");
    QCOMPARE(qbytes(checker->updateBaseURL.value()), kServer + "Update/Windows/");
    QVERIFY(checker->updatePageURL.value().isEmpty());
    QCOMPARE(checker->updateStatus(), UpdateChecker::UpdateStatusIdle);
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    // A completion before any request has no downloader to read.
    checker->onCheckForUpdateComplete();
    QVERIFY(checker->received.isEmpty());
    QCOMPARE(statusSet.count(), 0);

    // CRLF, a comment with bytes that are not UTF-8, no final line end: nothing may be changed on the way.
    const QByteArray description =
        "# caf\xe9 \xff\xfe\r\nname=ORVIK Suite\r\nversion=2.1.0\r\nurl=https://orvik.example/s.exe\r\nchannel=stable";
    const QByteArray path = "/Update/Windows/OrvikSuite.txt";
    server.setRoute(path, serving(description));
    checker->updateBaseURL = bytes(server.url(QStringLiteral("/Update/Windows/")).toEncoded());
    // The argument is not where the description comes from.
    checker->requestCheckForUpdate("http://127.0.0.1:9/Elsewhere.txt");
    QVERIFY(statusSet.wait(kWaitMs));

    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(server.request(0).target, path);
    // What the logic makes of the text is tst_updatechecker's; here it must arrive unchanged, once.
    QCOMPARE(checker->received, QList<QByteArray>{description});
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker->updateStatus(), UpdateChecker::UpdateStatusAvailable);
    // The page is on the update server, wherever the descriptions are fetched from.
    const UpdateChecker &host = *checker;
    QCOMPARE(qbytes(host.updateURLPage()), kServer + "OrvikSuite/");
}

void tst_UpdateCheckHttp::stalledDownloadFailsAtTheCheckersTimeOut()
{
    HttpTestServer::Route stall;
    stall.stall = true;
    std::unique_ptr<ProbeChecker> checker = checkerFor("Stalled", stall);
    ItemDownloader *downloader = downloaderOf(*checker);
    QVERIFY(downloader);
    QList<QByteArray> failures; // the view is only valid while the signal is delivered
    QObject context;            // ends the connection before the list goes
    connect(downloader, &ItemDownloader::downloadFailedSignal, &context,
            [&failures](StringView text) { failures.append(QByteArray(text.data(), text.length())); });
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);

    checker->requestCheckForUpdate("");
    QVERIFY(statusSet.wait(kWaitMs));
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(statusAt(statusSet, 0), UpdateChecker::UpdateStatusFailed);
    QVERIFY(checker->received.isEmpty());
    QCOMPARE(failures, QList<QByteArray>{"Download timed out after 10000 ms"});
    QCOMPARE(server.requestCount(), 1);
}

void tst_UpdateCheckHttp::requestsOnOneDownloader()
{
    std::unique_ptr<ProbeChecker> checker = checkerFor("Twice", serving("name=ORVIK\nversion=2.0.1\n"));
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    for (int request = 1; request <= 2; ++request) {
        checker->requestCheckForUpdate("");
        QTRY_COMPARE_WITH_TIMEOUT(statusSet.count(), request, kWaitMs);
        // One completion connection, however many requests were made.
        QCOMPARE(checker->received.size(), request);
        QCOMPARE(checker->updateStatus(), UpdateChecker::UpdateStatusAvailable);
    }
    ItemDownloader *downloader = downloaderOf(*checker);
    QVERIFY(downloader);
    QSignalSpy failed(downloader, &ItemDownloader::downloadFailedSignal);
    QSignalSpy downloaded(downloader, &ItemDownloader::downloadedSignal);

    // Each request added a failure connection: the downloader's next failure sets status 4 twice.
    server.setRoute("/Update/Windows/Twice.txt", serving("gone", 404));
    downloader->start(TimeSpan::FromSeconds(10));
    QVERIFY(failed.wait(kWaitMs));
    QCOMPARE(statusSet.count(), 4);
    QCOMPARE(statusAt(statusSet, 2), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(statusAt(statusSet, 3), UpdateChecker::UpdateStatusFailed);

    // An exception while preparing is reported at once, before any transfer, in a message box
    // that blocks nothing.
    checker->throwing = true;
    checker->requestCheckForUpdate("");
    QCOMPARE(statusSet.count(), 5);
    QCOMPARE(statusAt(statusSet, 4), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(server.requestCount(), 3);
    QPointer<QMessageBox> box;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *candidate = qobject_cast<QMessageBox *>(widget); candidate && candidate->isVisible())
            box = candidate;
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("The update channel file is locked"));
    QVERIFY(!box->isModal());
    QVERIFY(!QApplication::activeModalWidget());
    box->close();
    QTRY_VERIFY_WITH_TIMEOUT(box.isNull(), kWaitMs);

    // The check forgot its downloader: when that downloader completes again, nothing reaches the logic.
    server.setRoute("/Update/Windows/Twice.txt", serving("name=ORVIK\nversion=2.0.2\n"));
    downloader->start(TimeSpan::FromSeconds(10));
    QVERIFY(downloaded.wait(kWaitMs));
    QCOMPARE(server.requestCount(), 4);
    QCOMPARE(checker->received.size(), 2);
    QCOMPARE(statusSet.count(), 5);

    // A checker that is gone hears nothing of its downloader.
    checker.reset();
    server.setRoute("/Update/Windows/Twice.txt", serving("gone", 404));
    downloader->start(TimeSpan::FromSeconds(10));
    QVERIFY(failed.wait(kWaitMs));
    QCOMPARE(failed.count(), 2);
    QCOMPARE(statusSet.count(), 5);
}

QTEST_MAIN(tst_UpdateCheckHttp)
#include "tst_updatecheckhttp.moc"
