#include "host/base/exception.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qterrordialog.h"
#include "host/widgets/update/filelock.h"
#include "host/widgets/update/updatedownload.h"
#include "host/widgets/update/updateversion.h"
#include "host/widgets/update/updateversionstore.h"
#include "tests/update/updatetest.h"
#include "update/orvikupdatechecker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <future>
#include <memory>
#include <vector>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace ORVIK;

// The host's update logic, and the update checker in a process whose module services are not
// installed: no access manager (it would stay for the rest of the process) and no widgets.

class tst_UpdateChecker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void processDescription_data();
    void processDescription();
    void safeFileName_data();
    void safeFileName();
    void compareVersions_data();
    void compareVersions();
    void parseTime_data();
    void parseTime();
    void pinnedKey_data();
    void pinnedKey();
    void rememberedVersion_data();
    void rememberedVersion();
    void versionStoreLock();
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
    QTest::addColumn<bool>("pinned");       // the publisher's key is pinned

    const auto row = [](const char *tag, const QByteArray &text, UpdateChecker::UpdateStatus status,
                        const QByteArray &detail = {}) { QTest::newRow(tag) << text << status << detail << false; };
    const auto failed = [&row](const char *tag, const QByteArray &text, const QByteArray &detail) {
        row(tag, text, UpdateChecker::UpdateStatusFailed, detail);
    };
    const auto available = UpdateChecker::UpdateStatusAvailable;
    row("all-four-keys-value-keeps-later-equals",
        "name=Orvik Suite\nversion=2\nurl=https://u.example/get?file=o.exe&arch=x64\npage=https://u.example/notes/\n",
        available);
    row("byte-order-mark-crlf-comments-and-blank-lines",
        "\xEF\xBB\xBF# Orvik update\r\n\r\n   \r\nname=Orvik\r\n  # version=9.9\r\nversion=1.4.0\r\n\r\n",
        UpdateChecker::UpdateStatusUpToDate, "name=Orvik\nversion=1.4.0\n");
    row("space-around-key-and-value-no-final-line-end", "  name =  Orvik Suite \t\n version= 1.10 ", available,
        "name=Orvik Suite\nversion=1.10\n");
    failed("line-without-equals", "name=Orvik\nversion 1.5\n", "line 2: expected key=value, got \"version 1.5\"");
    failed("empty-key", "name=Orvik\n=1.5\n", "line 2: the key before '=' is empty");
    failed("repeated-key-in-other-case", "name=Orvik\nversion=1.5\r\nVersion=1.6\r\n",
           "line 3: the key \"version\" appears twice");
    failed("missing-version", "name=Orvik\nurl=https://u.example/o.exe\n", "gives no version");
    failed("missing-name", "version=1.5\n", "gives no name");
    failed("version-with-letters", "name=Orvik\nversion=v1.5-beta\n", "\"v1.5-beta\" is not a version number");
    failed("version-with-trailing-dot", "name=Orvik\nversion=1.5.\n", "\"1.5.\" is not a version number");
    failed("size-not-a-number", "name=Orvik\nversion=2\nsize=12k\n", "the size \"12k\" is not a number of bytes");
    failed("sha256-too-short", "name=Orvik\nversion=2\nsha256=abcd\n",
           "the sha256 \"abcd\" is not 64 hexadecimal digits");
    row("close-no-product-and-expires", "name=Orvik\nversion=2\nclose=NO\nproduct=Orvik\nexpires=" + utcIn(60) + "\n",
        available);
    // Without a pinned key the signature is not examined, but a product= given is.
    row("signature-not-examined-without-key", "name=Orvik\nsignature=%%%\nversion=2\n", available);
    failed("another-product", "name=Orvik\nversion=2\nproduct=OrvikPro\n",
           "Update description of another product: it names \"OrvikPro\"");
    failed("close-neither-yes-nor-no", "name=Orvik\nversion=2\nclose=later\n", "close is \"later\", not yes or no");
    const QByteArray past = utcIn(-1);
    failed("expired", "name=Orvik\nversion=2\nexpires=" + past + "\n",
           "Expired update description: it expired at " + past);
    failed("expires-not-rfc-3339", "name=Orvik\nversion=2\nexpires=2099-01-31 00:00:00\n",
           "not an RFC 3339 time such as 2027-01-31T00:00:00Z");
    // Fault: freshness without a ceiling (a description signed once lives for ever).
    failed("expires-more-than-366-days-ahead", "name=Orvik\nversion=2\nexpires=" + utcIn(366 * 86400 + 120) + "\n",
           "more than 366 days from now");
    row("expires-366-days-ahead-accepted", "name=Orvik\nversion=2\nexpires=" + utcIn(366 * 86400 - 120) + "\n",
        available);
    // Fault: a 19-digit size= read as a number (std::out_of_range, the host dies).
    failed("size-of-19-digits", "name=Orvik\nversion=2\nsize=9999999999999999999\n",
           "the size \"9999999999999999999\" is not a number of bytes");
    // Fault: a sha256= longer than 64 digits accepted.
    failed("sha256-of-65-digits", "name=Orvik\nversion=2\nsha256=" + QByteArray(65, 'a') + "\n",
           "is not 64 hexadecimal digits");
    // mirror= is the one key that may repeat, and only as web addresses of a package that url= gives.
    const QByteArray offer = "name=Orvik\nversion=2\nurl=https://u.example/o.run\n";
    row("mirrors", offer + "mirror=https://m1.example/o.run\nMirror = http://m2.example/o.run\n", available, offer);
    failed("mirror-not-a-web-address", offer + "mirror=ftp://m1.example/o.run\n", "is not an http or https address");
    failed("mirror-without-host", offer + "mirror=https:///o.run\n", "is not an http or https address");
    failed("mirror-without-url", "name=Orvik\nversion=2\nmirror=https://m1.example/o.run\n",
           "gives mirror= but no url=");
    QByteArray nine = offer;
    for (int i = 0; i <= UpdateDescription::kMaxMirrors; ++i)
        nine += "mirror=https://m" + QByteArray::number(i) + ".example/o.run\n";
    failed("too-many-mirrors", nine, "gives 9 mirror= lines, more than 8");
    // A value from the server is quoted at most 200 characters long.
    failed("long-value-cut-in-reason", "name=Orvik\nversion=" + QByteArray(5000, 'v') + "\n",
           "the version \"" + QByteArray(200, 'v') + "...\" is not a version number");
    // Refused whole, before any line is read; exactly 64 KiB is still read. Fault: a description of
    // exactly 64 KiB refused.
    const QByteArray head = "name=Orvik\nversion=2\n#";
    row("exactly-64-kib", head + QByteArray(64 * 1024 - head.size() - 1, 'x') + "\n", available,
        "name=Orvik\nversion=2\n");
    failed("one-byte-over-64-kib", head + QByteArray(64 * 1024 - head.size(), 'x') + "\n",
           "Update description refused: it is larger than 65536 bytes");

    // Signed, with the publisher's key pinned.
    const QByteArray fresh = "expires=" + utcIn(3600) + "\r\n";
    const QByteArray body = "\xEF\xBB\xBF# Orvik update\r\nname=Orvik\r\nproduct=Orvik\r\nversion=2.0\r\n" + fresh +
                            "size=5\r\nsha256=" + QByteArray(64, 'a') + "\r\n";
    const auto sign = [](const QByteArray &text) { return TestKeys::signedBy(TestKeys::kPublisher, text); };
    const QByteArray good = sign(body);
    const QByteArray signatureLine = good.mid(body.size());
    const auto changedAt = [&good](qsizetype at, char to) {
        QByteArray changed = good;
        changed[at] = to;
        return changed;
    };
    const QByteArray mismatch = "the description was changed or signed by another key";
    const QByteArray nul = sign(QByteArray(body).replace("# Orvik", QByteArray("# \0 Orvik", 9)));

    const auto pinned = [](const char *tag, const QByteArray &text, const QByteArray &failure = {}) {
        QTest::newRow(tag) << text << (failure.isEmpty() ? available : UpdateChecker::UpdateStatusFailed) << failure
                           << true;
    };
    pinned("signed-with-bom-crlf-and-comment", good);
    pinned("no-line-end-after-signature", good.chopped(1));
    // Every byte is signed, those after a NUL too.
    pinned("nul-in-signed-comment", nul);
    pinned("changed-after-nul", QByteArray(nul).replace("update", "UPDATE"), mismatch);
    pinned("unsigned", body, "the description is not signed");
    pinned("changed-byte-in-bom", changedAt(0, '\xEE'), mismatch);
    pinned("crlf-made-lf", QByteArray(good).replace("name=Orvik\r\n", "name=Orvik\n"), mismatch);
    // Still base64, whatever the signature: it decodes to 64 other bytes.
    const qsizetype inSignature = body.size() + 12;
    pinned("changed-byte-in-signature", changedAt(inSignature, good[inSignature] == 'A' ? 'B' : 'A'), mismatch);
    pinned("signed-by-another-key", TestKeys::signedBy(TestKeys::kOther, body), mismatch);
    pinned("signature-not-base64", body + "signature=%%%\n",
           "Unverified update description: the signature is malformed");
    pinned("signature-too-short", body + "signature=" + QByteArray(32, 'x').toBase64() + "\n",
           "Unverified update description: the signature is malformed");
    pinned("line-after-signature", good + "page=https://evil.example/\n",
           "the signature line is not the description's last line");
    pinned("second-signature-line", good + signatureLine, mismatch);
    // Fault: mirror lines left out of what the signature covers.
    QByteArray mirrored = sign(body + "url=https://u.example/o.run\r\n");
    mirrored.insert(mirrored.indexOf("signature="), "mirror=https://evil.example/o.run\r\n");
    pinned("mirror-added-after-signing", mirrored, mismatch);
    // Fault: blank lines after the signature line taken.
    pinned("blank-line-after-signature", good + "\n", "the signature line is not the description's last line");
    pinned("crlf-blank-line-after-signature", good + "\r\n", "the signature line is not the description's last line");
    // Genuine signatures that must not be taken for this product's, or for today's.
    pinned("signed-without-product", sign(QByteArray(body).replace("product=Orvik\r\n", "")),
           "it gives no product (product=), which a signed");
    pinned("signed-for-another-product", sign(QByteArray(body).replace("product=Orvik", "product=OrvikPro")),
           "Update description of another product: it names \"OrvikPro\"");
    pinned("signed-without-expires", sign(QByteArray(body).replace(fresh, "")),
           "it gives no expires (expires=), which a signed");
}

