#include "host/widgets/sha256.h"
#include "host/widgets/updatedescription.h"
#include "loopback/httptestserver.h"
#include "tests/orvikprocess.h"
#include "tests/update/updatetest.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <openssl/crypto.h>
#endif

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
#ifndef Q_OS_WIN
    void readmeExample(); // a shell session with the openssl command
#else
    void plantedOpensslConfig(); // in the folder that libcrypto was built for, on the C: drive
#endif

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
    QVERIFY(folder.isValid());
    // orvik's verified versions are the test's: one product was verified at 3.0 before.
    setStateHome(folder.filePath(QStringLiteral("state")));
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("state/orvik")));
    QVERIFY(!write(QStringLiteral("state/orvik/verified-versions.json"), R"({"Replayed": "3.0"})").isEmpty());
    const auto serve = [this](const QByteArray &name, const QByteArray &body) {
        HttpTestServer::Route route;
        route.body = body;
        server.setRoute("/Update/Windows/" + name + ".txt", route);
    };
    serve("OrvikStudio", "name=ORVIK Studio\r\nversion=1.10.0\r\n");
    serve("orvik", "# the host itself\nname=orvik\nversion=0.9.5\n");
    serve("Escapes", "name=ORVIK\x1b[31mStu\x07"
                     "dio\nversion=2.0\npage=https://u.example/\xe2\x80\xae/\n");
    HttpTestServer::Route huge;
    huge.generatedSize = 8 << 20;
    server.setRoute("/Update/Windows/Huge.txt", huge);

    // Updates whose package is on the server: signed, signed over a package that the server then
    // changes, unsigned, and signed below a version verified before.
    const QByteArray package = HttpTestServer::patternBytes(0, 70000);
    QByteArray changed = package;
    changed[3] = 'X';
    Sha256 hash;
    hash.addData(package);
    const QByteArray entries =
        "size=70000\nsha256=" + hash.result().toHex() +
        "\nexpires=" + UpdateDescription::TimeText(QDateTime::currentDateTimeUtc().addDays(1)).toLatin1() + "\n";
    const auto offer = [&](const QByteArray &name, const QByteArray &served, bool sign) {
        const QByteArray description = "name=" + name + "\nproduct=" + name +
                                       "\nversion=2.0\nurl=" + server.url().toEncoded() + "dl/" + name + ".run\n" +
                                       entries;
        serve(name, sign ? TestKeys::signedBy(TestKeys::kPublisher, description) : description);
        HttpTestServer::Route route;
        route.body = served;
        server.setRoute("/dl/" + name + ".run", route);
    };
    offer("Signed", package, true);
    offer("Tampered", changed, true);
    offer("Unsigned", package, false);
    offer("Replayed", package, true);
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
    QTest::addColumn<QByteArray>("err");  // the lines on standard error; the last may be only its start
    QTest::addColumn<QByteArray>("name"); // of the description the server was asked for; empty: none
    QTest::addColumn<int>("requests");    // that reach the server

    const auto row = [](const char *tag, const QStringList &arguments, int exitCode, const QByteArray &out,
                        const QByteArray &err, const QByteArray &name, int requests) {
        QTest::newRow(tag) << arguments << exitCode << out << err << name << requests;
    };
    const QString base = QStringLiteral("--base=BASE");
    const QByteArray unverified =
        "orvik: warning: unverified answer: without --public-key the description's signature is not checked\n";
    const QByteArray failed = "orvik: update check of BASEUpdate/Windows/";
    row("update-available-unverified", {base, "--name=OrvikStudio", "--current=1.9.2"}, 0,
        "update available: ORVIK Studio 1.10.0 (installed 1.9.2)\npage: BASEOrvikStudio/\n", unverified, "OrvikStudio",
        1);
    row("defaults-are-orvik-and-its-version", {base}, 0, "up to date: orvik 1.0.0 (latest 0.9.5)\n", unverified,
        "orvik", 1);
    row("description-not-found", {base, "--name=Missing"}, 1, {}, failed + "Missing.txt failed: ", "Missing", 1);
    row("description-over-64-kib", {base, "--name=Huge"}, 1, {},
        failed + "Huge.txt failed: the body is larger than 65536 bytes\n", "Huge", 1);
    row("control-characters-replaced", {base, "--name=Escapes"}, 0,
        "update available: ORVIK?[31mStu?dio 2.0 (installed 1.0.0)\npage: https://u.example/?/\n", unverified,
        "Escapes", 1);
    row("base-without-slash", {"--base=http://127.0.0.1:1"}, 2, {}, "orvik: --base must end in \"/\"\n", {}, 0);
    row("current-not-a-version", {base, "--current=1.2-beta"}, 2, {},
        "orvik: --current must be a version number such as 1.2.0\n", {}, 0);
    const QStringList download{base, "--current=1.0", "--download=DIR/downloads"};
    const QString pinned = "--public-key=" + TestKeys::publisherKey().toBase64();
    const QByteArray offered =
        "update available: NAME 2.0 (installed 1.0)\npage: BASENAME/  download: BASEdl/NAME.run\n";
    row("signed-update-downloaded-pem-key", download + QStringList{"--name=Signed", "--public-key=DIR/publisher.pub"},
        0, offered + "downloaded: DIR/downloads/orvik-updates/NAME.run\n", {}, "Signed", 2);
    row("signed-by-another-key",
        download +
            QStringList{"--name=Signed", "--public-key=" + UpdateSignature::PublicKeyOf(TestKeys::kOther).toBase64()},
        1, {}, failed + "Signed.txt failed: Unverified update description: the signature does not match", "Signed", 1);
    row("changed-package-refused", download + QStringList{"--name=Tampered", pinned}, 1, offered,
        "orvik: The update download failed: the package's SHA-256 ", "Tampered", 2);
    // No key, no download: the package is never asked for.
    row("unverified-download-refused", download + QStringList{"--name=Unsigned"}, 1, offered,
        unverified + "orvik: No public key is pinned, so the update cannot be verified: it is not downloaded\n",
        "Unsigned", 1);
    // Whatever --current says (here the default), less than a verified version is refused.
    row("replayed-below-verified-version", {base, "--name=Replayed", pinned}, 1, {},
        failed + "Replayed.txt failed: Rolled-back update description: it offers 2.0, older than 3.0, which was "
                 "verified before for \"Replayed\"\n",
        "Replayed", 1);
    row("small-order-key-refused", {base, "--public-key=" + ("\x01" + QByteArray(31, '\0')).toBase64()}, 2, {},
        "orvik: --public-key: the key is a small-order point", {}, 0);
    row("install-without-download", {base, "--install"}, 2, {}, "orvik: --install needs --download DIR\n", {}, 0);
    row("key-neither-pem-nor-raw", {base, "--public-key=c2hvcnQ="}, 2, {},
        "orvik: --public-key: a key is a PEM public key or the base64 of 32 bytes\n", {}, 0);
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
    // Lines in which a reason may follow a start that does not end the last line.
    const QByteArray &printed = result.err;
    const bool errAsExpected = err.isEmpty()
                                   ? printed.isEmpty()
                                   : printed.startsWith(err) && (err.endsWith('\n') || printed.size() > err.size() + 1);
    QVERIFY2(errAsExpected, printed.constData());
    QCOMPARE(printed.count('\n'), err.count('\n') + (err.isEmpty() || err.endsWith('\n') ? 0 : 1));
    QCOMPARE(server.requestCount(), requests);
    if (!name.isEmpty())
        QCOMPARE(server.request(0).target, "/Update/Windows/" + name + ".txt");
}

