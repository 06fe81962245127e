#include "host/base/exception.h"
#include "host/widgets/infopipe.h"
#include "host/widgets/qterrordialog.h"
#include "host/widgets/updatechecker.h"
#include "tests/update/vtableslot.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

namespace {

String bytes(const QByteArray &data)
{
    return String(data.constData(), static_cast<uint32_t>(data.size()));
}

QByteArray qbytes(const String &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.length()));
}

class RecordingPipe : public InfoPipe
{
public:
    void writeInfo(const StringView &message) override
    {
        messages.append(QByteArray(message.data(), message.length()));
    }
    QList<QByteArray> messages;
};

} // namespace

class tst_UpdateChecker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void parseDescription_data();
    void parseDescription();
    void malformedDescription_data();
    void malformedDescription();
    void compareVersions_data();
    void compareVersions();
    void applicationVersionIsTheDefault();
    void failedCheckClearsThePreviousResult();
    void downloadAndInstallAreRefused();
    void createUpdateFileRoundTrip();
    void createUpdateFileFailures();
    void virtualOperationOrder_data();
    void virtualOperationOrder();
    void errorDialogIsNonModal();
};

void tst_UpdateChecker::init()
{
    QCoreApplication::setApplicationName(QStringLiteral("tst_updatechecker"));
    QCoreApplication::setApplicationVersion(QString());
}

void tst_UpdateChecker::parseDescription_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("newer");         // than the application's 1.4.0
    QTest::addColumn<QByteArray>("entries"); // what was understood, one key=value a line

    QTest::newRow("all-four-keys") << QByteArray("name=Orvik Suite\nversion=1.5.0\nurl=https://u.example/s.exe\n"
                                                 "page=https://u.example/notes/\n")
                                   << true
                                   << QByteArray("name=Orvik Suite\nversion=1.5.0\nurl=https://u.example/s.exe\n"
                                                 "page=https://u.example/notes/\n");
    QTest::newRow("crlf-line-ends") << QByteArray("name=Orvik\r\nversion=2.0\r\nurl=https://u.example/o.exe\r\n")
                                    << true << QByteArray("name=Orvik\nversion=2.0\nurl=https://u.example/o.exe\n");
    QTest::newRow("comments-and-blank-lines")
        << QByteArray("# Orvik update\n\n   \nname=Orvik\n  # version=9.9\nversion=1.4.0\n\n") << false
        << QByteArray("name=Orvik\nversion=1.4.0\n");
    QTest::newRow("unknown-keys-kept-aside") << QByteArray("channel=beta\nname=Orvik\nversion=1.3.9") << false
                                             << QByteArray("channel=beta\nname=Orvik\nversion=1.3.9\n");
    QTest::newRow("space-around-key-and-value") << QByteArray("  name =  Orvik Suite \t\n version= 1.10 \n") << true
                                                << QByteArray("name=Orvik Suite\nversion=1.10\n");
    QTest::newRow("value-keeps-later-equals")
        << QByteArray("name=Orvik\nversion=1.4.1\nurl=https://u.example/get?file=o.exe&arch=x64\n") << true
        << QByteArray("name=Orvik\nversion=1.4.1\nurl=https://u.example/get?file=o.exe&arch=x64\n");
    QTest::newRow("keys-ignore-case") << QByteArray("Name=Orvik\nVERSION=1.4\nPage=https://u.example/\n") << false
                                      << QByteArray("name=Orvik\nversion=1.4\npage=https://u.example/\n");
    QTest::newRow("byte-order-mark") << QByteArray("\xEF\xBB\xBFname=Orvik\r\nversion=3\r\n") << true
                                     << QByteArray("name=Orvik\nversion=3\n");
}

void tst_UpdateChecker::parseDescription()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, newer);
    QFETCH(QByteArray, entries);

    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.4.0");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.processUpdateString(bytes(text));

    const auto status = newer ? UpdateChecker::UpdateStatusAvailable : UpdateChecker::UpdateStatusUpToDate;
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(statusSet.at(0).at(0).value<UpdateChecker::UpdateStatus>(), status);
    QCOMPARE(checker.updateStatus(), status);
    QVERIFY(checker.failureReason().isEmpty());
    const INIFactory understood = checker.getINI();
    QCOMPARE(qbytes(understood.toText()), entries);
    QCOMPARE(qbytes(checker.updateName()), qbytes(understood.value("name")));
    QCOMPARE(qbytes(checker.updateVersion()), qbytes(understood.value("version")));
    QCOMPARE(qbytes(checker.updateURLDownload()), qbytes(understood.value("url")));
    QCOMPARE(qbytes(checker.updateURLPage()), qbytes(understood.value("page")));
}

