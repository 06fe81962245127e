#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/qstringstream.h"
#include "loopback/httptestserver.h"
#include "module/moduleentry.h"
#include "network/qtnetworkaccessmanager.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace ORVIK;

namespace {

String hostText(const QUrl &url)
{
    return StringStream<QString>::toString(url.toString());
}

// Counts a downloader's outcomes and keeps the failure texts (the view is only valid in the slot), and
// what it held at each progress report.
struct Outcomes
{
    explicit Outcomes(ItemDownloader *downloader)
    {
        QObject::connect(downloader, &ItemDownloader::downloadProgressSignal, &context,
                         [this, downloader](qint64 received, qint64) {
                             heldAtProgress.append({received, downloader->downloadedData().size()});
                         });
        QObject::connect(downloader, &ItemDownloader::downloadedSignal, &context, [this] {
            ++downloaded;
            loop.quit();
        });
        QObject::connect(downloader, &ItemDownloader::downloadFailedSignal, &context, [this](StringView text) {
            failures.append(QByteArray(text.data(), text.length()));
            loop.quit();
        });
    }
    int total() const { return downloaded + int(failures.size()); }
    // Runs an event loop as orvik runs its transfers (QTest's waits sleep between rounds of events) until
    // the outcome, for at most 60 s.
    void wait()
    {
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (total() == 0)
            loop.exec();
    }

    QObject context; // ends the connections with this record
    QEventLoop loop;
    int downloaded = 0;
    QList<QByteArray> failures;
    QList<QPair<qint64, qint64>> heldAtProgress; // (bytes received, bytes held)
};

} // namespace

class tst_ItemDownloader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void downloadersNeedTheHookAndAnAddress();
    void transfers_data();
    void transfers();

private:
    ItemDownloader *downloaderFor(const QString &path)
    {
        return ItemDownloader::GetItemDownloader(hostText(m_server.url(path)));
    }

    HttpTestServer m_server;
};

void tst_ItemDownloader::initTestCase()
{
    QVERIFY2(m_server.listen(), qPrintable(m_server.errorString()));
    // A body made as it is sent: in pieces with a pause between them when asked, and cut short when asked.
    const auto generated = [this](const QByteArray &path, qint64 size, qint64 piece, int pauseMs, qint64 dropAfter = -1,
                                  HttpTestServer::Framing framing = HttpTestServer::Framing::ContentLength) {
        HttpTestServer::Route route;
        route.generatedSize = size;
        route.pieceSize = piece;
        route.pieceIntervalMs = pauseMs;
        route.dropAfter = dropAfter;
        route.framing = framing;
        m_server.setRoute(path, route);
    };
    generated("/slow", 1000000, 100, 1000); // would take hours
    generated("/paced", 40000, 10000, 200);
    generated("/settle", 1, 0, 0);
    generated("/cut-length", 1000000, 0, 0, 1000);
    generated("/cut-chunked", 1000000, 0, 0, 1000, HttpTestServer::Framing::Chunked);
    generated("/cut-half", 8 * 1024 * 1024, 0, 0, 4 * 1024 * 1024);
}

void tst_ItemDownloader::downloadersNeedTheHookAndAnAddress()
{
    QVERIFY(!ItemDownloader::HasNetworkManager());
    QCOMPARE(downloaderFor(QStringLiteral("/small")), nullptr);
    ORVIKNetworkSetupMetatypesForORVIK();
    QVERIFY(ItemDownloader::HasNetworkManager());
    NetworkAccessManager *first = ItemDownloader::AccessManager();
    ORVIKNetworkSetupMetatypesForORVIK();
    QVERIFY(ItemDownloader::AccessManager() != first); // each call installs a new one
    auto *installed = dynamic_cast<QtNetworkAccessManager *>(ItemDownloader::AccessManager());
    QVERIFY(installed);
    QCOMPARE(installed->qtManager(), nullptr); // created on the first web request, not before
    QCOMPARE(ItemDownloader::GetItemDownloader(StringView("")), nullptr);

    ItemDownloader *same = downloaderFor(QStringLiteral("/same"));
    QVERIFY(same);
    QCOMPARE(downloaderFor(QStringLiteral("/same")), same);
    QVERIFY(downloaderFor(QStringLiteral("/other")) != same);
    QCOMPARE(same->parent(), QCoreApplication::instance());
    QCOMPARE(same->url(), hostText(m_server.url("/same")));
}

