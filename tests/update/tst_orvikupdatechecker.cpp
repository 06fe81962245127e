#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "tests/update/probechecker.h"
#include "update/orvikupdatechecker.h"

#include <QDir>
#include <QLibrary>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <utility>

using namespace ORVIK;

// The checker without leaving the machine: a scripted access manager records the addresses asked
// for (the real server's among them) and ends each transfer as the test says.
namespace {

QByteArray qbytes(const String &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.length()));
}

String bytes(const QByteArray &data)
{
    return String(data.constData(), static_cast<uint32_t>(data.size()));
}

// A transfer whose outcome the test decides.
class ScriptedRequest : public NetworkRequest
{
public:
    void close() override { closed = true; }
    void ignoreSslErrors() override {}
    bool isRunning() override { return started && !closed; }
    bool start() override { return started = true; }
    QByteArray readAll() override { return std::exchange(body, QByteArray()); }

    void succeed(const QByteArray &data)
    {
        body = data;
        Q_EMIT downloadProgressSignal(data.size(), data.size());
        Q_EMIT finishedSignal();
    }
    void failWith(const char *text)
    {
        Q_EMIT errorOccurredSignal(text);
        Q_EMIT finishedSignal();
    }

    bool started = false;
    bool closed = false;
    QByteArray body;
};

// Records every address asked for and hands out scripted transfers (the downloader owns them).
class ScriptedAccessManager : public NetworkAccessManager
{
public:
    NetworkRequest *createDownloadRequest(const NetworkRequestSettings &settings) override
    {
        urls.append(qbytes(settings.url));
        auto *request = new ScriptedRequest;
        requests.append(request);
        return request;
    }
    // The update checker only downloads.
    NetworkRequest *createFileUploadRequest(const NetworkRequestSettings &, const File &) override { return nullptr; }
    NetworkRequest *createDataUploadRequest(const NetworkRequestSettings &, const Buffer<uint8_t> &) override
    {
        return nullptr;
    }
    TimeRequest *createTimeRequest(const StringView &, uint16_t) override { return nullptr; }

    ScriptedRequest *last() const { return requests.isEmpty() ? nullptr : requests.last().data(); }

    QList<QByteArray> urls;
    QList<QPointer<ScriptedRequest>> requests;
};

ScriptedAccessManager manager;

const QByteArray kServer = "https://updates.orvik.example/";

} // namespace

class tst_OrvikUpdateChecker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void initialMembers();
    void requestsTheDescriptionAddress_data();
    void requestsTheDescriptionAddress();
    void completionBeforeAnyRequestDoesNothing();
    void destroyedCheckerHearsNothing();
    void updateURLPage_data();
    void updateURLPage();
    void moduleExportsTheClassWhole_data();
    void moduleExportsTheClassWhole();
};

void tst_OrvikUpdateChecker::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("tst_orvikupdatechecker"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    ItemDownloader::SetAccessManager(&manager);
}

void tst_OrvikUpdateChecker::initialMembers()
{
    QVERIFY(kServer.startsWith("https://"));
    QCOMPARE(QByteArray(ORVIKUpdateChecker::kUpdateServerURL.data()), kServer);
    const ORVIKUpdateChecker named("Orvik");
    QCOMPARE(qbytes(named.updateBaseURL.value()), kServer + "Update/Windows/");
    QVERIFY(named.updatePageURL.value().isEmpty());
    const ORVIKUpdateChecker unnamed;
    QCOMPARE(qbytes(unnamed.updateBaseURL.value()), kServer + "Update/Windows/");
    QCOMPARE(unnamed.updateStatus(), UpdateChecker::UpdateStatusIdle);
}

void tst_OrvikUpdateChecker::requestsTheDescriptionAddress_data()
{
    QTest::addColumn<QByteArray>("name"); // empty: the default constructor
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<QByteArray>("address");

    const QByteArray folder = kServer + "Update/Windows/";
    QTest::newRow("named") << QByteArray("OrvikStudio") << QByteArray() << folder + "OrvikStudio.txt";
    QTest::newRow("default-is-application-name")
        << QByteArray() << QByteArray() << folder + "tst_orvikupdatechecker.txt";
    QTest::newRow("argument-is-another-address")
        << QByteArray("OrvikCut") << QByteArray("https://elsewhere.example/Update/Windows/Other.txt")
        << folder + "OrvikCut.txt";
}