void tst_UpdateChecker::malformedDescription_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("reason"); // a part of the failure reason

    QTest::newRow("line-without-equals") << QByteArray("name=Orvik\nversion 1.5\n")
                                         << QByteArray("line 2: expected key=value, got \"version 1.5\"");
    QTest::newRow("empty-key") << QByteArray("name=Orvik\n=1.5\n") << QByteArray("line 2: the key before '=' is empty");
    QTest::newRow("repeated-key") << QByteArray("name=Orvik\nversion=1.5\r\nVersion=1.6\r\n")
                                  << QByteArray("line 3: the key \"version\" appears twice");
    QTest::newRow("missing-version") << QByteArray("name=Orvik\nurl=https://u.example/o.exe\n")
                                     << QByteArray("gives no version");
    QTest::newRow("empty-version") << QByteArray("name=Orvik\nversion=\n") << QByteArray("gives no version");
    QTest::newRow("missing-name") << QByteArray("version=1.5\n") << QByteArray("gives no name");
    QTest::newRow("version-with-letters")
        << QByteArray("name=Orvik\nversion=v1.5-beta\n") << QByteArray("\"v1.5-beta\" is not a version number");
    QTest::newRow("version-with-empty-component")
        << QByteArray("name=Orvik\nversion=1..5\n") << QByteArray("\"1..5\" is not a version number");
    QTest::newRow("version-with-trailing-dot")
        << QByteArray("name=Orvik\nversion=1.5.\n") << QByteArray("\"1.5.\" is not a version number");
    QTest::newRow("empty-text") << QByteArray() << QByteArray("gives no name");
    QTest::newRow("html-error-page") << QByteArray("<html><body>Not Found</body></html>")
                                     << QByteArray("line 1: expected key=value");
}

void tst_UpdateChecker::malformedDescription()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, reason);

    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.4.0");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.processUpdateString(bytes(text));

    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);
    const QByteArray why = qbytes(checker.failureReason());
    QVERIFY2(why.startsWith("Malformed update description: ") && why.contains(reason), why.constData());
    QVERIFY(checker.getINI().isEmpty());
    QVERIFY(checker.updateName().isEmpty());
    QVERIFY(checker.updateVersion().isEmpty());
}

void tst_UpdateChecker::compareVersions_data()
{
    QTest::addColumn<QByteArray>("offered");
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<int>("order"); // of offered against installed

    QTest::newRow("minor-ten-after-nine") << QByteArray("1.10.0") << QByteArray("1.9.2") << 1;
    QTest::newRow("patch-ten-after-nine") << QByteArray("0.0.10") << QByteArray("0.0.9") << 1;
    QTest::newRow("equal") << QByteArray("2.3.4") << QByteArray("2.3.4") << 0;
    QTest::newRow("missing-component-is-zero") << QByteArray("1.2") << QByteArray("1.2.0.0") << 0;
    QTest::newRow("extra-nonzero-component") << QByteArray("1.2.0.1") << QByteArray("1.2") << 1;
    QTest::newRow("major-decides-first") << QByteArray("2.0") << QByteArray("1.99.99") << 1;
    QTest::newRow("single-numbers") << QByteArray("9") << QByteArray("10") << -1;
    QTest::newRow("leading-zeros") << QByteArray("01.002") << QByteArray("1.2") << 0;
    QTest::newRow("zero-against-nothing-more") << QByteArray("0") << QByteArray("0.0.1") << -1;
    QTest::newRow("beyond-64-bit") << QByteArray("1.99999999999999999999") << QByteArray("1.100000000000000000000")
                                   << -1;
    QTest::newRow("older-build") << QByteArray("4.1.7.300") << QByteArray("4.1.7.1200") << -1;
}

