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
#else
#include <sys/stat.h>
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
    void resumeAcrossRuns();
#ifndef Q_OS_WIN
    void updateFormatExample(); // a shell session with the openssl command
#else
    void plantedOpensslConfig(); // in the folder that libcrypto was built for, on the C: drive
#endif

private:
    bool write(const QString &name, const QByteArray &bytes)
    {
        return writeFile(folder.filePath(name), bytes);
    }
    void serve(const QByteArray &path, const QByteArray &body)
    {
        HttpTestServer::Route route;
        route.body = body;
        server.setRoute(path, route);
    }

    HttpTestServer server; // answers from this process's event loop while orvik runs
    QTemporaryDir folder;
};

void tst_OrvikUpdateCheck::initTestCase()
{
    QVERIFY2(server.listen(), qPrintable(server.errorString()));
    QVERIFY(folder.isValid());
    // orvik's verified versions are the test's.
    setStateHome(folder.filePath(QStringLiteral("state")));
    const QByteArray descriptions = "/Update/Windows/";
    serve(descriptions + "OrvikStudio.txt", "name=ORVIK Studio\r\nversion=1.10.0\r\n");
    serve(descriptions + "orvik.txt", "# the host itself\nname=orvik\nversion=0.9.5\n");
    // What a server may put in a name: control characters, format characters (zero-width space,
    // byte-order mark, a tag character) and length.
    serve(descriptions + "Escapes.txt", "name=ORVIK\x1b[31mStu\x07"
                                        "dio\xe2\x80\x8b\xef\xbb\xbf\xf3\xa0\x81\x81" +
                                            QByteArray(300, 'N') +
                                            "\nversion=2.0\npage=https://u.example/\xe2\x80\xae/\n");
    HttpTestServer::Route huge;
    huge.generatedSize = 8 << 20;
    server.setRoute(descriptions + "Huge.txt", huge);

    // An update whose package is on the server, signed.
    const QByteArray package = HttpTestServer::patternBytes(0, 70000);
    serve(descriptions + "Signed.txt",
          TestKeys::signedBy(TestKeys::kPublisher, offerOf("Signed", "url=" + server.url().toEncoded() +
                                                                         "dl/Signed.run\n" + packageLines(package))));
    serve("/dl/Signed.run", package);
    QVERIFY(write(QStringLiteral("publisher.pub"), TestKeys::publicKeyPem(TestKeys::kPublisher)));
    QVERIFY(write(QStringLiteral("publisher.pem"), TestKeys::kPublisher));
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("downloads")));
    // A file named like the publisher's key, holding another: what an attacker plants in a shared
    // working folder. orvik runs in that folder.
    QVERIFY(write(QString::fromLatin1(TestKeys::publisherKey().toBase64()), TestKeys::publicKeyPem(TestKeys::kOther)));
    QVERIFY(QDir::setCurrent(folder.path()));
#ifndef Q_OS_WIN
    QCOMPARE(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("key.fifo"))).constData(), 0600), 0);
#endif
}