#ifdef Q_OS_WIN
// libcrypto's configuration folder is the Unix path it was built with, which Windows takes as a
// folder of the current drive, and any user may create C:\var. A configuration there that leaves
// only the null provider (no algorithm at all, Ed25519 included) must not reach the verification.
// Wine 8 does not look there (an autoloading libcrypto, run from C:\work, ignored the planted
// file), but it reads the file that OPENSSL_CONF names, so the variable names it as well: a
// libcrypto that loads no configuration by itself reads neither.
void tst_OrvikUpdateCheck::plantedOpensslConfig()
{
    // OPENSSLDIR: "/var/cache/..."
    const QString builtIn = QString::fromLatin1(OpenSSL_version(OPENSSL_DIR)).section(QLatin1Char('"'), 1, 1);
    QVERIFY2(builtIn.startsWith(QLatin1Char('/')), qPrintable(builtIn));
    QTemporaryDir working; // on C:, the drive of the user's folders
    QVERIFY(working.isValid() && working.path().startsWith(QLatin1String("C:"), Qt::CaseInsensitive));
    const QString folder = QStringLiteral("C:") + builtIn;
    QVERIFY2(QDir().mkpath(folder), qPrintable(folder));
    QFile config(folder + QStringLiteral("/openssl.cnf"));
    // Every folder made here goes again, as far as it is empty.
    const auto removeConfig = qScopeGuard([&] {
        config.remove();
        QDir(QStringLiteral("C:/")).rmpath(builtIn.mid(1));
    });
    QVERIFY(config.open(QIODevice::WriteOnly));
    QVERIFY(config.write("openssl_conf = planted\n[planted]\nproviders = planted_providers\n"
                         "[planted_providers]\nnull = planted_null\n[planted_null]\nactivate = 1\n") > 0);
    config.close();

    OrvikSetup setup;
    setup.workingDirectory = working.path();
    setup.environment.insert(QStringLiteral("OPENSSL_CONF"), QDir::toNativeSeparators(config.fileName()));
    const QByteArray base = server.url().toEncoded();
    const OrvikRun result =
        runOrvik({QStringLiteral("update-check"), QStringLiteral("--base=") + QString::fromUtf8(base),
                  QStringLiteral("--name=Signed"), QStringLiteral("--current=1.0"),
                  "--public-key=" + TestKeys::publisherKey().toBase64()},
                 60000, setup);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(result.out, "update available: Signed 2.0 (installed 1.0)\npage: " + base + "Signed/  download: " + base +
                             "dl/Signed.run\n");
}
#endif

