#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qterrordialog.h"
#include "host/widgets/updatedownload.h"
#include "host/widgets/updateversionstore.h"
#include "tests/update/statehome.h"
#include "tests/update/testkeys.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
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
const auto utcIn = [](qint64 seconds) {
    return UpdateDescription::TimeText(QDateTime::currentDateTimeUtc().addSecs(seconds)).toLatin1();
};

} // namespace

class tst_UpdateChecker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void processDescription_data();
    void processDescription();
    void signedDescription_data();
    void signedDescription();
    void safeFileName_data();
    void safeFileName();
    void compareVersions_data();
    void compareVersions();
    void smallOrderKey_data();
    void smallOrderKey();
    void rememberedVersion_data();
    void rememberedVersion();
    void installedVersion_data();
    void installedVersion();
    void createUpdateFile();
    void checkFailsAtOnceWithoutManager();

private:
    std::unique_ptr<QTemporaryDir> m_state;
};

// Every test case has verified versions of its own, never the user's.
void tst_UpdateChecker::init()
{
    m_state = std::make_unique<QTemporaryDir>();
    QVERIFY(m_state->isValid());
    setStateHome(m_state->path());
}

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
    QTest::newRow("close-no-product-and-expires")
        << "name=Orvik\nversion=2\nclose=NO\nproduct=Orvik\nexpires=" + utcIn(60) + "\n"
        << available << QByteArray();
    QTest::newRow("close-neither-yes-nor-no") << QByteArray("name=Orvik\nversion=2\nclose=later\n") << failed
                                              << QByteArray("close is \"later\", not yes or no");
    QTest::newRow("another-product") << QByteArray("name=Orvik\nversion=2\nproduct=OrvikPro\n") << failed
                                     << QByteArray("Update description of another product: it names \"OrvikPro\"");
    QTest::newRow("expired") << "name=Orvik\nversion=2\nexpires=" + utcIn(-1) + "\n"
                             << failed << "Expired update description: it expired at " + utcIn(-1);
    QTest::newRow("expires-not-utc") << QByteArray("name=Orvik\nversion=2\nexpires=2099-01-31T00:00:00+01:00\n")
                                     << failed << QByteArray("not a UTC time such as 2027-01-31T00:00:00Z");
    // Refused whole, before any line is read.
    QTest::newRow("over-64-kib") << "name=Orvik\nversion=2\n#" + QByteArray(64 * 1024, 'x') + "\n"
                                 << failed << QByteArray("Update description refused: it is larger than 65536 bytes");
}

void tst_UpdateChecker::signedDescription_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("failure"); // a part of the reason; empty: accepted
    QTest::addColumn<bool>("malformed");     // also without a pinned key

    const QByteArray fresh = "expires=" + utcIn(3600) + "\r\n";
    const QByteArray body = "\xEF\xBB\xBF# Orvik update\r\nname=Orvik\r\nproduct=Orvik\r\nversion=2.0\r\n" + fresh +
                            "size=5\r\nsha256=" + QByteArray(64, 'a') + "\r\n";
    const auto sign = [](const QByteArray &text) { return TestKeys::signedBy(TestKeys::kPublisher, text); };
    const QByteArray good = sign(body);
    const QByteArray signatureLine = good.mid(body.size());
    const auto changedAt = [&good](qsizetype at) {
        QByteArray changed = good;
        changed[at] = char(changed[at] ^ 0x01);
        return changed;
    };
    const QByteArray mismatch = "the description was changed or signed by another key";
    const QByteArray nul = sign(QByteArray(body).replace("# Orvik", QByteArray("# \0 Orvik", 9)));

    QTest::newRow("signed-with-bom-crlf-and-comment") << good << QByteArray() << false;
    QTest::newRow("no-line-end-after-signature") << good.chopped(1) << QByteArray() << false;
    // Every byte is signed, those after a NUL too.
    QTest::newRow("nul-in-signed-comment") << nul << QByteArray() << false;
    QTest::newRow("changed-after-nul") << QByteArray(nul).replace("update", "UPDATE") << mismatch << false;
    QTest::newRow("unsigned") << body << QByteArray("the description is not signed") << false;
    QTest::newRow("changed-byte-in-bom") << changedAt(0) << mismatch << true;
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
    // Genuine signatures that must not be taken for this product's, or for today's.
    QTest::newRow("signed-without-product") << sign(QByteArray(body).replace("product=Orvik\r\n", ""))
                                            << QByteArray("it gives no product (product=), which a signed") << false;
    QTest::newRow("signed-for-another-product") << sign(QByteArray(body).replace("product=Orvik", "product=OrvikPro"))
                                                << QByteArray("Update description of another product") << true;
    QTest::newRow("signed-without-expires") << sign(QByteArray(body).replace(fresh, ""))
                                            << QByteArray("it gives no expires (expires=), which a signed") << false;
    QTest::newRow("signed-and-expired") << sign(QByteArray(body).replace(fresh, "expires=2020-01-31T00:00:00Z\r\n"))
                                        << QByteArray("Expired update description: it expired at 2020-01-31T00:00:00Z")
                                        << true;
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
    QCOMPARE(pinned.updateVerified(), failure.isEmpty());
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
    // Cut to 247 units of the file system's encoding (room for " (99)"), between characters, the
    // extension kept: bytes of UTF-8 here, UTF-16 units on Windows.
#ifdef Q_OS_WIN
    const int kept = 243;
#else
    const int kept = 121;