void tst_OrvikUpdateCheck::outcome_data()
{
    QTest::addColumn<QStringList>("arguments"); // "BASE" stands for the server's base address
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");  // "BASE" as above, "DIR" the test's folder, "NAME" the name
    QTest::addColumn<QByteArray>("err");  // the lines on standard error, "FOLDER" the test's folder; the last
                                          // line may be only its start
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
    row("update-available-unverified", {base, "--name=OrvikStudio", "--current=1.9.2"}, 100,
        "update available: ORVIK Studio 1.10.0 (installed 1.9.2)\npage: BASEOrvikStudio/\n", unverified, "OrvikStudio",
        1);
    row("defaults-are-orvik-and-its-version", {base}, 0, "up to date: orvik 1.0.0 (latest 0.9.5)\n", unverified,
        "orvik", 1);
    // A failed request is told as get tells it (tst_transfercommands has get's texts).
    row("description-not-found", {base, "--name=Missing"}, 1, {},
        "orvik: GET BASEUpdate/Windows/Missing.txt: the server answered HTTP 404 (Content Not Found)\n", "Missing", 1);
    row("description-over-64-kib", {base, "--name=Huge"}, 1, {},
        "orvik: GET BASEUpdate/Windows/Huge.txt: the body is larger than 65536 bytes\n", "Huge", 1);
    row("not-a-web-address", {"--base=ftp://127.0.0.1:1/"}, 1, {},
        "orvik: GET ftp://127.0.0.1:1/Update/Windows/orvik.txt: orvik fetches only http:// and https:// addresses "
        "(Protocol Unknown)\n",
        {}, 0);
    // Control and invisible format characters are replaced, each by one '?'; a value is cut at 200.
    row("control-characters-replaced-long-value-cut", {base, "--name=Escapes"}, 100,
        "update available: ORVIK?[31mStu?dio???" + QByteArray(180, 'N') +
            "... 2.0 (installed 1.0.0)\npage: https://u.example/?/\n",
        unverified, "Escapes", 1);
    row("base-without-slash", {"--base=http://127.0.0.1:1"}, 2, {}, "orvik: --base must end in \"/\"\n", {}, 0);
    row("current-not-a-version", {base, "--current=1.2-beta"}, 2, {},
        "orvik: --current must be a version number such as 1.2.0\n", {}, 0);
    const QStringList download{base, "--current=1.0", "--download=DIR/downloads"};
    const QString pinned = "--public-key=" + TestKeys::publisherKey().toBase64();
    const QByteArray offered =
        "update available: NAME 2.0 (installed 1.0)\npage: BASENAME/  download: BASEdl/NAME.run\n";
    row("signed-update-downloaded-pem-key-file",
        download + QStringList{"--name=Signed", "--public-key-file=DIR/publisher.pub"}, 100,
        offered + "downloaded: DIR/downloads/orvik-updates/NAME.run\n", {}, "Signed", 2);
    row("signed-by-another-key",
        download +
            QStringList{"--name=Signed", "--public-key=" + UpdateSignature::PublicKeyOf(TestKeys::kOther).toBase64()},
        1, {}, failed + "Signed.txt failed: Unverified update description: the signature does not match", "Signed", 1);
    row("install-without-download", {base, "--install"}, 2, {}, "orvik: --install needs --download DIR\n", {}, 0);
    // A path from the command line is printed as every text from outside is.
    row("control-characters-of-a-path-replaced", {base, "--download=DIR/no\x1b[2Jdir"}, 2, {},
        "orvik: --download: FOLDER/no?[2Jdir is not a folder\n", {}, 0);
    row("key-not-32-bytes", {base, "--public-key=c2hvcnQ="}, 2, {},
        "orvik: --public-key: a key is the base64 of 32 bytes (a key file is given with --public-key-file)\n", {}, 0);
    // Fault: the typed key first opened as a file (a file of that name in the working folder holds
    // another key, and its signatures would be trusted).
    row("typed-key-not-read-from-planted-file", {base, "--name=Signed", pinned}, 100,
        "update available: Signed 2.0 (installed 1.0.0)\npage: BASESigned/  download: BASEdl/Signed.run\n", {},
        "Signed", 1);
    // Fault: the last of two options silently wins.
    row("key-given-twice", {base, pinned, "--public-key=" + UpdateSignature::PublicKeyOf(TestKeys::kOther).toBase64()},
        2, {}, "orvik: --public-key is given more than once\n", {}, 0);
    row("key-and-key-file", {base, pinned, "--public-key-file=DIR/publisher.pub"}, 2, {},
        "orvik: --public-key and --public-key-file cannot both be given\n", {}, 0);
#ifndef Q_OS_WIN
    // Nothing local blocks. Fault: the key file opened so that a FIFO holds the check up.
    row("key-file-is-a-fifo", {base, "--public-key-file=DIR/key.fifo"}, 2, {},
        "orvik: --public-key-file: FOLDER/key.fifo: it is not a regular file", {}, 0);
#endif
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
    err.replace("BASE", baseURL).replace("FOLDER", folder.path().toUtf8());
    server.clearRecords();

    const OrvikRun result = runOrvik(QStringList{QStringLiteral("update-check")} + arguments, 60000);
    QCOMPARE(result.exitCode, exitCode);
    QCOMPARE(result.out, out);
    // Lines in which a reason may follow a start that does not end the last line.
    const QByteArray &printed = result.err;
    const bool errAsExpected = err.isEmpty()
                                   ? printed.isEmpty()
                                   : printed.startsWith(err) && (err.endsWith('\n') || printed.size() > err.size() + 1);
    QVERIFY2(errAsExpected, printed.constData());
    QVERIFY2(printed.count('\n') == err.count('\n') + (err.isEmpty() || err.endsWith('\n') ? 0 : 1),
             printed.constData());
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
    const QString config = folder + QStringLiteral("/openssl.cnf");
    // Every folder made here goes again, as far as it is empty.
    const auto removeConfig = qScopeGuard([&] {
        QFile::remove(config);
        QDir(QStringLiteral("C:/")).rmpath(builtIn.mid(1));
    });
    QVERIFY(writeFile(config, "openssl_conf = planted\n[planted]\nproviders = planted_providers\n"
                              "[planted_providers]\nnull = planted_null\n[planted_null]\nactivate = 1\n"));

    OrvikSetup setup;
    setup.workingDirectory = working.path();
    setup.environment.insert(QStringLiteral("OPENSSL_CONF"), QDir::toNativeSeparators(config));
    const QByteArray base = server.url().toEncoded();
    const OrvikRun result =
        runOrvik({QStringLiteral("update-check"), QStringLiteral("--base=") + QString::fromUtf8(base),
                  QStringLiteral("--name=Signed"), QStringLiteral("--current=1.0"),
                  "--public-key=" + TestKeys::publisherKey().toBase64()},
                 60000, setup);
    QVERIFY2(result.exitCode == 100, result.err.constData()); // an update is available
    QCOMPARE(result.out, "update available: Signed 2.0 (installed 1.0)\npage: " + base + "Signed/  download: " + base +
                             "dl/Signed.run\n");
}
#endif