void tst_OrvikUpdateCheck::sign_data()
{
    QTest::addColumn<QStringList>("arguments"); // after "update-sign"; "DIR" stands for the test's folder
    QTest::addColumn<QByteArray>("original");   // the description before; empty: a CRLF one with a stale signature
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("printed");     // standard output on success, a part of standard error otherwise
    QTest::addColumn<QByteArray>("signedStart"); // what the signed text starts with; "DATE" stands for expires

    const auto row = [](const char *tag, const QStringList &arguments, const QByteArray &original, int exitCode,
                        const QByteArray &printed, const QByteArray &signedStart = {}) {
        QTest::newRow(tag) << arguments << original << exitCode << printed << signedStart;
    };
    const QString key = QStringLiteral("--key=DIR/publisher.pem");
    const QByteArray head = "\xEF\xBB\xBF# offer\r\nname=Orvik\r\n";
    const QByteArray signedOffer = "signed: DIR/offer.txt\n";
    row("package-entries-set", {key, "--expires-days=5", "DIR/offer.txt", "DIR/package.run"}, {}, 0, signedOffer,
        head + "size=17\r\nversion=2.0\r\nproduct=offer\r\nexpires=DATE\r\nsha256=");
    row("description-only", {key, "DIR/offer.txt"}, {}, 0, signedOffer,
        head + "size=1\r\nversion=2.0\r\nproduct=offer\r\nexpires=DATE\r\nsignature=");
    const QByteArray studio = "name=O\nproduct=Studio\nexpires=2099-01-01T00:00:00Z\nversion=2\n";
    row("product-and-expires-kept", {key, "DIR/offer.txt"}, studio, 0, signedOffer, studio + "signature=");
    row("public-key-printed", {key, "--public-key"}, {}, 0, TestKeys::publisherKey().toBase64() + "\n");
    row("missing-key", {"DIR/offer.txt"}, {}, 2, "usage");
    row("not-a-private-key", {"--key=DIR/publisher.pub", "DIR/offer.txt"}, {}, 1, "not an Ed25519 private key");
    // Malformed descriptions are not signed: what the reader refuses, and a download it could not check.
    row("key-given-twice", {key, "DIR/offer.txt", "DIR/package.run"}, "name=O\nsize=1\nversion=2\nSize=2\n", 2,
        "DIR/offer.txt: line 4: the key \"size\" appears twice");
    row("required-line-missing", {key, "DIR/offer.txt"}, "name=O\n", 2,
        "DIR/offer.txt: Malformed update description: it gives no version (version=)");
    row("url-without-package", {key, "DIR/offer.txt"}, "name=O\nversion=2\nurl=https://u.example/o.exe\n", 2,
        "it gives url= but not size= and sha256=");
}

