#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/networkaccessmanager.h"
#include "host/widgets/networkrequest.h"
#include "tests/update/vtableslot.h"
#include "update/orvikupdatechecker.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <utility>

using namespace ORVIK;

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

// Sees what reaches the host's update logic, and can fail while the check is prepared.
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

QMessageBox *visibleMessageBox(const QString &text)
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible() && box->text() == text)
            return box;
    return nullptr;
}

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
    void baseURLIsUsedAsGiven();
    void failedDownloadSetsFailed();
    void repeatedRequestsShareOneCompletion();
    void secondStartAbandonsTheFirst();
    void exceptionWhilePreparing();
    void completionBeforeAnyRequestDoesNothing();
    void destroyedCheckerHearsNothing();
    void updateURLPage_data();
    void updateURLPage();
    void overridesKeepTheirSlots_data();
    void overridesKeepTheirSlots();
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
    QTest::newRow("argument-is-text") << QByteArray("OrvikPaint") << QByteArray("manual") << folder + "OrvikPaint.txt";
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

    // The text reaches the update logic as it was served, bytes that are not UTF-8 included.
    const QByteArray description("# \xff\xfe release\r\nname=Orvik\r\nversion=1.2.0\r\n");
    manager.last()->succeed(description);
    QCOMPARE(checker->received, QList<QByteArray>{description});
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker->updateStatus(), UpdateChecker::UpdateStatusAvailable);
    QCOMPARE(qbytes(checker->updateVersion()), QByteArray("1.2.0"));
}

void tst_OrvikUpdateChecker::baseURLIsUsedAsGiven()
{
    ProbeChecker checker("Mirror");
    checker.updateBaseURL = String("http://127.0.0.1:9/feeds/");
    checker.requestCheckForUpdate("");
    QCOMPARE(manager.urls.last(), QByteArray("http://127.0.0.1:9/feeds/Mirror.txt"));
    manager.last()->failWith("Connection refused");
}

void tst_OrvikUpdateChecker::failedDownloadSetsFailed()
{
    ProbeChecker checker("Failing");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.requestCheckForUpdate("");
    manager.last()->failWith("Host updates.orvik.example not found");
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);
    QVERIFY(checker.received.isEmpty());
    // The downloader's text is not kept.
    QVERIFY(checker.failureReason().isEmpty());
}

void tst_OrvikUpdateChecker::repeatedRequestsShareOneCompletion()
{
    ProbeChecker checker("Repeated");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.requestCheckForUpdate("");
    manager.last()->succeed("name=Orvik\nversion=1.0.0\n");
    checker.requestCheckForUpdate("");
    manager.last()->succeed("name=Orvik\nversion=1.0.1\n");
    // One completion connection: each download reaches the checker once.
    QCOMPARE(checker.received.size(), 2);
    QCOMPARE(checker.received.last(), QByteArray("name=Orvik\nversion=1.0.1\n"));
    QCOMPARE(statusSet.count(), 2);

    // Two failure connections: a later failure of the same downloader sets status 4 twice.
    statusSet.clear();
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(bytes(kServer + "Update/Windows/Repeated.txt"));
    QVERIFY(downloader);
    downloader->start(TimeSpan::FromSeconds(10));
    manager.last()->failWith("Connection reset");
    QCOMPARE(statusSet.count(), 2);
    for (const QList<QVariant> &arguments : std::as_const(statusSet))
        QCOMPARE(arguments.at(0).value<UpdateChecker::UpdateStatus>(), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(checker.received.size(), 2);
}

void tst_OrvikUpdateChecker::secondStartAbandonsTheFirst()
{
    ProbeChecker checker("BackToBack");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.requestCheckForUpdate("");
    QPointer<ScriptedRequest> first = manager.last();
    checker.requestCheckForUpdate("");
    // The running download was abandoned and failed: once for each request's failure connection.
    QCOMPARE(statusSet.count(), 2);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);
    QVERIFY(!first || first->closed);
    QVERIFY(manager.last() != first);

    manager.last()->succeed("name=Orvik\nversion=0.9\n");
    QCOMPARE(checker.received.size(), 1);
    QCOMPARE(statusSet.count(), 3);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusUpToDate);
}

void tst_OrvikUpdateChecker::exceptionWhilePreparing()
{
    ProbeChecker checker("Locked");
    checker.requestCheckForUpdate("");
    manager.last()->succeed("name=Orvik\nversion=1.0.0\n");
    QCOMPARE(checker.received.size(), 1);

    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    const qsizetype requestsBefore = manager.urls.size();
    checker.throwing = true;
    checker.requestCheckForUpdate("");
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);
    QCOMPARE(manager.urls.size(), requestsBefore);

    // The user sees the message in a box that blocks nothing, and this call has already returned.
    QPointer<QMessageBox> box = visibleMessageBox(QStringLiteral("The update channel file is locked"));
    QVERIFY(box);
    QVERIFY(!box->isModal());
    QVERIFY(!QApplication::activeModalWidget());

    // The check forgot its downloader: a later completion of it reaches the logic no more.
    ItemDownloader *downloader = ItemDownloader::GetItemDownloader(bytes(kServer + "Update/Windows/Locked.txt"));
    QVERIFY(downloader);
    QSignalSpy downloaded(downloader, &ItemDownloader::downloadedSignal);
    downloader->start(TimeSpan::FromSeconds(10));
    manager.last()->succeed("name=Orvik\nversion=7.0\n");
    QCOMPARE(downloaded.count(), 1);
    QCOMPARE(checker.received.size(), 1);
    QCOMPARE(statusSet.count(), 1);

    box->close();
    QTRY_VERIFY_WITH_TIMEOUT(box.isNull(), 10000);
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

void tst_OrvikUpdateChecker::overridesKeepTheirSlots_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("expected");
#ifdef ORVIK_TEST_VTABLE_SLOTS
    // One more than the host's table counts: this ABI gives the destructor two slots.
    QTest::newRow("requestCheckForUpdate") << vtableSlot(&ORVIKUpdateChecker::requestCheckForUpdate) << 11 + 1;
    QTest::newRow("updateURLPage") << vtableSlot(&ORVIKUpdateChecker::updateURLPage) << 17 + 1;
    QTest::newRow("onCheckForUpdateComplete") << vtableSlot(&ORVIKUpdateChecker::onCheckForUpdateComplete) << 24 + 1;
#endif
}

void tst_OrvikUpdateChecker::overridesKeepTheirSlots()
{
#ifndef ORVIK_TEST_VTABLE_SLOTS
    QSKIP("virtual slots are read through the x86-64 Itanium C++ ABI");
#endif
    QFETCH(int, slot);
    QFETCH(int, expected);
    QCOMPARE(slot, expected);
}

QTEST_MAIN(tst_OrvikUpdateChecker)
#include "tst_orvikupdatechecker.moc"
