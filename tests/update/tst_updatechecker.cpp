#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qterrordialog.h"
#include "host/widgets/updatedownload.h"
#include "tests/update/testkeys.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

// The host's update logic, and the update checker in a process whose module services are not
// installed: no access manager (it would stay for the rest of the process) and no widgets.
namespace {

const auto bytes = [](const QByteArray &data) { return String(data.constData(), static_cast<uint32_t>(data.size())); };
const auto qbytes = [](const String &text) { return QByteArray(text.data(), static_cast<qsizetype>(text.length())); };

} // namespace

class tst_UpdateChecker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void processDescription_data();
    void processDescription();
    void signedDescription_data();
    void signedDescription();
    void safeFileName_data();
    void safeFileName();
    void compareVersions_data();
    void compareVersions();
    void installedVersion_data();
    void installedVersion();
    void createUpdateFile();
    void checkFailsAtOnceWithoutManager();
};

void tst_UpdateChecker::processDescription_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<UpdateChecker::UpdateStatus>("status"); // against the installed 1.4.0
    QTest::addColumn<QByteArray>("detail"); // the entries understood (empty: the text), or a part of the failure

    const auto available = UpdateChecker::UpdateStatusAvailable;
    const auto upToDate = UpdateChecker::UpdateStatusUpToDate;
    const auto failed = UpdateChecker::UpdateStatusFailed;
    QTest::newRow("all-four-keys-value-keeps-later-equals")
        << QByteArray("name=Orvik Suite\nversion=2\nurl=https://u.example/get?file=o.exe&arch=x64\n"
                      "page=https://u.example/notes/\n")
        << available << QByteArray();
    QTest::newRow("byte-order-mark-crlf-comments-and-blank-lines")
        << QByteArray("\xEF\xBB\xBF# Orvik update\r\n\r\n   \r\nname=Orvik\r\n  # version=9.9\r\nversion=1.4.0\r\n\r\n")
        << upToDate << QByteArray("name=Orvik\nversion=1.4.0\n");
    QTest::newRow("space-around-key-and-value-no-final-line-end")
        << QByteArray("  name =  Orvik Suite \t\n version= 1.10 ") << available
        << QByteArray("name=Orvik Suite\nversion=1.10\n");
    QTest::newRow("line-without-equals") << QByteArray("name=Orvik\nversion 1.5\n") << failed
                                         << QByteArray("line 2: expected key=value, got \"version 1.5\"");
    QTest::newRow("empty-key") << QByteArray("name=Orvik\n=1.5\n") << failed
                               << QByteArray("line 2: the key before '=' is empty");
    QTest::newRow("repeated-key-in-other-case") << QByteArray("name=Orvik\nversion=1.5\r\nVersion=1.6\r\n") << failed
                                                << QByteArray("line 3: the key \"version\" appears twice");
    QTest::newRow("missing-version") << QByteArray("name=Orvik\nurl=https://u.example/o.exe\n") << failed
                                     << QByteArray("gives no version");
    QTest::newRow("missing-name") << QByteArray("version=1.5\n") << failed << QByteArray("gives no name");
    QTest::newRow("version-with-letters") << QByteArray("name=Orvik\nversion=v1.5-beta\n") << failed
                                          << QByteArray("\"v1.5-beta\" is not a version number");
    QTest::newRow("version-with-trailing-dot")
        << QByteArray("name=Orvik\nversion=1.5.\n") << failed << QByteArray("\"1.5.\" is not a version number");
    QTest::newRow("size-not-a-number") << QByteArray("name=Orvik\nversion=2\nsize=12k\n") << failed
                                       << QByteArray("the size \"12k\" is not a number of bytes");
    QTest::newRow("sha256-too-short") << QByteArray("name=Orvik\nversion=2\nsha256=abcd\n") << failed
                                      << QByteArray("the sha256 \"abcd\" is not 64 hexadecimal digits");
}

