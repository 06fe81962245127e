#include "host/widgets/itemdownloader.h"
#include "host/widgets/qstringstream.h"
#include "module/moduleentry.h"
#include "tests/support/http/httptestserver.h"

#include <QSignalSpy>
#include <QTest>

using namespace ORVIK;

namespace {

String hostText(const QUrl &url)
{
    return StringStream<QString>::toString(url.toString());
}

// Counts a downloader's outcomes and keeps the failure texts (the view is only valid in the slot).
struct Outcomes
{
    explicit Outcomes(ItemDownloader *downloader)
    {
        QObject::connect(downloader, &ItemDownloader::downloadedSignal, downloader, [this] { ++downloaded; });
        QObject::connect(downloader, &ItemDownloader::downloadFailedSignal, downloader,
                         [this](StringView text) { failures.append(QByteArray(text.data(), text.length())); });
    }
    int total() const { return downloaded + int(failures.size()); }

    int downloaded = 0;
    QList<QByteArray> failures;
};

} // namespace

class tst_ItemDownloader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void noDownloaderWithoutManager();
    void oneDownloaderPerAddress();
    void succeeds_data();
    void succeeds();
    void readsTheBodyAsItArrives();
    void fails_data();
    void fails();
    void timesOut_data();
    void timesOut();
    void restartAbandonsTheRunningDownload();
    void failsWhenTheManagerIsGone();

private:
    ItemDownloader *downloaderFor(const QString &path)
    {
        return ItemDownloader::GetItemDownloader(hostText(m_server.url(path)));
    }
    // Once a later download through the same server has ended, a stray late signal would have come.
    void settle();

    HttpTestServer m_server;
};

void tst_ItemDownloader::initTestCase()
{
    QVERIFY2(m_server.listen(), qPrintable(m_server.errorString()));
}

void tst_ItemDownloader::settle()
{
    HttpTestServer::Route route;
    route.body = "x";
    m_server.setRoute("/settle", route);
    ItemDownloader *control = downloaderFor(QStringLiteral("/settle"));
    QSignalSpy done(control, &ItemDownloader::downloadedSignal);
    control->start(TimeSpan::FromSeconds(20));
    QVERIFY(done.wait(20000));
}

void tst_ItemDownloader::noDownloaderWithoutManager()
{
    QVERIFY(!ItemDownloader::HasNetworkManager());
    QCOMPARE(downloaderFor(QStringLiteral("/a")), nullptr);
    ORVIKNetworkSetupMetatypesForORVIK();
    QVERIFY(ItemDownloader::HasNetworkManager());
    QCOMPARE(ItemDownloader::GetItemDownloader(StringView("")), nullptr);
}

void tst_ItemDownloader::oneDownloaderPerAddress()
{
    ItemDownloader *first = downloaderFor(QStringLiteral("/same"));
    QVERIFY(first);
    QCOMPARE(downloaderFor(QStringLiteral("/same")), first);
    QVERIFY(downloaderFor(QStringLiteral("/other")) != first);
    QCOMPARE(first->parent(), QCoreApplication::instance());
    QCOMPARE(first->url(), hostText(m_server.url("/same")));
}

void tst_ItemDownloader::succeeds_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("generatedSize");
    QTest::addColumn<int>("framing");

    const int length = int(HttpTestServer::Framing::ContentLength);
    QTest::newRow("small-body") << QByteArray("name=app\nversion=2.0\n") << qint64(-1) << length;
    QTest::newRow("empty-body") << QByteArray() << qint64(-1) << length;
    QTest::newRow("chunked-body") << QByteArray() << qint64(300000) << int(HttpTestServer::Framing::Chunked);
    QTest::newRow("body-until-close") << QByteArray() << qint64(200000) << int(HttpTestServer::Framing::CloseDelimited);
    QTest::newRow("large-body") << QByteArray() << qint64(12 * 1024 * 1024) << length;
}

void tst_ItemDownloader::succeeds()
{
    QFETCH(QByteArray, body);
    QFETCH(qint64, generatedSize);
    QFETCH(int, framing);

    HttpTestServer::Route route;
    route.body = body;
    route.generatedSize = generatedSize;
    route.framing = HttpTestServer::Framing(framing);
    const QByteArray path = "/ok-" + QByteArray(QTest::currentDataTag());
    m_server.setRoute(path, route);
    const QByteArray expected = generatedSize >= 0 ? HttpTestServer::patternBytes(0, generatedSize) : body;

    ItemDownloader *downloader = downloaderFor(QString::fromLatin1(path));
    Outcomes outcomes(downloader);
    downloader->start(TimeSpan::FromSeconds(60));
    QVERIFY(downloader->isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.total(), 1, 60000);
    QCOMPARE(outcomes.downloaded, 1);
    QVERIFY(!downloader->isRunning());
    QCOMPARE(downloader->downloadedData().size(), expected.size());
    QVERIFY(downloader->downloadedData() == expected);
    settle();
    QCOMPARE(outcomes.total(), 1);
}