void tst_UpdateChecker::safeFileName_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");

    const auto row = [](const char *tag, const QString &path, const QString &name) {
        QTest::newRow(tag) << QStringLiteral("https://u.example") + path << name;
    };
    row("plain", "/dl/Orvik-2.0.exe?x=1", "Orvik-2.0.exe");
    row("encoded-separators", "/dl/..%2F..%2F.bashrc", "bashrc");
    row("backslashes", "/a%5C..%5Cevil.exe", "a..evil.exe");
    row("control-characters", "/se%0Atup%00%E2%80%AE.exe%1B%C2%85", "setup.exe");
    row("dot-dot", "/dl/..", "update-package");
    row("leading-dot-and-space", "/%20.profile", "profile");
    row("no-path", "", "update-package");
    row("folder-address", "/dl/", "update-package");
    // Names that Windows would refuse or take for something else, made safe on every system. Faults:
    // a character of <>:"|?* kept (a ':' names a stream of the file); a device name recognised only
    // without an extension, only in upper case, or without its superscript digit.
    row("characters-windows-refuses", "/se%3Ctup%3E%3A%22%7C%3F%2A.exe", "se_tup______.exe");
    row("stream-name", "/setup.exe%3A%24DATA", "setup.exe_$DATA");
    row("trailing-dots-and-spaces", "/setup.exe.%20.%20", "setup.exe");
    row("device-name", "/CON", "_CON");
    row("device-name-with-extension", "/nul.tar.gz", "_nul.tar.gz");
    row("device-name-space-before-extension", "/Com1%20.exe", "_Com1 .exe");
    row("device-name-superscript-digit", "/lpt%C2%B9.msi", QStringLiteral("_lpt\u00B9.msi"));
    row("device-name-inside-a-name-kept", "/CONSOLE.exe", "CONSOLE.exe");
    row("com10-not-reserved", "/com10.exe", "com10.exe");
    // Cut to 247 units of the file system's encoding (room for " (99)"), between characters, the
    // extension kept: bytes of UTF-8 here, UTF-16 units on Windows.