void tst_OrvikUpdateCheck::sign_data()
{
    QTest::addColumn<QStringList>("arguments"); // after "update-sign"; "DIR" stands for the test's folder
    QTest::addColumn<QString>("file");          // the description's name in DIR
    QTest::addColumn<QByteArray>("original");   // the description before; empty: a CRLF one with a stale signature
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("printed");     // standard output on success, a part of standard error otherwise
    QTest::addColumn<QByteArray>("signedStart"); // what the signed text starts with; "DATE" stands for expires
    QTest::addColumn<int>("fileSizeLimit");      // > 0: the disk takes this many bytes per file

    QString file;
    int limit = 0;
    const auto row = [&file, &limit](const char *tag, const QStringList &arguments, const QByteArray &original,
                                     int exitCode, const QByteArray &printed, const QByteArray &signedStart = {}) {
        QTest::newRow(tag) << arguments << (file.isEmpty() ? QStringLiteral("offer.txt") : file) << original << exitCode
                           << printed << signedStart << limit;
        file.clear();
        limit = 0;
    };
    const QString key = QStringLiteral("--key=DIR/publisher.pem");
    const QByteArray head = "\xEF\xBB\xBF# offer\r\nname=Orvik\r\n";
    const QByteArray signedOffer = "signed: DIR/offer.txt\n";
    row("package-entries-set", {key, "--expires-days=5", "DIR/offer.txt", "DIR/package.run"}, {}, 0, signedOffer,
        head + "size=17\r\nversion=2.0\r\nproduct=offer\r\nexpires=DATE\r\nsha256=");
    row("description-only", {key, "DIR/offer.txt"}, {}, 0, signedOffer,
        head + "size=1\r\nversion=2.0\r\nproduct=offer\r\nexpires=DATE\r\nsignature=");
    const QByteArray studio = "name=O\nproduct=Studio\nexpires=" + utcIn(100 * 86400) + "\nversion=2\n";
    row("product-and-expires-kept", {key, "--name=Other", "DIR/offer.txt"}, studio, 0, signedOffer,
        studio + "signature=");
    row("product-from-name-option", {key, "--name=Studio", "DIR/offer.txt"}, "name=O\nversion=2\n", 0, signedOffer,
        "name=O\nversion=2\nproduct=Studio\nexpires=DATE\nsignature=");
    // Fault: a description that starts with a byte-order mark not read as written (its first key
    // then looks like another, and a second expires= is added).
    row("byte-order-mark-before-a-key-set-anew", {key, "--expires-days=30", "DIR/offer.txt"},
        "\xEF\xBB\xBF"
        "expires=2020-01-01T00:00:00Z\nname=O\nversion=2\n",
        0, signedOffer,
        "\xEF\xBB\xBF"
        "expires=DATE\nname=O\nversion=2\nproduct=offer\nsignature=");
    // Only a name that ends in ".txt" names the product. Fault: "Studio.TXT" taken as the product.
    file = QStringLiteral("Studio.TXT");
    row("file-name-without-txt-refused", {key, "DIR/Studio.TXT"}, "name=O\nversion=2\n", 2,
        "DIR/Studio.TXT: it gives no product= and its name does not end in \".txt\": give the product with --name");
    // Fault: --expires-days at its bound refused.
    row("expires-days-366", {key, "--expires-days=366", "DIR/offer.txt"}, "name=O\nversion=2\n", 0, signedOffer,
        "name=O\nversion=2\nproduct=offer\nexpires=DATE\nsignature=");
    row("expires-days-367-refused", {key, "--expires-days=367", "DIR/offer.txt"}, {}, 2,
        "--expires-days must be a whole number from 1 to 366");
    // Fault: the size checked before the signature line is added (a description every checker refuses).
    const QByteArray filler = "name=O\nversion=2\n#";
    row("too-large-once-signed", {key, "DIR/offer.txt"}, filler + QByteArray(65536 - 60 - filler.size(), 'x') + "\n", 2,
        "more than the 65536 that a checker reads");
    row("public-key-printed", {key, "--public-key"}, {}, 0, TestKeys::publisherKey().toBase64() + "\n");
    row("missing-key", {"DIR/offer.txt"}, {}, 2, "orvik: update-sign needs --key FILE");
    row("not-a-private-key", {"--key=DIR/publisher.pub", "DIR/offer.txt"}, {}, 1, "not an Ed25519 private key");
    // A missing file is said as put says it.
    row("description-missing", {key, "DIR/absent.txt"}, {}, 1, "orvik: cannot read DIR/absent.txt: no such file\n");
    row("key-given-twice", {key, key, "DIR/offer.txt"}, {}, 2, "orvik: --key is given more than once");
#ifndef Q_OS_WIN
    // Fault: an input opened so that a FIFO holds the signing up.
    row("key-is-a-fifo", {"--key=DIR/key.fifo", "DIR/offer.txt"}, {}, 1, "it is not a regular file");
    row("package-is-a-fifo", {key, "DIR/offer.txt", "DIR/key.fifo"}, {}, 1, "it is not a regular file");
    // Fault: update-sign ignores whether its file was written.
    limit = 100;
    row("file-cannot-be-written", {key, "DIR/offer.txt"}, {}, 1, "cannot write DIR/offer.txt: File too large");
#endif
    // Malformed descriptions are not signed: what the reader refuses, and a download it could not check.
    row("key-repeated-in-description", {key, "DIR/offer.txt", "DIR/package.run"}, "name=O\nsize=1\nversion=2\nSize=2\n",
        2, "DIR/offer.txt: line 4: the key \"size\" appears twice");
    row("required-line-missing", {key, "DIR/offer.txt"}, "name=O\n", 2,
        "DIR/offer.txt: Malformed update description: it gives no version (version=)");
    row("url-without-package", {key, "DIR/offer.txt"}, "name=O\nversion=2\nurl=https://u.example/o.exe\n", 2,
        "it gives url= but not size= and sha256=");
    // mirror= repeats and is signed with the rest, in order. Fault: a second mirror refused as a
    // repeated key.
    row("mirrors-signed", {key, "DIR/offer.txt", "DIR/package.run"},
        "name=O\nversion=2\nurl=https://u.example/o.run\nmirror=https://m1.example/o.run\n"
        "MIRROR = https://m2.example/o.run\n",
        0, "signed: DIR/offer.txt\n",
        "name=O\nversion=2\nurl=https://u.example/o.run\nmirror=https://m1.example/o.run\n"
        "MIRROR = https://m2.example/o.run\n");
}