void tst_ItemDownloader::transfers_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("rounds");
    QTest::addColumn<QByteArray>("expectedData");
    QTest::addColumn<QString>("failure"); // a pattern the failure text matches whole; empty: the download succeeds
    QTest::addColumn<qint64>("sent");     // of a cut body, the bytes that the server sends before it closes

    const QByteArray none, paced = HttpTestServer::patternBytes(0, 40000);
    QTest::newRow("body-in-pieces") << "/paced" << 60000 << 1 << paced << QString() << qint64(0);
    QTest::newRow("zero-span-sets-no-time-out") << "/paced" << 0 << 1 << paced << QString() << qint64(0);
    QTest::newRow("not-found") << "/nowhere" << 60000 << 1 << none << "Content Not Found" << qint64(0);
    // The part of the body that came before the time-out is dropped.
    QTest::newRow("server-stops-mid-body-times-out")
        << "/slow" << 300 << 1 << none << "Download timed out after 300 ms" << qint64(0);
    // Qt now and then reports a connection that the server closed mid-body as a successful finish, so
    // one run that fails proves little: these run 100 times through the driver that every download of
    // the host and of orvik goes through. Qt's own report of the close, or the driver's count against the
    // announced length.
    const QString cut("Remote Host Closed|the server closed the connection after (\\d+) of (\\d+) bytes");
    QTest::newRow("announced-length-cut-short") << "/cut-length" << 60000 << 100 << none << cut << qint64(1000);
    QTest::newRow("chunked-without-its-last-chunk") << "/cut-chunked" << 60000 << 100 << none << cut << qint64(1000);
    QTest::newRow("half-of-8-MiB") << "/cut-half" << 60000 << 100 << none << cut << qint64(4 * 1024 * 1024);
}

void tst_ItemDownloader::transfers()
{
    QFETCH(QString, path);
    QFETCH(int, timeoutMs);
    QFETCH(int, rounds);
    QFETCH(QByteArray, expectedData);
    QFETCH(QString, failure);
    QFETCH(qint64, sent);

    const QRegularExpression reason(QRegularExpression::anchoredPattern(failure));
    ItemDownloader *downloader = downloaderFor(path);
    int counted = 0;
    int qtPassed = 0;
    for (int round = 0; round < rounds; ++round) {
        Outcomes outcomes(downloader);
        downloader->start(TimeSpan::FromMilliseconds(timeoutMs));
        QVERIFY(downloader->isRunning());
        outcomes.wait();
        QCOMPARE(outcomes.total(), 1);
        QVERIFY(!downloader->isRunning());
        // Qt 6.4 may take a close after a whole chunk for the end of a chunked body, and the host
        // learns no length to hold it against (docs/architecture.md, "Web transfers").
        if (path == QLatin1String("/cut-chunked") && outcomes.downloaded == 1) {
            ++qtPassed;
            continue;
        }
        if (failure.isEmpty()) {
            QCOMPARE(outcomes.downloaded, 1);
        } else {
            QVERIFY2(outcomes.downloaded == 0, qPrintable(QStringLiteral("round %1 passed as a success").arg(round)));
            const QRegularExpressionMatch match = reason.match(QString::fromUtf8(outcomes.failures.constFirst()));
            QVERIFY2(match.hasMatch(), outcomes.failures.constFirst().constData());
            if (!match.captured(1).isEmpty()) {
                ++counted;
                QVERIFY(match.captured(1).toLongLong() <= sent);
                QVERIFY(match.captured(2).toLongLong() > sent);
            }
        }
        // The body is read as it arrives: at every progress report all of it so far is held.
        bool sawPartial = false;
        for (const auto &entry : outcomes.heldAtProgress) {
            QCOMPARE(entry.second, entry.first);
            sawPartial = sawPartial || (entry.first > 0 && entry.first < expectedData.size());
        }
        QVERIFY(sawPartial || !failure.isEmpty());
        QCOMPARE(downloader->downloadedData().size(), expectedData.size());
        QVERIFY(downloader->downloadedData() == expectedData);
    }
    if (rounds > 1)
        qInfo("of %d cut bodies, %d were failed by the driver's count, %d passed in Qt as whole", rounds, counted,
              qtPassed);
    // Once a later download through the same server has ended, a stray late signal would have come.
    Outcomes last(downloader);
    ItemDownloader *control = downloaderFor(QStringLiteral("/settle"));
    QSignalSpy settled(control, &ItemDownloader::downloadedSignal);
    control->start(TimeSpan::FromSeconds(20));
    QVERIFY(settled.wait(20000));
    QCOMPARE(last.total(), 0);
}

int main(int argc, char *argv[])
{
    // With Qt's own event loop, as orvik runs its transfers, Qt reports a cut body as a finish in a
    // good part of the runs; with GLib's, hardly ever.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    tst_ItemDownloader test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_itemdownloader.moc"