#ifdef Q_OS_WIN
    const int kept = 243;
#else
    const int kept = 121;
#endif
    row("long-utf8-name-cut-in-bytes", '/' + QString(300, QChar(0xE9)) + ".exe", QString(kept, QChar(0xE9)) + ".exe");
    // Fault: a cut that splits a surrogate pair. U+1F600 is 4 bytes of UTF-8 and 2 UTF-16 units: the
    // limit falls inside the last one that would fit.
    const QString grin = QString::fromUcs4(U"\U0001F600");
#ifdef Q_OS_WIN
    const int grins = 121;
#else
    const int grins = 60;
#endif
    row("cut-between-surrogate-pairs", '/' + grin.repeated(300) + ".exe", grin.repeated(grins) + ".exe");
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
    QFETCH(bool, pinned);

    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.4.0");
    if (pinned)
        checker.setPublicKey(TestKeys::publisherKey());
    // Each row follows a check with the other outcome, whose result and reason it must replace.
    const bool failing = status == UpdateChecker::UpdateStatusFailed;
    const QByteArray before = "name=Old\nproduct=Orvik\nexpires=" + utcIn(60) +
                              "\npage=https://u.example/old/\nversion=9\nurl=https://u.example/o.exe";
    checker.processUpdateString(
        bytes(failing ? (pinned ? TestKeys::signedBy(TestKeys::kPublisher, before) : before) : "version=9"));
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
        // A signed row is checked for its verification, not for the entries it lists.
        if (!pinned)
            QCOMPARE(qbytes(understood.toText()), detail.isEmpty() ? text : detail);
    }
    QCOMPARE(checker.updateVerified(), pinned && !failing);
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
    QCOMPARE(qBound(-1, UpdateVersion::Compare(a, b), 1), order);
    QCOMPARE(qBound(-1, UpdateVersion::Compare(b, a), 1), -order);
}