#endif
    QTest::newRow("long-utf8-name-cut-in-bytes")
        << QStringLiteral("https://u.example/") + QString(300, QChar(0xE9)) + QStringLiteral(".exe")
        << QString(kept, QChar(0xE9)) + QStringLiteral(".exe");
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
    QCOMPARE(checker.updateRequiresApplicationClose(),
             status == UpdateChecker::UpdateStatusAvailable && !text.contains("close=NO"));
    const INIFactory understood = checker.getINI();
    if (failing) {
        const QByteArray why = qbytes(checker.failureReason());
        QVERIFY2(why.contains(detail) &&
                     (why.startsWith("Malformed update description: ") || detail.contains(" description")),
                 why.constData());
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

void tst_UpdateChecker::smallOrderKey_data()
{
    QTest::addColumn<QByteArray>("y"); // little-endian, sign bit clear: the encoding with x's sign bit clear and set
    const QByteArray ones = QByteArray(30, char(0xff));
    QTest::newRow("order-4-y-0") << QByteArray(32, '\0');
    QTest::newRow("identity-y-1") << "\x01" + QByteArray(31, '\0');
    QTest::newRow("order-8-y") << QByteArray::fromHex(
        "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05");
    QTest::newRow("order-8-minus-y") << QByteArray::fromHex(
        "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a");
    QTest::newRow("order-2-y-p-minus-1") << "\xec" + ones + "\x7f";
    QTest::newRow("order-4-y-p-not-canonical") << "\xed" + ones + "\x7f";
    QTest::newRow("identity-y-p-plus-1-not-canonical") << "\xee" + ones + "\x7f";
}

// With a small-order key one fixed signature can verify for every text: such a key is never pinned.
void tst_UpdateChecker::smallOrderKey()
{
    QFETCH(QByteArray, y);
    QByteArray negative = y;
    negative[31] = char(negative[31] | 0x80);
    for (const QByteArray &key : {y, negative}) {
        QString why;
        QVERIFY(UpdateSignature::ParsePublicKey(key.toBase64(), &why).isEmpty());
        QVERIFY2(why.contains("small-order point"), qPrintable(why));
        UpdateChecker checker("Orvik");
        checker.setPublicKey(key);
        // R = the identity, S = 0: valid for any text under the identity key.
        const QByteArray forged = "name=Orvik\nversion=9\n";
        checker.processUpdateString(bytes(forged + "signature=" + ("\x01" + QByteArray(63, '\0')).toBase64()));
        QVERIFY(qbytes(checker.failureReason()).contains("the pinned key is a small-order point"));
    }
    QVERIFY(!UpdateSignature::IsSmallOrderKey(TestKeys::publisherKey()));
}

void tst_UpdateChecker::rememberedVersion_data()
{
    QTest::addColumn<QByteArray>("kept");      // the version file before; empty: none
    QTest::addColumn<bool>("pinned");          // the description offering 1.5 is signed and a key pinned
    QTest::addColumn<QByteArray>("failure");   // a part of the reason; empty: accepted
    QTest::addColumn<QByteArray>("keptAfter"); // the version kept for Orvik afterwards

    QTest::newRow("verified-version-remembered") << QByteArray() << true << QByteArray() << QByteArray("1.5");
    QTest::newRow("unverified-not-remembered") << QByteArray() << false << QByteArray() << QByteArray();
    QTest::newRow("higher-kept") << QByteArray(R"({"Orvik": "1.5.0", "Other": "9"})") << true << QByteArray()
                                 << QByteArray("1.5.0");
    QTest::newRow("older-than-verified-refused")
        << QByteArray(R"({"Orvik": "2.0"})") << true
        << QByteArray("Rolled-back update description: it offers 1.5, older than 2.0") << QByteArray("2.0");
    QTest::newRow("older-than-verified-refused-unpinned")
        << QByteArray(R"({"Orvik": "2.0"})") << false << QByteArray("Rolled-back") << QByteArray("2.0");
    QTest::newRow("damaged-file-ignored")
        << QByteArray(R"({"Orvik": "9.0-evil"})") << true << QByteArray() << QByteArray("1.5");
}

// The highest verified version per product, under $XDG_STATE_HOME/orvik, whatever the installed version.
void tst_UpdateChecker::rememberedVersion()
{
    QFETCH(QByteArray, kept);
    QFETCH(bool, pinned);
    QFETCH(QByteArray, failure);
    QFETCH(QByteArray, keptAfter);

    const QString file = m_state->filePath(QStringLiteral("orvik/verified-versions.json"));
    QCOMPARE(UpdateVersionStore::DefaultPath(), file);
    if (!kept.isEmpty()) {
        QVERIFY(QDir(m_state->path()).mkpath(QStringLiteral("orvik")));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(kept) == kept.size());
    }
    if (kept.contains("evil"))
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("The file of verified update versions " + file + " is damaged; it is ignored"));
    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.0");
    const QByteArray text = "name=Orvik\nproduct=Orvik\nversion=1.5\nexpires=" + utcIn(60) + "\n";
    if (pinned)
        checker.setPublicKey(TestKeys::publisherKey());
    checker.processUpdateString(bytes(pinned ? TestKeys::signedBy(TestKeys::kPublisher, text) : text));
    QVERIFY2(qbytes(checker.failureReason()).contains(failure), qbytes(checker.failureReason()).constData());
    QCOMPARE(checker.updateStatus(),
             failure.isEmpty() ? UpdateChecker::UpdateStatusAvailable : UpdateChecker::UpdateStatusFailed);
    QCOMPARE(qbytes(UpdateVersionStore().highest("Orvik")), keptAfter);
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
    QCOMPARE(written.readAll(), QByteArray("name=Orvik\nproduct=Orvik\nversion=2.4.1\n"));
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
