#include "host/widgets/sha256.h"
#include "loopback/httptestserver.h"
#include "tests/orvikprocess.h"
#include "tests/update/testkeys.h"

#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

// `orvik update-check` as a user runs it, against a loopback update server.
class tst_OrvikUpdateCheck : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void outcome_data();
    void outcome();
    void sign_data();
    void sign();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(folder.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
    }

    HttpTestServer server; // answers from this process's event loop while orvik runs
    QTemporaryDir folder;
};

void tst_OrvikUpdateCheck::initTestCase()
{
    QVERIFY2(server.listen(), qPrintable(server.errorString()));
    const auto serve = [this](const QByteArray &name, const QByteArray &body) {
        HttpTestServer::Route route;
        route.body = body;
        server.setRoute("/Update/Windows/" + name + ".txt", route);
    };
    serve("OrvikStudio", "name=ORVIK Studio\r\nversion=1.10.0\r\n");
    serve("orvik", "# the host itself\nname=orvik\nversion=0.9.5\n");

    // Updates whose package is on the server: signed, signed over a package that the server then
    // changes, and unsigned without package entries.
    QVERIFY(folder.isValid());
    const QByteArray package = HttpTestServer::patternBytes(0, 70000);
    QByteArray changed = package;
    changed[3] = 'X';
    Sha256 hash;
    hash.addData(package);
    const QByteArray entries = "size=70000\nsha256=" + hash.result().toHex() + "\n";
    const auto offer = [&](const QByteArray &name, const QByteArray &served, const QByteArray &extra, bool sign) {
        const QByteArray description =
            "name=" + name + "\nversion=2.0\nurl=" + server.url().toEncoded() + "dl/" + name + ".run\n" + extra;
        serve(name, sign ? TestKeys::signedBy(TestKeys::kPublisher, description) : description);
        HttpTestServer::Route route;
        route.body = served;
        server.setRoute("/dl/" + name + ".run", route);
    };
    offer("Signed", package, entries, true);
    offer("Tampered", changed, entries, true);
    offer("Unsigned", package, QByteArray(), false);
    // The form `openssl pkey -pubout` writes: the raw key behind a fixed Ed25519 key header.
    const QByteArray der = QByteArray::fromHex("302a300506032b6570032100") + TestKeys::publisherKey();
    QVERIFY(!write(QStringLiteral("publisher.pub"),
                   "-----BEGIN PUBLIC KEY-----\n" + der.toBase64() + "\n-----END PUBLIC KEY-----\n")
                 .isEmpty());
    QVERIFY(!write(QStringLiteral("publisher.pem"), TestKeys::kPublisher).isEmpty());
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("downloads")));
}

void tst_OrvikUpdateCheck::outcome_data()
{
    QTest::addColumn<QStringList>("arguments"); // "BASE" stands for the server's base address
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");  // "BASE" as above, "DIR" the test's folder, "NAME" the name
    QTest::addColumn<QByteArray>("err");  // the start of the one line on standard error
    QTest::addColumn<QByteArray>("name"); // of the description the server was asked for; empty: none
    QTest::addColumn<int>("requests");    // that reach the server

    const QString base = QStringLiteral("--base=BASE");
    QTest::newRow("update-available") << QStringList{base, "--name=OrvikStudio", "--current=1.9.2"} << 0
                                      << QByteArray("update available: ORVIK Studio 1.10.0 (installed 1.9.2)\n"
                                                    "page: BASEOrvikStudio/\n")
                                      << QByteArray() << QByteArray("OrvikStudio") << 1;
    QTest::newRow("defaults-are-orvik-and-its-version")
        << QStringList{base} << 0 << QByteArray("up to date: orvik 1.0.0 (latest 0.9.5)\n") << QByteArray()
        << QByteArray("orvik") << 1;
    QTest::newRow("description-not-found")
        << QStringList{base, "--name=Missing"} << 1 << QByteArray()
        << QByteArray("orvik: update check of BASEUpdate/Windows/Missing.txt failed: ") << QByteArray("Missing") << 1;
    QTest::newRow("base-without-slash") << QStringList{"--base=http://127.0.0.1:1"} << 2 << QByteArray()
                                        << QByteArray("orvik: --base must end in \"/\"\n") << QByteArray() << 0;
    QTest::newRow("current-not-a-version")
        << QStringList{base, "--current=1.2-beta"} << 2 << QByteArray()
        << QByteArray("orvik: --current must be a version number such as 1.2.0\n") << QByteArray() << 0;
    QTest::newRow("empty-name") << QStringList{base, "--name="} << 2 << QByteArray()
                                << QByteArray("orvik: --name must not be empty\n") << QByteArray() << 0;
    const QStringList download{base, "--current=1.0", "--download=DIR/downloads"};
    const QByteArray offered =
        "update available: NAME 2.0 (installed 1.0)\npage: BASENAME/  download: BASEdl/NAME.run\n";
    QTest::newRow("signed-update-downloaded-pem-key")
        << download + QStringList{"--name=Signed", "--public-key=DIR/publisher.pub"} << 0
        << offered + "downloaded: DIR/downloads/NAME.run\n"
        << QByteArray() << QByteArray("Signed") << 2;
    QTest::newRow("signed-by-another-key")
        << download +
               QStringList{"--name=Signed", "--public-key=" + UpdateSignature::PublicKeyOf(TestKeys::kOther).toBase64()}
        << 1 << QByteArray()
        << QByteArray("orvik: update check of BASEUpdate/Windows/Signed.txt failed: Unverified update description: "
                      "the signature does not match")
        << QByteArray("Signed") << 1;
    QTest::newRow("changed-package-refused")
        << download + QStringList{"--name=Tampered", "--public-key=" + TestKeys::publisherKey().toBase64()} << 1
        << offered << QByteArray("orvik: The update download failed: the package's SHA-256 ") << QByteArray("Tampered")
        << 2;
    QTest::newRow("unverified-download-warns")
        << download + QStringList{"--name=Unsigned"} << 0 << offered + "downloaded: DIR/downloads/NAME.run\n"
        << QByteArray("orvik: warning: no --public-key: the update is not verified\n") << QByteArray("Unsigned") << 2;
    QTest::newRow("install-without-download")
        << QStringList{base, "--install"} << 2 << QByteArray() << QByteArray("orvik: --install needs --download DIR\n")
        << QByteArray() << 0;
    QTest::newRow("key-neither-pem-nor-raw")
        << QStringList{base, "--public-key=c2hvcnQ="} << 2 << QByteArray()
        << QByteArray("orvik: --public-key: a key is a PEM public key or the base64 of 32 bytes\n") << QByteArray()
        << 0;
}