void tst_OrvikUpdateCheck::sign()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, file);
    QFETCH(QByteArray, original);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, printed);
    QFETCH(QByteArray, signedStart);
    QFETCH(int, fileSizeLimit);

    // By default an old signature and stale entries in a CRLF description with a byte-order mark and a comment.
    if (original.isEmpty())
        original = "\xEF\xBB\xBF# offer\r\nname=Orvik\r\nsize=1\r\nversion=2.0\r\nsignature=b2xk\r\n";
    const QByteArray package = "#!/bin/sh\nexit 0\n";
    QVERIFY(write(file, original));
    QVERIFY(write(QStringLiteral("package.run"), package));
    arguments.replaceInStrings(QStringLiteral("DIR"), folder.path());
    printed.replace("DIR", folder.path().toUtf8());

    OrvikSetup setup;
#ifndef Q_OS_WIN
    if (fileSizeLimit > 0)
        setup.modifier = [fileSizeLimit] { LimitFileSize(rlim_t(fileSizeLimit)); };
#else
    QCOMPARE(fileSizeLimit, 0);  // no such rows on Windows
#endif
    const OrvikRun result = runOrvik(QStringList{QStringLiteral("update-sign")} + arguments, 60000, setup);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? result.out == printed : result.err.contains(printed)), result.err.constData());
    QCOMPARE(result.err.count('\n'), exitCode == 0 ? 0 : 1);
    if (exitCode != 0)
        QVERIFY(result.out.isEmpty());

    const QByteArray text = contentsOf(folder.filePath(file));
    if (signedStart.isEmpty()) {
        QCOMPARE(text, original);
        return;
    }
    // Signed, fresh for the days asked, and what a host of that product accepts.
    int days = 30;
    for (const QString &argument : arguments)
        if (argument.startsWith(QLatin1String("--expires-days=")))
            days = argument.mid(15).toInt();
    const qsizetype at = signedStart.indexOf("DATE");
    if (at >= 0)
        signedStart.replace("DATE", text.mid(at, 20)); // as 2027-01-31T00:00:00Z
    QVERIFY2(text.startsWith(signedStart), text.constData());
    // Read as a host reads it: one signature, the last line, within the size a checker reads.
    UpdateDescription description;
    UpdateDescription::Refusal why;
    QVERIFY2(UpdateDescription::Read(text, TestKeys::publisherKey(), text.contains("Studio") ? "Studio" : "offer",
                                     &description, &why),
             qPrintable(why.text()));
    QVERIFY(at < 0 || qAbs(description.expires().secsTo(QDateTime::currentDateTimeUtc().addDays(days))) < 60);
    if (arguments.contains(folder.filePath(QStringLiteral("package.run"))))
        QCOMPARE(description.size(), qint64(package.size()));
    const QStringList mirrors{"https://m1.example/o.run", "https://m2.example/o.run"};
    QCOMPARE(description.mirrors(), original.contains("mirror=") ? mirrors : QStringList());
}