void tst_ItemDownloader::readsTheBodyAsItArrives()
{
    HttpTestServer::Route route;
    route.generatedSize = 40000;
    route.pieceSize = 10000;
    route.pieceIntervalMs = 200;
    m_server.setRoute("/paced", route);
    ItemDownloader *downloader = downloaderFor(QStringLiteral("/paced"));
    QList<QPair<qint64, qint64>> heldAtProgress; // (bytes received, bytes held)
    connect(downloader, &ItemDownloader::downloadProgressSignal, this, [&](qint64 received, qint64) {
        heldAtProgress.append({received, downloader->downloadedData().size()});
    });
    Outcomes outcomes(downloader);
    downloader->start(TimeSpan::FromSeconds(60));
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.downloaded, 1, 20000);

    bool sawPartial = false;
    for (const auto &entry : heldAtProgress) {
        QCOMPARE(entry.second, entry.first);
        sawPartial = sawPartial || (entry.first > 0 && entry.first < 40000);
    }
    QVERIFY(sawPartial);
    QCOMPARE(downloader->downloadedData(), HttpTestServer::patternBytes(0, 40000));
}

void tst_ItemDownloader::fails_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("dropAfter");
    QTest::addColumn<QByteArray>("expectedText");
    QTest::newRow("not-found") << "/missing" << 404 << qint64(-1) << QByteArray("Content Not Found");
    QTest::newRow("server-error") << "/broken" << 500 << qint64(-1) << QByteArray("Internal Server Error");
    QTest::newRow("closed-mid-body") << "/cut" << 200 << qint64(1000) << QByteArray("Remote Host Closed");
    QTest::newRow("connection-refused") << "refused" << 0 << qint64(-1) << QByteArray("Connection Refused");
}

void tst_ItemDownloader::fails()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(qint64, dropAfter);
    QFETCH(QByteArray, expectedText);

    ItemDownloader *downloader = nullptr;
    if (path == QLatin1String("refused")) {
        QUrl url = m_server.url("/");
        url.setPort(HttpTestServer::unusedPort());
        downloader = ItemDownloader::GetItemDownloader(hostText(url));
    } else {
        HttpTestServer::Route route;
        route.status = status;
        route.generatedSize = 5000;
        route.dropAfter = dropAfter;
        m_server.setRoute(path.toLatin1(), route);
        downloader = downloaderFor(path);
    }
    Outcomes outcomes(downloader);
    downloader->start(TimeSpan::FromSeconds(60));
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.total(), 1, 20000);
    QCOMPARE(outcomes.failures, QList<QByteArray>{expectedText});
    QVERIFY(downloader->downloadedData().isEmpty());
    QVERIFY(!downloader->isRunning());
    settle();
    QCOMPARE(outcomes.total(), 1);
}

void tst_ItemDownloader::timesOut_data()
{
    QTest::addColumn<bool>("midBody");
    QTest::newRow("server-never-answers") << false;
    QTest::newRow("server-stops-mid-body") << true;
}

void tst_ItemDownloader::timesOut()
{
    QFETCH(bool, midBody);
    HttpTestServer::Route route;
    if (midBody) {
        route.generatedSize = 1000000;
        route.pieceSize = 100;
        route.pieceIntervalMs = 1000; // would take hours
    } else {
        route.stall = true;
    }
    const QByteArray path = midBody ? "/slow" : "/stall";
    m_server.setRoute(path, route);

    ItemDownloader *downloader = downloaderFor(QString::fromLatin1(path));
    Outcomes outcomes(downloader);
    downloader->start(TimeSpan::FromMilliseconds(300));
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.total(), 1, 20000);
    QCOMPARE(outcomes.failures.size(), 1);
    QVERIFY2(outcomes.failures.first().contains("timed out"), outcomes.failures.first().constData());
    QVERIFY(downloader->downloadedData().isEmpty());
    QVERIFY(!downloader->isRunning());
    settle();
    QCOMPARE(outcomes.total(), 1);
}

void tst_ItemDownloader::restartAbandonsTheRunningDownload()
{
    HttpTestServer::Route stall;
    stall.stall = true;
    m_server.setRoute("/restart", stall);
    ItemDownloader *downloader = downloaderFor(QStringLiteral("/restart"));
    Outcomes outcomes(downloader);
    downloader->start(TimeSpan::FromSeconds(60));
    const int before = m_server.requestCount();
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(), before + 1, 20000);

    HttpTestServer::Route ok;
    ok.body = "second";
    m_server.setRoute("/restart", ok);
    downloader->start(TimeSpan::FromSeconds(60));
    QCOMPARE(outcomes.failures.size(), 1); // the first one, at once
    QTRY_COMPARE_WITH_TIMEOUT(outcomes.downloaded, 1, 20000);
    QCOMPARE(downloader->downloadedData(), QByteArray("second"));
    settle();
    QCOMPARE(outcomes.total(), 2);
}

void tst_ItemDownloader::failsWhenTheManagerIsGone()
{
    ItemDownloader *downloader = downloaderFor(QStringLiteral("/unmanaged"));
    NetworkAccessManager *installed = ItemDownloader::AccessManager();
    ItemDownloader::SetAccessManager(nullptr);
    Outcomes outcomes(downloader);
    downloader->start(TimeSpan::FromSeconds(5));
    ItemDownloader::SetAccessManager(installed);
    QCOMPARE(outcomes.failures.size(), 1);
    QCOMPARE(outcomes.downloaded, 0);
}

QTEST_GUILESS_MAIN(tst_ItemDownloader)
#include "tst_itemdownloader.moc"