void tst_UpdateChecker::parseTime_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("utc"); // empty: refused

    const auto row = [](const char *tag, const char *text, const char *utc) {
        QTest::newRow(tag) << QString::fromLatin1(text) << QString::fromLatin1(utc);
    };
    row("utc-z", "2027-01-31T09:00:00Z", "2027-01-31T09:00:00Z");
    row("lower-case-t-and-z", "2027-01-31t09:00:00z", "2027-01-31T09:00:00Z");
    row("offset-zero", "2027-01-31T09:00:00+00:00", "2027-01-31T09:00:00Z");
    row("offset-plus-14", "2027-01-31T09:00:00+14:00", "2027-01-30T19:00:00Z");
    row("offset-minus-half-hour", "2027-01-31T09:00:00-03:30", "2027-01-31T12:30:00Z");
    row("long-fraction", "2027-01-31T09:00:00.123456789Z", "2027-01-31T09:00:00Z");
    row("leap-second", "2016-12-31T23:59:60Z", "2017-01-01T00:00:00Z");
    row("hour-24", "2027-01-31T24:00:00Z", "");
    row("minute-60", "2027-01-31T09:60:00Z", "");
    row("second-61", "2027-01-31T09:00:61Z", "");
    row("february-30", "2027-02-30T09:00:00Z", "");
    row("offset-hour-24", "2027-01-31T09:00:00+24:00", "");
    row("no-zone", "2027-01-31T09:00:00", "");
    row("space-for-t", "2027-01-31 09:00:00Z", "");
    QTest::newRow("digits-of-another-script") << QStringLiteral("\u0662027-01-31T09:00:00Z") << QString();
}

void tst_UpdateChecker::parseTime()
{
    QFETCH(QString, text);
    QFETCH(QString, utc);
    const QDateTime time = UpdateDescription::ParseTime(text);
    QCOMPARE(time.isValid(), !utc.isEmpty());
    if (time.isValid())
        QCOMPARE(UpdateDescription::TimeText(time), utc);
}