void tst_UpdateChecker::compareVersions()
{
    QFETCH(QByteArray, offered);
    QFETCH(QByteArray, installed);
    QFETCH(int, order);

    const String a = bytes(offered);
    const String b = bytes(installed);
    QCOMPARE(qBound(-1, UpdateChecker::CompareVersions(a, b), 1), order);
    QCOMPARE(qBound(-1, UpdateChecker::CompareVersions(b, a), 1), -order);

    // The comparison decides the outcome of a check.
    UpdateChecker checker("Orvik");
    checker.setCurrentVersion(b);
    checker.processUpdateString(String("name=Orvik\nversion=") + a + "\n");
    QCOMPARE(checker.updateStatus(),
             order > 0 ? UpdateChecker::UpdateStatusAvailable : UpdateChecker::UpdateStatusUpToDate);
    QCOMPARE(checker.updateRequiresApplicationClose(), order > 0);
}

void tst_UpdateChecker::applicationVersionIsTheDefault()
{
    UpdateChecker checker("Orvik");
    const String description = "name=Orvik\nversion=1.10.0\n";

    QCoreApplication::setApplicationVersion(QStringLiteral("1.9.2"));
    checker.processUpdateString(description);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusAvailable);

    QCoreApplication::setApplicationVersion(QStringLiteral("1.10"));
    checker.processUpdateString(description);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusUpToDate);

    // Without a version of its own the application cannot compare: that is a failed check.
    QCoreApplication::setApplicationVersion(QString());
    checker.processUpdateString(description);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);
    QVERIFY2(qbytes(checker.failureReason()).contains("application's version \"\""), checker.failureReason().data());

    // A version set on the checker wins over the application's.
    QCoreApplication::setApplicationVersion(QStringLiteral("5.0"));
    checker.setCurrentVersion("1.0");
    checker.processUpdateString(description);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusAvailable);
    QCOMPARE(qbytes(checker.currentVersion()), QByteArray("1.0"));
}

void tst_UpdateChecker::failedCheckClearsThePreviousResult()
{
    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.0");
    checker.processUpdateString("name=Orvik\nversion=1.1\nurl=https://u.example/o.exe\n");
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusAvailable);
    QCOMPARE(qbytes(checker.updateVersion()), QByteArray("1.1"));

    checker.processUpdateString("name=Orvik\nversion=one\n");
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);
    QVERIFY(checker.updateName().isEmpty());
    QVERIFY(checker.updateVersion().isEmpty());
    QVERIFY(checker.updateURLDownload().isEmpty());
    QVERIFY(!checker.updateRequiresApplicationClose());

    // A later good description replaces the failure and its reason.
    checker.processUpdateString("name=Orvik\nversion=1.0\n");
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusUpToDate);
    QVERIFY(checker.failureReason().isEmpty());
}

void tst_UpdateChecker::downloadAndInstallAreRefused()
{
    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.0");
    QVERIFY(!checker.updateSupported());
    QVERIFY(!checker.requstDownloadUpdate());
    QVERIFY2(qbytes(checker.actionError()).contains("no update to download"), checker.actionError().data());

    checker.processUpdateString("name=Orvik\nversion=2.0\nurl=https://u.example/o-2.0.exe\n");
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusAvailable);
    QVERIFY(!checker.requstDownloadUpdate());
    QVERIFY2(qbytes(checker.actionError()).contains("https://u.example/o-2.0.exe"), checker.actionError().data());
    QVERIFY(!checker.requestInstallUpdate(true));
    QVERIFY2(qbytes(checker.actionError()).startsWith("This application cannot install updates"),
             checker.actionError().data());
    // Refusing is not a failed check.
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusAvailable);
}

void tst_UpdateChecker::createUpdateFileRoundTrip()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Orvik.txt"));
    UpdateChecker publisher("Orvik");
    publisher.createUpdateFile("2.4.1", File(bytes(path.toUtf8())));

    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray text = written.readAll();
    QCOMPARE(text, QByteArray("name=Orvik\nversion=2.4.1\n"));

    UpdateChecker reader("Orvik");
    reader.setCurrentVersion("2.4");
    reader.processUpdateString(bytes(text));
    QCOMPARE(reader.updateStatus(), UpdateChecker::UpdateStatusAvailable);
    QCOMPARE(qbytes(reader.updateName()), QByteArray("Orvik"));
    QCOMPARE(qbytes(reader.updateVersion()), QByteArray("2.4.1"));
}