void tst_OrvikUpdateChecker::requestsTheDescriptionAddress()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, argument);
    QFETCH(QByteArray, address);

    std::unique_ptr<ProbeChecker> checker =
        name.isEmpty() ? std::make_unique<ProbeChecker>() : std::make_unique<ProbeChecker>(bytes(name));
    QSignalSpy statusSet(checker.get(), &UpdateChecker::updateStatusSetSignal);
    const qsizetype before = manager.urls.size();
    checker->requestCheckForUpdate(bytes(argument));
    QCOMPARE(manager.urls.size(), before + 1);
    QCOMPARE(manager.urls.last(), address);
    QVERIFY(manager.last()->started);
    QCOMPARE(statusSet.count(), 0); // starting sets no status

    manager.last()->succeed("name=Orvik\nversion=1.2.0\n");
    QCOMPARE(checker->received.size(), 1);
    QCOMPARE(checker->updateStatus(), UpdateChecker::UpdateStatusAvailable);
}

void tst_OrvikUpdateChecker::completionBeforeAnyRequestDoesNothing()
{
    ProbeChecker checker("Fresh");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.onCheckForUpdateComplete();
    QVERIFY(checker.received.isEmpty());
    QCOMPARE(statusSet.count(), 0);
}

void tst_OrvikUpdateChecker::destroyedCheckerHearsNothing()
{
    auto checker = std::make_unique<ProbeChecker>("Gone");
    checker->requestCheckForUpdate("");
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(bytes(kServer + "Update/Windows/Gone.txt"));
    QVERIFY(downloader);
    checker.reset();
    QSignalSpy failed(downloader, &ItemDownloader::downloadFailedSignal);
    manager.last()->failWith("Operation canceled");
    QCOMPARE(failed.count(), 1);
}

void tst_OrvikUpdateChecker::updateURLPage_data()
{
    QTest::addColumn<QByteArray>("name"); // empty: the default constructor
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("named") << QByteArray("Orvik") << QByteArray() << QByteArray() << kServer + "Orvik/";
    QTest::newRow("default-is-application-name")
        << QByteArray() << QByteArray() << QByteArray() << kServer + "tst_orvikupdatechecker/";
    QTest::newRow("on-the-server-not-the-folder")
        << QByteArray("Orvik") << QByteArray("http://127.0.0.1:9/mirror/") << QByteArray() << kServer + "Orvik/";
    QTest::newRow("page-given") << QByteArray("Orvik") << QByteArray()
                                << QByteArray("https://orvik.example/news/2.0?lang=en")
                                << QByteArray("https://orvik.example/news/2.0?lang=en");
}

void tst_OrvikUpdateChecker::updateURLPage()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, expected);

    std::unique_ptr<ORVIKUpdateChecker> checker =
        name.isEmpty() ? std::make_unique<ORVIKUpdateChecker>() : std::make_unique<ORVIKUpdateChecker>(bytes(name));
    if (!base.isEmpty())
        checker->updateBaseURL = bytes(base);
    checker->updatePageURL = bytes(page);
    QCOMPARE(qbytes(checker->updateURLPage()), expected);
    // Through the host's interface as well.
    const UpdateChecker &host = *checker;
    QCOMPARE(qbytes(host.updateURLPage()), expected);
}

void tst_OrvikUpdateChecker::moduleExportsTheClassWhole_data()
{
    QTest::addColumn<QByteArray>("symbol");
    QTest::newRow("default-constructor") << QByteArray("_ZN5ORVIK18ORVIKUpdateCheckerC1Ev");
    QTest::newRow("name-constructor") << QByteArray("_ZN5ORVIK18ORVIKUpdateCheckerC1ERKNS_10StringViewE");
    QTest::newRow("destructor") << QByteArray("_ZN5ORVIK18ORVIKUpdateCheckerD1Ev");
    QTest::newRow("deleting-destructor") << QByteArray("_ZN5ORVIK18ORVIKUpdateCheckerD0Ev");
    QTest::newRow("virtual-table") << QByteArray("_ZTVN5ORVIK18ORVIKUpdateCheckerE");
    QTest::newRow("type-info") << QByteArray("_ZTIN5ORVIK18ORVIKUpdateCheckerE");
    QTest::newRow("meta-object") << QByteArray("_ZN5ORVIK18ORVIKUpdateChecker16staticMetaObjectE");
    QTest::newRow("requestCheckForUpdate")
        << QByteArray("_ZN5ORVIK18ORVIKUpdateChecker21requestCheckForUpdateERKNS_10StringViewE");
    QTest::newRow("updateURLPage") << QByteArray("_ZNK5ORVIK18ORVIKUpdateChecker13updateURLPageEv");
    QTest::newRow("onCheckForUpdateComplete")
        << QByteArray("_ZN5ORVIK18ORVIKUpdateChecker24onCheckForUpdateCompleteEv");
}

void tst_OrvikUpdateChecker::moduleExportsTheClassWhole()
{
    QFETCH(QByteArray, symbol);
    QLibrary module(QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("ORVIKNetwork.so")));
    QVERIFY2(module.load(), qPrintable(module.errorString()));
    QVERIFY2(module.resolve(symbol.constData()), symbol.constData());
}

QTEST_MAIN(tst_OrvikUpdateChecker)
#include "tst_orvikupdatechecker.moc"