void tst_UpdateChecker::pinnedKey_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("file");          // the text of a key file, else what --public-key was given
    QTest::addColumn<QByteArray>("failure"); // a part of the reason; empty: pinned

    const QByteArray raw = TestKeys::publisherKey();
    const QByteArray pem = TestKeys::publicKeyPem(TestKeys::kPublisher);
    const QByteArray notPoint = "not a point of the Ed25519 curve";
    const auto row = [](const char *tag, const QByteArray &text, bool file, const QByteArray &failure = {}) {
        QTest::newRow(tag) << text << file << failure;
    };
    row("base64-key", raw.toBase64(), false);
    row("pem-key-file", pem, true);
    row("base64-key-file", raw.toBase64() + "\n", true);
    // The option takes the text itself, never a file or a PEM block.
    row("pem-given-as-option", pem, false, "a key is the base64 of 32 bytes");
    // Fault: the second key of a file ignored.
    row("two-pem-keys-in-file", pem + TestKeys::publicKeyPem(TestKeys::kOther), true, "more than one key");
    row("two-base64-keys-in-file", raw.toBase64() + "\n" + raw.toBase64() + "\n", true, "more than one line");
    // Fault: 32 bytes that are no point pinned. y = 2 gives an x^2 that has no root.
    row("y-2-not-on-curve", ("\x02" + QByteArray(31, '\0')).toBase64(), false, notPoint);
    row("y-2-not-on-curve-in-file", ("\x02" + QByteArray(31, '\0')).toBase64(), true, notPoint);
    // y = p + 3 reduces to 3, a point, but no canonical encoding is p or more.
    row("y-not-below-p",
        QByteArray::fromHex("f0ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f").toBase64(), false,
        notPoint);
    // With a small-order key one fixed signature verifies for every text: such a key is never pinned.
    // These are the y of the eight points as encoded (the last two not canonical), each with x's
    // sign bit clear and set.
    const QByteArray ones(30, char(0xff));
    const QList<QByteArray> smallOrder = {
        QByteArray(32, '\0'),
        "\x01" + QByteArray(31, '\0'),
        QByteArray::fromHex("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"),
        QByteArray::fromHex("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a"),
        "\xec" + ones + "\x7f",
        "\xed" + ones + "\x7f",
        "\xee" + ones + "\x7f"};
    for (int i = 0; i < smallOrder.size(); ++i) {
        QByteArray negative = smallOrder.at(i);
        negative[31] = char(negative[31] | 0x80);
        QTest::addRow("small-order-%d", i) << smallOrder.at(i).toBase64() << false << QByteArray("small-order point");
        QTest::addRow("small-order-%d-negative-x", i)
            << negative.toBase64() << false << QByteArray("small-order point");
    }
    // y = 3 is on the curve with either sign of x.
    row("y-3-on-curve", ("\x03" + QByteArray(31, '\0')).toBase64(), false);
    row("y-3-negative-x-on-curve", ("\x03" + QByteArray(30, '\0') + "\x80").toBase64(), false);
}

void tst_UpdateChecker::pinnedKey()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, file);
    QFETCH(QByteArray, failure);

    QString why;
    const QByteArray key =
        file ? UpdateSignature::ParsePublicKeyFile(text, &why) : UpdateSignature::ParsePublicKey(text, &why);
    QCOMPARE(key.isEmpty(), !failure.isEmpty());
    QVERIFY2(failure.isEmpty() ? why.isEmpty() : why.contains(QString::fromLatin1(failure)), qPrintable(why));
    if (failure.contains("small-order")) {
        // Pinned all the same, as a host may do without parsing: R = the identity, S = 0 is then
        // valid for any text, and the check refuses the key itself.
        UpdateChecker checker("Orvik");
        checker.setPublicKey(QByteArray::fromBase64(text));
        checker.processUpdateString(
            bytes("name=Orvik\nversion=9\nsignature=" + ("\x01" + QByteArray(63, '\0')).toBase64()));
        QVERIFY(qbytes(checker.failureReason()).contains("the pinned key is a small-order point"));
    }
}