void tst_UpdateChecker::signedDescription_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("failure"); // a part of the reason; empty: accepted
    QTest::addColumn<bool>("malformed");     // also without a pinned key

    const QByteArray body = "\xEF\xBB\xBF# Orvik update\r\nname=Orvik\r\nversion=2.0\r\nsize=5\r\n"
                            "sha256=" +
                            QByteArray(64, 'a') + "\r\n";
    const QByteArray good = TestKeys::signedBy(TestKeys::kPublisher, body);
    const QByteArray signatureLine = good.mid(body.size());
    const auto changedAt = [&good](qsizetype at) {
        QByteArray changed = good;
        changed[at] = char(changed[at] ^ 0x01);
        return changed;
    };
    const QByteArray mismatch = "the description was changed or signed by another key";

    QTest::newRow("signed-with-bom-crlf-and-comment") << good << QByteArray() << false;
    QTest::newRow("no-line-end-after-signature") << good.chopped(1) << QByteArray() << false;
    QTest::newRow("unsigned") << body << QByteArray("the description is not signed") << false;
    QTest::newRow("changed-byte-in-bom") << changedAt(0) << mismatch << true;
    QTest::newRow("changed-byte-in-comment") << changedAt(5) << mismatch << false;
    QTest::newRow("changed-version") << QByteArray(good).replace("version=2.0", "version=3.0") << mismatch << false;
    QTest::newRow("crlf-made-lf") << QByteArray(good).replace("name=Orvik\r\n", "name=Orvik\n") << mismatch << false;
    QTest::newRow("changed-byte-in-signature") << changedAt(body.size() + 12) << mismatch << false;
    QTest::newRow("signed-by-another-key") << TestKeys::signedBy(TestKeys::kOther, body) << mismatch << false;
    QTest::newRow("signature-not-base64") << body + "signature=%%%\n"
                                          << QByteArray("the signature is malformed") << false;
    QTest::newRow("signature-too-short") << body + "signature=" + QByteArray(32, 'x').toBase64() + "\n"
                                         << QByteArray("the signature is malformed") << false;
    QTest::newRow("line-after-signature")
        << good + "page=https://evil.example/\n"
        << QByteArray("the signature line is not the description's last line") << false;
    QTest::newRow("second-signature-line") << good + signatureLine << mismatch << true;
}

void tst_UpdateChecker::signedDescription()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, failure);
    QFETCH(bool, malformed);

    UpdateChecker pinned("Orvik");
    pinned.setCurrentVersion("1.0");
    pinned.setPublicKey(TestKeys::publisherKey());
    pinned.processUpdateString(bytes(text));
    const QByteArray why = qbytes(pinned.failureReason());
    QCOMPARE(pinned.updateStatus(),
             failure.isEmpty() ? UpdateChecker::UpdateStatusAvailable : UpdateChecker::UpdateStatusFailed);
    QVERIFY2(failure.isEmpty() ? why.isEmpty() : why.contains(failure), why.constData());

    // Without a pinned key the signature is not examined: only a malformed text fails.
    UpdateChecker open("Orvik");
    open.setCurrentVersion("1.0");
    open.processUpdateString(bytes(text));
    QCOMPARE(open.updateStatus(), malformed ? UpdateChecker::UpdateStatusFailed : UpdateChecker::UpdateStatusAvailable);
}

void tst_UpdateChecker::safeFileName_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");

    QTest::newRow("plain") << QStringLiteral("https://u.example/dl/Orvik-2.0.exe?x=1")
                           << QStringLiteral("Orvik-2.0.exe");
    QTest::newRow("encoded-separators") << QStringLiteral("https://u.example/dl/..%2F..%2F.bashrc")
                                        << QStringLiteral("bashrc");
    QTest::newRow("backslashes") << QStringLiteral("https://u.example/a%5C..%5Cevil.exe")
                                 << QStringLiteral("a..evil.exe");
    QTest::newRow("control-characters") << QStringLiteral("https://u.example/se%0Atup%00%E2%80%AE.exe%1B%C2%85")
                                        << QStringLiteral("setup.exe");
    QTest::newRow("dot-dot") << QStringLiteral("https://u.example/dl/..") << QStringLiteral("update-package");
    QTest::newRow("leading-dot-and-space")
        << QStringLiteral("https://u.example/%20.profile") << QStringLiteral("profile");
    QTest::newRow("no-path") << QStringLiteral("https://u.example") << QStringLiteral("update-package");
    QTest::newRow("folder-address") << QStringLiteral("https://u.example/dl/") << QStringLiteral("update-package");
}

void tst_UpdateChecker::safeFileName()
{
    QFETCH(QString, url);
    QFETCH(QString, name);
    QCOMPARE(UpdateDownload::SafeFileName(url), name);
}