void tst_OrvikUpdateCheck::sign()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, original);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, printed);
    QFETCH(QByteArray, signedStart);

    // By default an old signature and stale entries in a CRLF description with a byte-order mark and a comment.
    if (original.isEmpty())
        original = "\xEF\xBB\xBF# offer\r\nname=Orvik\r\nsize=1\r\nversion=2.0\r\nsignature=b2xk\r\n";
    const QByteArray package = "#!/bin/sh\nexit 0\n";
    QVERIFY(!write(QStringLiteral("offer.txt"), original).isEmpty());
    QVERIFY(!write(QStringLiteral("package.run"), package).isEmpty());
    arguments.replaceInStrings(QStringLiteral("DIR"), folder.path());
    printed.replace("DIR", folder.path().toUtf8());

    const OrvikRun result = runOrvik(QStringList{QStringLiteral("update-sign")} + arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? result.out == printed : result.err.contains(printed)), result.err.constData());
    QCOMPARE(result.err.count('\n'), exitCode == 0 ? 0 : 1);

    QFile file(folder.filePath(QStringLiteral("offer.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    if (signedStart.isEmpty()) {
        QCOMPARE(text, original);
        return;
    }
    // Signed, fresh for the days asked, and what a host of that product accepts.
    const int days = arguments.contains(QStringLiteral("--expires-days=5")) ? 5 : 30;
    const QByteArray date = UpdateDescription::TimeText(QDateTime::currentDateTimeUtc().addDays(days)).toLatin1();
    const qsizetype at = signedStart.indexOf("DATE");
    if (at >= 0)
        signedStart.replace("DATE", text.mid(at, date.size()));
    QVERIFY2(text.startsWith(signedStart), text.constData());
    QVERIFY(at < 0 || qAbs(UpdateDescription::ParseTime(QString::fromLatin1(text.mid(at, date.size())))
                               .secsTo(UpdateDescription::ParseTime(QString::fromLatin1(date)))) < 60);
    UpdateDescription description;
    QString why;
    QVERIFY2(UpdateDescription::Read(text, TestKeys::publisherKey(), text.contains("Studio") ? "Studio" : "offer",
                                     &description, &why),
             qPrintable(why));
    QCOMPARE(text.count("signature="), 1);
    if (arguments.size() == 4)
        QCOMPARE(description.size(), qint64(package.size()));
}

#ifndef Q_OS_WIN
// The README's update session, run as written: its commands through bash, every line it shows compared.
void tst_OrvikUpdateCheck::readmeExample()
{
    QFile readme(QStringLiteral(ORVIK_README));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QByteArray markdown = readme.readAll();
    const qsizetype start = markdown.indexOf("```\n", markdown.indexOf("<!-- update example:")) + 4;
    QVERIFY(start >= 4);
    const QList<QByteArray> lines = markdown.mid(start, markdown.indexOf("\n```\n", start) - start).split('\n');

    QTemporaryDir work;
    QVERIFY(work.isValid() && QDir(work.path()).mkdir(QStringLiteral("home")));
    const QByteArray home = work.filePath(QStringLiteral("home")).toUtf8();
    const QByteArray address = server.url().authority().toUtf8();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), QString::fromUtf8(home));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("PATH"),
                       QFileInfo(orvikBinPath()).absolutePath() + ':' + qEnvironmentVariable("PATH"));
    bool serving = false;
    for (qsizetype i = 0; i < lines.size();) {
        QVERIFY2(lines.at(i).startsWith("$ "), lines.at(i).constData());
        QByteArray command = lines.at(i++).mid(2);
        while (command.endsWith('\\'))
            command += '\n' + lines.at(i++);
        for (bool document = command.contains("<<'EOF'"); document; document = lines.at(i++) != "EOF")
            command += '\n' + lines.at(i);
        QByteArray expected;
        while (i < lines.size() && !lines.at(i).startsWith("$ "))
            expected += lines.at(i++) + '\n';
        command.replace("127.0.0.1:8765", address);
        expected.replace("127.0.0.1:8765", address).replace("/home/me", home);
        // Python's server in the session; this test's own serves the same folder.
        serving = serving || command.contains("http.server");
        if (command.contains("http.server"))
            continue;
        QDirIterator files(work.filePath(QStringLiteral("www")), QDir::Files, QDirIterator::Subdirectories);
        while (serving && files.hasNext()) {
            QFile served(files.next());
            HttpTestServer::Route route;
            QVERIFY(served.open(QIODevice::ReadOnly));
            route.body = served.readAll();
            server.setRoute(
                '/' + QDir(work.filePath(QStringLiteral("www"))).relativeFilePath(served.fileName()).toUtf8(), route);
        }
        QProcess shell;
        shell.setProcessEnvironment(environment);
        shell.setWorkingDirectory(work.path());
        shell.setProcessChannelMode(QProcess::MergedChannels);
        QSignalSpy finished(&shell, &QProcess::finished);
        shell.start(QStringLiteral("bash"), {QStringLiteral("-c"), QString::fromUtf8(command)});
        QVERIFY2(finished.wait(60000), command.constData());
        QCOMPARE(shell.readAll(), expected);
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home + "/studio-installed"), 20000);
}

#endif

QTEST_GUILESS_MAIN(tst_OrvikUpdateCheck)
#include "tst_orvikupdatecheck.moc"