void tst_UpdateChecker::rememberedVersion_data()
{
    QTest::addColumn<QByteArray>("kept");      // the version file before; empty: none
    QTest::addColumn<QByteArray>("attack");    // what is done to the memory before the check; empty: nothing
    QTest::addColumn<bool>("pinned");          // the description offering 1.5 is signed and a key pinned
    QTest::addColumn<QByteArray>("failure");   // a part of the reason; empty: accepted
    QTest::addColumn<QByteArray>("keptAfter"); // the version kept for Orvik afterwards

    const auto row = [](const char *tag, const QByteArray &kept, const QByteArray &attack, bool pinned,
                        const QByteArray &failure, const QByteArray &keptAfter) {
        QTest::newRow(tag) << kept << attack << pinned << failure << keptAfter;
    };
    row("verified-version-remembered", {}, {}, true, {}, "1.5");
    row("unverified-not-remembered", {}, {}, false, {}, {});
    row("higher-kept", R"({"Orvik": "1.5.0", "Other": "9"})", {}, true, {}, "1.5.0");
    // Fault: the memory keeps the lower version when a higher one is verified.
    row("lower-raised", R"({"Orvik": "1.2", "Other": "9"})", {}, true, {}, "1.5");
    row("older-than-verified-refused", R"({"Orvik": "2.0"})", {}, true,
        "Rolled-back update description: it offers 1.5, older than 2.0", "2.0");
    row("older-than-verified-refused-unpinned", R"({"Orvik": "2.0"})", {}, false, "Rolled-back", "2.0");
    row("damaged-file-ignored", R"({"Orvik": "9.0-evil"})", {}, true, {}, "1.5");
    // A memory that cannot be used trusts nothing, and says how to mend it.
    row("folder-in-its-place", {}, "folder", true, "(it is a folder, not a file), so no update is trusted: remove", {});
    // Fault: a valid memory over the read limit is wiped (and older versions accepted).
    row("valid-but-over-1-mib", R"({"Orvik": "2.0"})", "huge", true, "(it is larger than 1048576 bytes)", {});
#ifndef Q_OS_WIN
    // Fault: the memory opened so that a FIFO blocks the check for ever.
    row("fifo-in-its-place", {}, "fifo", true, "(it is not a regular file", {});
    // Fault: a failed write of the memory goes unreported (and the check goes on as if remembered).
    row("write-fails", {}, "full", true, "(it cannot be written: File too large)", {});
    // Fault: a relative XDG_STATE_HOME used (a different memory in every working folder).
    row("relative-state-home-ignored", {}, "relative", true, {}, "1.5");
    // Permissions do not bind root: these two rows run only for another user.
    row("no-permission", R"({"Orvik": "1.0"})", "denied", true, "(Permission denied)", {});
    row("read-only-folder", R"({"Orvik": "1.0"})", "read-only", true, "(it cannot be written: Permission denied)", {});
#endif
}