void tst_OrvikUpdateCheck::outcome()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(QByteArray, name);
    QFETCH(int, requests);

    const QByteArray baseURL = server.url().toEncoded();
    arguments.replaceInStrings(QStringLiteral("BASE"), QString::fromUtf8(baseURL));
    arguments.replaceInStrings(QStringLiteral("DIR"), folder.path());
    out.replace("BASE", baseURL).replace("DIR", folder.path().toUtf8()).replace("NAME", name);
    err.replace("BASE", baseURL);
    server.clearRecords();

    const OrvikRun result = runOrvik(QStringList{QStringLiteral("update-check")} + arguments);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    // Nothing, or one line in which a reason follows a start that does not end the line.
    const QByteArray &printed = result.err;
    const bool errAsExpected = err.isEmpty()
                                   ? printed.isEmpty()
                                   : printed.startsWith(err) && (err.endsWith('\n') || printed.size() > err.size() + 1);
    QVERIFY2(errAsExpected, printed.constData());
    QCOMPARE(printed.count('\n'), err.isEmpty() ? 0 : 1);
    QCOMPARE(server.requestCount(), requests);
    if (!name.isEmpty())
        QCOMPARE(server.request(0).target, "/Update/Windows/" + name + ".txt");
}

void tst_OrvikUpdateCheck::sign_data()
{
    QTest::addColumn<QStringList>("arguments"); // after "update-sign"; "DIR" stands for the test's folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");

    const QString key = QStringLiteral("--key=DIR/publisher.pem");
    QTest::newRow("package-entries-set") << QStringList{key, "DIR/offer.txt", "DIR/package.run"} << 0
                                         << QByteArray("signed: DIR/offer.txt\n");
    QTest::newRow("description-only") << QStringList{key, "DIR/offer.txt"} << 0
                                      << QByteArray("signed: DIR/offer.txt\n");
    QTest::newRow("public-key-printed") << QStringList{key, "--public-key"} << 0
                                        << TestKeys::publisherKey().toBase64() + "\n";
    QTest::newRow("missing-key") << QStringList{"DIR/offer.txt"} << 2 << QByteArray();
    QTest::newRow("not-a-private-key") << QStringList{"--key=DIR/publisher.pub", "DIR/offer.txt"} << 1 << QByteArray();
}

void tst_OrvikUpdateCheck::sign()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);

    // An old signature and stale entries in a CRLF description with a byte-order mark and a comment.
    const QByteArray original = "\xEF\xBB\xBF# offer\r\nname=Orvik\r\nsize=1\r\nversion=2.0\r\nsignature=b2xk\r\n";
    const QByteArray package = "#!/bin/sh\nexit 0\n";
    QVERIFY(!write(QStringLiteral("offer.txt"), original).isEmpty());
    QVERIFY(!write(QStringLiteral("package.run"), package).isEmpty());
    arguments.replaceInStrings(QStringLiteral("DIR"), folder.path());
    out.replace("DIR", folder.path().toUtf8());

    const OrvikRun result = runOrvik(QStringList{QStringLiteral("update-sign")} + arguments);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    QCOMPARE(result.err.count('\n'), exitCode == 0 ? 0 : 1);

    QFile file(folder.filePath(QStringLiteral("offer.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    if (!out.startsWith("signed: ")) {
        QCOMPARE(text, original);
        return;
    }
    QCOMPARE(UpdateSignature::CheckDescription(TestKeys::publisherKey(), text), QString());
    Sha256 hash;
    hash.addData(package);
    const QByteArray entries = arguments.size() == 3 ? "size=17\r\nversion=2.0\r\nsha256=" + hash.result().toHex()
                                                     : QByteArray("size=1\r\nversion=2.0");
    QVERIFY2(text.startsWith("\xEF\xBB\xBF# offer\r\nname=Orvik\r\n" + entries + "\r\nsignature="), text.constData());
    QCOMPARE(text.count("signature="), 1);
}

QTEST_GUILESS_MAIN(tst_OrvikUpdateCheck)
#include "tst_orvikupdatecheck.moc"