// A download on a throttled server ends at its deadline, and the next run of orvik continues it:
// the package comes from the description's mirror (its url= is missing), and the second run asks
// for the rest only.
void tst_OrvikUpdateCheck::resumeAcrossRuns()
{
    const qint64 size = 2000000;
    const QByteArray package = HttpTestServer::patternBytes(0, size);
    const QByteArray base = server.url().toEncoded();
    serve(
        "/Update/Windows/Resumed.txt",
        TestKeys::signedBy(TestKeys::kPublisher, offerOf("Resumed", "url=" + base + "gone/Resumed.run\nmirror=" + base +
                                                                        "dl/Resumed.run\n" + packageLines(package))));
    HttpTestServer::Route slow;
    slow.generatedSize = size;
    slow.ranges = true;
    slow.headers.append(qMakePair(QByteArray("ETag"), QByteArray("\"r1\"")));
    slow.pieceSize = 20000;
    slow.pieceIntervalMs = 100;
    server.setRoute("/dl/Resumed.run", slow);
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("resumed")));
    const QStringList arguments{QStringLiteral("update-check"),
                                QStringLiteral("--base=") + server.url().toString(),
                                QStringLiteral("--name=Resumed"),
                                QStringLiteral("--current=1.0"),
                                QStringLiteral("--public-key-file=") + folder.filePath(QStringLiteral("publisher.pub")),
                                QStringLiteral("--download=") + folder.filePath(QStringLiteral("resumed"))};

    server.clearRecords();
    const OrvikRun first = runOrvik(arguments + QStringList{QStringLiteral("--download-timeout=2")}, 60000);
    QCOMPARE(first.exitCode, 1);
    QVERIFY2(first.err.contains("are kept, and the next download continues from there"), first.err.constData());

    slow.pieceSize = 0;
    server.setRoute("/dl/Resumed.run", slow);
    server.clearRecords();
    const OrvikRun second = runOrvik(arguments, 60000);
    QCOMPARE(second.exitCode, 100);
    QVERIFY2(second.out.contains("downloaded: "), second.err.constData());
    QByteArray range;
    for (const HttpTestServer::Request &request : server.requests())
        if (request.path() == "/dl/Resumed.run")
            range = request.header("Range").value_or("none");
    // Fault: the second run starting from zero.
    QVERIFY2(range.startsWith("bytes=") && range != "bytes=0-", range.constData());
    QVERIFY(contentsOf(folder.filePath(QStringLiteral("resumed/orvik-updates/Resumed.run"))) == package);
}

#ifndef Q_OS_WIN
// The update session of docs/update-format.md, run as written: its commands through bash, every line
// it shows compared.
void tst_OrvikUpdateCheck::updateFormatExample()
{
    const QByteArray markdown = contentsOf(QStringLiteral(ORVIK_UPDATE_DOC));
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
            const QString served = files.next();
            serve('/' + QDir(work.filePath(QStringLiteral("www"))).relativeFilePath(served).toUtf8(),
                  contentsOf(served));
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