// The highest verified version per product, under $XDG_STATE_HOME/orvik, whatever the installed version.
void tst_UpdateChecker::rememberedVersion()
{
    QFETCH(QByteArray, kept);
    QFETCH(QByteArray, attack);
    QFETCH(bool, pinned);
    QFETCH(QByteArray, failure);
    QFETCH(QByteArray, keptAfter);

    QString file = m_state->filePath(QStringLiteral("orvik/verified-versions.json"));
    QCOMPARE(UpdateVersionStore::DefaultPath(), file);
#ifndef Q_OS_WIN
    if ((attack == "denied" || attack == "read-only") && geteuid() == 0)
        QSKIP("root may read and write whatever the permissions say");
    if (attack == "relative") {
        // The rules of the XDG base folders: a relative path is ignored, ~/.local/state is used.
        qputenv("HOME", m_state->path().toUtf8());
        setStateHome(QStringLiteral("relative/state"));
        file = m_state->filePath(QStringLiteral(".local/state/orvik/verified-versions.json"));
        QCOMPARE(UpdateVersionStore::DefaultPath(), file);
    }
#endif
    QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
    if (attack == "huge")
        kept += QByteArray(UpdateVersionStore::kMaxBytes, ' ');
    if (!kept.isEmpty())
        QVERIFY(writeFile(file, kept));
    if (attack == "folder")
        QVERIFY(QDir().mkdir(file));
#ifndef Q_OS_WIN
    if (attack == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    if (attack == "denied")
        QVERIFY(QFile::setPermissions(file, QFileDevice::Permissions()));
    if (attack == "read-only")
        QVERIFY(QFile::setPermissions(QFileInfo(file).absolutePath(), QFile::ReadOwner | QFile::ExeOwner));
#endif
    if (kept.contains("evil"))
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("The file of verified update versions " + file + " is damaged; it is ignored"));
    UpdateChecker checker("Orvik");
    checker.setCurrentVersion("1.0");
    const QByteArray text = "name=Orvik\nproduct=Orvik\nversion=1.5\nexpires=" + utcIn(60) + "\n";
    if (pinned)
        checker.setPublicKey(TestKeys::publisherKey());
    {
#ifndef Q_OS_WIN
        // The lock file is empty; the memory's few lines are more than this.
        const std::shared_ptr<void> full = attack == "full" ? fileSizeLimit(4) : nullptr;
#endif
        checker.processUpdateString(bytes(pinned ? TestKeys::signedBy(TestKeys::kPublisher, text) : text));
    }
#ifndef Q_OS_WIN
    if (attack == "read-only")
        QVERIFY(QFile::setPermissions(QFileInfo(file).absolutePath(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
#endif
    const QByteArray why = qbytes(checker.failureReason());
    QVERIFY2(why.contains(failure), why.constData());
    QCOMPARE(checker.updateStatus(),
             failure.isEmpty() ? UpdateChecker::UpdateStatusAvailable : UpdateChecker::UpdateStatusFailed);
    if (!attack.isEmpty() && !failure.isEmpty()) {
        QVERIFY2(why.startsWith("The memory of verified update versions "), why.constData());
        // Nothing of it was replaced.
        if (attack == "full")
            QVERIFY(!QFile::exists(file));
        if (attack == "huge")
            QVERIFY(contentsOf(file) == kept);
        return;
    }
    QCOMPARE(qbytes(UpdateVersionStore().highest("Orvik")), keptAfter);
    if (kept.contains("Other"))
        QCOMPARE(qbytes(UpdateVersionStore().highest("Other")), QByteArray("9"));
}

// The lock beside the memory: one held elsewhere is waited for, for a bounded time only. Then
// sixteen checks of sixteen products at once, each through a store of its own, as parallel runs
// are: every product is remembered. Fault: the read, merge and replace not held under one lock
// (16 parallel runs kept 4 to 7).
void tst_UpdateChecker::versionStoreLock()
{
    const QString path = m_state->filePath(QStringLiteral("orvik/verified-versions.json"));
    UpdateVersionStore waiting(path);
    waiting.setLockWait(300);
    QVERIFY(QDir().mkpath(m_state->filePath(QStringLiteral("orvik"))));
    FileLock elsewhere;
    QString error;
    QVERIFY2(elsewhere.lock(waiting.lockPath(), 0, &error), qPrintable(error));
    String kept;
    QCOMPARE(waiting.admit("Orvik", "2.0", true, &kept, &error), UpdateVersionStore::Outcome::Unusable);
    QVERIFY2(error.contains(QStringLiteral("another process has held the lock file")), qPrintable(error));
    QVERIFY(!QFile::exists(path));
    elsewhere.unlock();

    constexpr int kProducts = 16;
    std::promise<void> start;
    const std::shared_future<void> go = start.get_future().share();
    std::atomic<int> unusable{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < kProducts; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            UpdateVersionStore store(path);
            go.wait(); // all at once
            String kept;
            QString reason;
            const String product(("P" + QByteArray::number(i)).constData());
            for (int version = 1; version <= 3; ++version)
                if (store.admit(product, String(QByteArray::number(version).constData()), true, &kept, &reason) !=
                    UpdateVersionStore::Outcome::Admitted)
                    ++unusable;
        }));
        threads.back()->start();
    }
    start.set_value();
    for (const auto &thread : threads)
        QVERIFY(thread->wait(60000));
    QCOMPARE(unusable.load(), 0);
    UpdateVersionStore store(path);
    for (int i = 0; i < kProducts; ++i)
        QCOMPARE(qbytes(store.highest(String(("P" + QByteArray::number(i)).constData()))), QByteArray("3"));
}

void tst_UpdateChecker::installedVersion_data()
{
    QTest::addColumn<QString>("application");                // the application's version
    QTest::addColumn<QByteArray>("set");                     // a version set on the checker; empty: none
    QTest::addColumn<UpdateChecker::UpdateStatus>("status"); // after a description offering 1.10.0

    QTest::newRow("application-older") << "1.9.2" << QByteArray() << UpdateChecker::UpdateStatusAvailable;
    QTest::newRow("application-without-version-fails")
        << QString() << QByteArray() << UpdateChecker::UpdateStatusFailed;
    QTest::newRow("checker-version-wins") << "5.0" << QByteArray("1.0") << UpdateChecker::UpdateStatusAvailable;
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
    QCOMPARE(contentsOf(path), QByteArray("name=Orvik\nproduct=Orvik\nversion=2.4.1\n"));
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