void tst_UpdateChecker::createUpdateFileFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    UpdateChecker publisher("Orvik");
    const QString missingFolder = dir.filePath(QStringLiteral("no-such-folder/Orvik.txt"));
    try {
        publisher.createUpdateFile("2.0", File(bytes(missingFolder.toUtf8())));
        QFAIL("writing into a missing folder did not throw");
    } catch (const Exception &error) {
        QVERIFY2(qbytes(error.message()).contains(missingFolder.toUtf8()), error.what());
    }
    const QString path = dir.filePath(QStringLiteral("Orvik.txt"));
    QVERIFY_THROWS_EXCEPTION(Exception, publisher.createUpdateFile("2.0-beta", File(bytes(path.toUtf8()))));
    QVERIFY(!QFile::exists(path));
}

void tst_UpdateChecker::virtualOperationOrder_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("expected");
#ifdef ORVIK_TEST_VTABLE_SLOTS
    // The host's table counts one destructor slot; this ABI has two (complete and deleting), so every
    // slot after the destructor sits one further on.
    QTest::newRow("requestCheckForUpdate") << vtableSlot(&UpdateChecker::requestCheckForUpdate) << 11 + 1;
    QTest::newRow("requstDownloadUpdate") << vtableSlot(&UpdateChecker::requstDownloadUpdate) << 12 + 1;
    QTest::newRow("requestInstallUpdate") << vtableSlot(&UpdateChecker::requestInstallUpdate) << 13 + 1;
    QTest::newRow("updateSupported") << vtableSlot(&UpdateChecker::updateSupported) << 14 + 1;
    QTest::newRow("updateName") << vtableSlot(&UpdateChecker::updateName) << 15 + 1;
    QTest::newRow("updateVersion") << vtableSlot(&UpdateChecker::updateVersion) << 16 + 1;
    QTest::newRow("updateURLPage") << vtableSlot(&UpdateChecker::updateURLPage) << 17 + 1;
    QTest::newRow("updateURLDownload") << vtableSlot(&UpdateChecker::updateURLDownload) << 18 + 1;
    QTest::newRow("updateRequiresApplicationClose")
        << vtableSlot(&UpdateChecker::updateRequiresApplicationClose) << 19 + 1;
    QTest::newRow("getINI") << vtableSlot(&UpdateChecker::getINI) << 20 + 1;
    QTest::newRow("createUpdateFile") << vtableSlot(&UpdateChecker::createUpdateFile) << 21 + 1;
    QTest::newRow("processUpdateString") << vtableSlot(&UpdateChecker::processUpdateString) << 22 + 1;
    QTest::newRow("defaultURLPathName") << vtableSlot(&UpdateChecker::defaultURLPathName) << 23 + 1;
    QTest::newRow("onCheckForUpdateComplete") << vtableSlot(&UpdateChecker::onCheckForUpdateComplete) << 24 + 1;
    QTest::newRow("event-stays-first-after-destructor") << vtableSlot(&QObject::event) << 4 + 1;
#endif
}

void tst_UpdateChecker::virtualOperationOrder()
{
#ifndef ORVIK_TEST_VTABLE_SLOTS
    QSKIP("virtual slots are read through the x86-64 Itanium C++ ABI");
#endif
    QFETCH(int, slot);
    QFETCH(int, expected);
    QCOMPARE(slot, expected);
}

void tst_UpdateChecker::errorDialogIsNonModal()
{
    RecordingPipe pipe;
    QPointer<QMessageBox> box = QTErrorDialog::CreateErrorDialog(Exception("Disk Z: is not ready"), &pipe);
    QVERIFY(box);
    QVERIFY(box->isVisible());
    QVERIFY(!box->isModal());
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QCOMPARE(box->text(), QStringLiteral("Disk Z: is not ready"));
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(pipe.messages, QList<QByteArray>{QByteArray("Disk Z: is not ready")});

    // Closing ends it; nobody else owns it.
    box->close();
    QTRY_VERIFY_WITH_TIMEOUT(box.isNull(), 10000);
}

QTEST_MAIN(tst_UpdateChecker)
#include "tst_updatechecker.moc"