void tst_UpdateChecker::processDescription()
{
    QFETCH(QByteArray, text);
    QFETCH(UpdateChecker::UpdateStatus, status);
    QFETCH(QByteArray, detail);

    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.4.0");
    // Each row follows a check with the other outcome, whose result and reason it must replace.
    const bool failing = status == UpdateChecker::UpdateStatusFailed;
    checker.processUpdateString(
        failing ? "name=Old\npage=https://u.example/old/\nversion=9\nurl=https://u.example/o.exe" : "version=9");
    QCOMPARE(checker.updateStatus(),
             failing ? UpdateChecker::UpdateStatusAvailable : UpdateChecker::UpdateStatusFailed);
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.processUpdateString(bytes(text));

    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker.updateStatus(), status);
    QCOMPARE(checker.updateRequiresApplicationClose(), status == UpdateChecker::UpdateStatusAvailable);
    const INIFactory understood = checker.getINI();
    if (failing) {
        const QByteArray why = qbytes(checker.failureReason());
        QVERIFY2(why.startsWith("Malformed update description: ") && why.contains(detail), why.constData());
        QVERIFY(understood.isEmpty());
    } else {
        QVERIFY(checker.failureReason().isEmpty());
        QCOMPARE(qbytes(understood.toText()), detail.isEmpty() ? text : detail);
    }
    QCOMPARE(qbytes(checker.updateName()), qbytes(understood.value("name")));
    QCOMPARE(qbytes(checker.updateVersion()), qbytes(understood.value("version")));
    QCOMPARE(qbytes(checker.updateURLDownload()), qbytes(understood.value("url")));
    QCOMPARE(qbytes(checker.updateURLPage()), qbytes(understood.value("page")));
}

void tst_UpdateChecker::compareVersions_data()
{
    QTest::addColumn<QByteArray>("offered");
    QTest::addColumn<QByteArray>("installed");
    QTest::addColumn<int>("order"); // of offered against installed

    QTest::newRow("minor-ten-after-nine") << QByteArray("1.10.0") << QByteArray("1.9.2") << 1;
    QTest::newRow("missing-component-is-zero") << QByteArray("1.2") << QByteArray("1.2.0.0") << 0;
    QTest::newRow("extra-nonzero-component") << QByteArray("1.2.0.1") << QByteArray("1.2") << 1;
    QTest::newRow("leading-zeros") << QByteArray("01.002") << QByteArray("1.2") << 0;
    QTest::newRow("beyond-64-bit") << QByteArray("1.99999999999999999999") << QByteArray("1.100000000000000000000")
                                   << -1;
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
}

void tst_UpdateChecker::installedVersion_data()
{
    QTest::addColumn<QString>("application");                // the application's version
    QTest::addColumn<QByteArray>("set");                     // a version set on the checker; empty: none
    QTest::addColumn<UpdateChecker::UpdateStatus>("status"); // after a description offering 1.10.0

    QTest::newRow("application-older") << QStringLiteral("1.9.2") << QByteArray()
                                       << UpdateChecker::UpdateStatusAvailable;
    QTest::newRow("application-without-version-fails")
        << QString() << QByteArray() << UpdateChecker::UpdateStatusFailed;
    QTest::newRow("checker-version-wins")
        << QStringLiteral("5.0") << QByteArray("1.0") << UpdateChecker::UpdateStatusAvailable;
}

void tst_UpdateChecker::installedVersion()
{
    QFETCH(QString, application);
    QFETCH(QByteArray, set);
    QFETCH(UpdateChecker::UpdateStatus, status);

    QCoreApplication::setApplicationVersion(application);
    UpdateChecker checker("Orvik");
    if (!set.isEmpty())
        checker.setCurrentVersion(bytes(set));
    checker.processUpdateString("name=Orvik\nversion=1.10.0\n");
    QCOMPARE(checker.updateStatus(), status);
    QCOMPARE(qbytes(checker.currentVersion()), set.isEmpty() ? application.toUtf8() : set);
}

void tst_UpdateChecker::createUpdateFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Orvik.txt"));
    UpdateChecker publisher("Orvik");
    QVERIFY_THROWS_EXCEPTION(Exception, publisher.createUpdateFile("2.0-beta", File(bytes(path.toUtf8()))));
    QVERIFY(!QFile::exists(path));
    const QByteArray unwritable = dir.filePath(QStringLiteral("no-such-folder/Orvik.txt")).toUtf8();
    QVERIFY_THROWS_EXCEPTION(Exception, publisher.createUpdateFile("2.0", File(bytes(unwritable))));

    publisher.createUpdateFile("2.4.1", File(bytes(path.toUtf8())));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("name=Orvik\nversion=2.4.1\n"));
}

void tst_UpdateChecker::checkFailsAtOnceWithoutManager()
{
    QVERIFY(!ItemDownloader::HasNetworkManager());
    ORVIKUpdateChecker checker("Orvik");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    checker.requestCheckForUpdate("");
    // Failed at once: no downloader could be had.
    QCOMPARE(statusSet.count(), 1);
    QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);

    // Without widgets an error is reported without a dialog.
    QCOMPARE(QTErrorDialog::CreateErrorDialog(Exception("No display"), nullptr), nullptr);
}

QTEST_GUILESS_MAIN(tst_UpdateChecker)
#include "tst_updatechecker.moc"
