#include "host/widgets/itemdownloader.h"
#include "host/widgets/update/filelock.h"
#include "host/widgets/update/httpresume.h"
#include "host/widgets/update/updatedownload.h"
#include "host/widgets/update/updatefolder.h"
#include "loopback/httptestserver.h"
#include "module/moduleentry.h"
#include "tests/update/updatetest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

// Downloads that meet cuts, throttling, servers that ignore ranges or change their file, weak
// validators, 503s and failing mirrors, on a loopback server; and the rules they follow.
namespace {

using Route = HttpTestServer::Route;
constexpr int kWaitMs = 30000;
constexpr qint64 kSize = 300000;
constexpr qint64 kCut = 100000;

QByteArray package()
{
    return HttpTestServer::patternBytes(0, kSize);
}

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1();
}

// The package, generated; with `etag` (when not empty) and ranges honoured as asked.
Route serving(const QByteArray &etag = "\"v1\"", bool ranges = true)
{
    Route route;
    route.generatedSize = kSize;
    route.ranges = ranges;
    if (!etag.isEmpty())
        route.headers.append({"ETag", etag});
    return route;
}

Route cut(Route route, qint64 after = kCut)
{
    route.dropAfter = after;
    return route;
}

Route status(int code, const QByteArray &retryAfter = QByteArray())
{
    Route route;
    route.status = code;
    route.body = "no\n";
    if (!retryAfter.isEmpty())
        route.headers.append({"Retry-After", retryAfter});
    return route;
}

Route changed(Route route)
{
    route.patternXor = 0x5a;
    return route;
}

// A 206 whose Content-Range is not the one asked for.
Route misfit(Route route)
{
    route.misfitRange = true;
    return route;
}

Route paced(Route route, int pieceSize, int intervalMs)
{
    route.pieceSize = pieceSize;
    route.pieceIntervalMs = intervalMs;
    return route;
}

// A chunked body of `size` bytes, announced by no length.
Route chunked(Route route, qint64 size)
{
    route.generatedSize = size;
    route.framing = HttpTestServer::Framing::Chunked;
    return route;
}

// One download: the answers of each address (url=, then the mirrors) in the order the requests
// arrive (the last one repeats), what is planted in the private folder before, and what comes of it.
struct Resume
{
    QList<QList<Route>> addresses;
    QByteArray plant{};           // "partial", "long-partial", "link", "lock"
    QByteArray failure{};         // a part of the error; empty: success
    QList<QByteArray> requests{}; // per request: its "Range|If-Range", "" for neither
    QList<int> waits{};           // the planned waits, each within ±25 %
    qint64 fetched = -1;          // body bytes over the network; -1: not checked
    int deadlineMs = 60000;
};

} // namespace

Q_DECLARE_METATYPE(Resume)

class tst_UpdateResume : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void validator_data();
    void validator();
    void contentRange_data();
    void contentRange();
    void retryAfter_data();
    void retryAfter();
    void backoff_data();
    void backoff();
    void download_data();
    void download();

private:
    QString pathOf(int address) const { return QStringLiteral("/p%1/Orvik-2.0.run").arg(address); }

    HttpTestServer server;
};

void tst_UpdateResume::initTestCase()
{
    ORVIKNetworkSetupMetatypesForORVIK();
    QVERIFY(ItemDownloader::HasNetworkManager());
    QVERIFY2(server.listen(), qPrintable(server.errorString()));
}

void tst_UpdateResume::init()
{
    server.clearRecords();
}

void tst_UpdateResume::validator_data()
{
    QTest::addColumn<QByteArray>("etag");
    QTest::addColumn<QByteArray>("lastModified");
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("expected");

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray old = httpDate(now.addSecs(-3600));
    const QByteArray recent = httpDate(now.addSecs(-30));
    const QByteArray sent = httpDate(now);
    QTest::newRow("strong-etag") << QByteArray("\"v1\"") << old << sent << QByteArray("\"v1\"");
    // Fault: a weak tag in If-Range, or its date taken instead while a tag exists.
    QTest::newRow("weak-etag") << QByteArray("W/\"v1\"") << old << sent << QByteArray();
    QTest::newRow("unquoted-etag") << QByteArray("v1") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("date-a-minute-before") << QByteArray() << old << sent << old;
    // Modified within the minute before it was sent: a second change could share the date.
    QTest::newRow("date-too-recent") << QByteArray() << recent << sent << QByteArray();
    QTest::newRow("date-without-date") << QByteArray() << old << QByteArray() << QByteArray();
    QTest::newRow("unreadable-date") << QByteArray() << QByteArray("yesterday") << sent << QByteArray();
    // Fault: a tag that could end the header line and start another taken into If-Range.
    QTest::newRow("etag-with-line-break")
        << QByteArray("\"v1\r\nX-Injected: 1\"") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("etag-with-space") << QByteArray("\"v 1\"") << QByteArray() << QByteArray() << QByteArray();
}

void tst_UpdateResume::validator()
{
    QFETCH(QByteArray, etag);
    QFETCH(QByteArray, lastModified);
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, expected);
    QCOMPARE(HttpResume::IfRangeValidator(etag, lastModified, date), expected);
}

void tst_UpdateResume::contentRange_data()
{
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<bool>("fits");
    QTest::newRow("the-rest") << QByteArray("bytes 1000-9999/10000") << true;
    QTest::newRow("case-of-unit") << QByteArray("Bytes 1000-9999/10000") << true;
    QTest::newRow("one-byte-later") << QByteArray("bytes 1001-9999/10000") << false;
    QTest::newRow("one-byte-earlier") << QByteArray("bytes 999-9999/10000") << false;
    QTest::newRow("not-to-the-end") << QByteArray("bytes 1000-5000/10000") << false;
    QTest::newRow("other-size") << QByteArray("bytes 1000-10000/10001") << false;
    QTest::newRow("unknown-size") << QByteArray("bytes 1000-9999/*") << false;
    QTest::newRow("unsatisfied") << QByteArray("bytes */10000") << false;
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("huge-number") << QByteArray("bytes 1000-99999999999999999999/10000") << false;
}

void tst_UpdateResume::contentRange()
{
    QFETCH(QByteArray, contentRange);
    QFETCH(bool, fits);
    QCOMPARE(HttpResume::RangeFits(contentRange, 1000, 10000), fits);
}

void tst_UpdateResume::retryAfter_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("expectedMs");
    const QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(18, 0), Qt::UTC);
    QTest::newRow("seconds") << QByteArray("120") << qint64(120000);
    QTest::newRow("zero") << QByteArray("0") << qint64(0);
    QTest::newRow("imf-fixdate") << httpDate(now.addSecs(90)) << qint64(90000);
    QTest::newRow("rfc850-date") << QByteArray("Monday, 07-Dec-26 18:00:30 GMT") << qint64(30000);
    QTest::newRow("asctime-date") << QByteArray("Mon Dec  7 18:01:00 2026") << qint64(60000);
    QTest::newRow("past-date") << httpDate(now.addSecs(-90)) << qint64(0);
    QTest::newRow("negative") << QByteArray("-5") << qint64(-1);
    QTest::newRow("words") << QByteArray("soon") << qint64(-1);
}

void tst_UpdateResume::retryAfter()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, expectedMs);
    QCOMPARE(HttpResume::RetryAfterMs(value, QDateTime(QDate(2026, 12, 7), QTime(18, 0), Qt::UTC)), expectedMs);
}

void tst_UpdateResume::backoff_data()
{
    QTest::addColumn<int>("retry");
    QTest::addColumn<quint32>("random");
    QTest::addColumn<int>("expectedMs");
    QTest::newRow("first-lowest") << 1 << quint32(0) << 750;
    QTest::newRow("first-middle") << 1 << quint32(1u << 31) << 1000;
    QTest::newRow("first-highest") << 1 << quint32(0xffffffffu) << 1250;
    QTest::newRow("second-middle") << 2 << quint32(1u << 31) << 2000;
    QTest::newRow("third-lowest") << 3 << quint32(0) << 3000;
    QTest::newRow("third-highest") << 3 << quint32(0xffffffffu) << 5000;
}

void tst_UpdateResume::backoff()
{
    QFETCH(int, retry);
    QFETCH(quint32, random);
    QFETCH(int, expectedMs);
    QCOMPARE(HttpResume::BackoffMs(retry, random), expectedMs);
}

void tst_UpdateResume::download_data()
{
    QTest::addColumn<Resume>("resume");
    const QByteArray v1 = "\"v1\"";
    const QByteArray none;
    const QByteArray rest = "bytes=100000-|\"v1\"";
    const QByteArray digestFailed = "differs from the description's";
    const auto row = [](const char *tag, const Resume &resume) { QTest::newRow(tag) << resume; };

    row("whole", {{{serving()}}, none, none, {""}, {}, kSize});
    // Fault: a cut download started again from zero (fetched 400000).
    row("cut-then-continued", {{{cut(serving()), serving()}}, none, none, {"", rest}, {1000}, kSize});
    const QByteArray rest2 = "bytes=150000-|\"v1\"";
    row("cut-twice-then-continued",
        {{{cut(serving()), cut(serving(v1), 50000), serving()}}, none, none, {"", rest, rest2}, {1000, 2000}, kSize});
    // The range is ignored: the whole file again, and it replaces what was there. Fault: a 200 appended.
    row("range-ignored",
        {{{cut(serving(v1, false)), serving(v1, false)}}, none, none, {"", rest}, {1000}, kCut + kSize});
    // Same bytes, a new tag: If-Range does not match, so the server sends it all.
    row("new-etag-between-attempts",
        {{{cut(serving()), serving("\"v2\"")}}, none, none, {"", rest}, {1000}, kCut + kSize});
    // A server that sends the rest of a changed file anyway: the whole file fails its digest and is
    // fetched once more from zero. Fault: a continued file that fails kept or refused at once.
    row("changed-file-spliced",
        {{{cut(serving()), changed(serving()), serving()}}, none, none, {"", rest, ""}, {1000}, kSize + kSize});
    row("changed-file-for-good",
        {{{cut(serving()), changed(serving())}}, none, digestFailed, {"", rest, ""}, {1000}, -1});
    // Fault: a weak ETag in If-Range.
    row("weak-etag-not-continued",
        {{{cut(serving("W/\"v1\"")), serving("W/\"v1\"")}}, none, none, {"", ""}, {1000}, kCut + kSize});
    // Fault: any 206 taken.
    const Route noRanges = serving("", false);
    row("range-that-does-not-fit",
        {{{cut(serving()), misfit(serving()), noRanges}}, none, none, {"", rest, ""}, {1000, 2000}, kCut + kSize});
    // Fault: Retry-After ignored (the back-off of 1 s instead).
    row("busy-with-retry-after",
        {{{status(503, "7"), status(429, "3"), serving()}}, none, none, {"", "", ""}, {7000, 3000}, kSize});
    const Route busyFor40s = status(503, httpDate(QDateTime::currentDateTimeUtc().addSecs(40)));
    row("busy-with-retry-after-date", {{{busyFor40s, serving()}}, none, none, {"", ""}, {40000}, kSize});
    // Fault: a Retry-After past the deadline waited for (or a wait past it cut short).
    row("retry-after-past-the-deadline",
        {{{status(503, "7200")}}, none, "the server asks to be tried again at", {""}, {}, -1});
    // Fault: no back-off, or more than four requests at one address.
    row("server-errors-backed-off",
        {{{status(500)}}, none, "(after 4 attempts)", {"", "", "", ""}, {1000, 2000, 4000}, -1});
    row("not-found-not-retried", {{{status(404)}}, none, "Not Found", {""}, {}, -1});
    // Fault: mirrors not tried, or tried out of order.
    row("mirrors-after-failures",
        {{{status(404)}, {status(502)}, {serving()}}, none, none, {"", "", "", "", "", ""}, {1000, 2000, 4000}, kSize});
    // A mirror's bytes meet the one digest. Fault: a mirror's package taken unverified.
    row("mirror-with-other-bytes", {{{status(404)}, {changed(serving())}}, none, digestFailed, {"", ""}, {}, -1});
    // Throttled: slow but never stalled.
    row("throttled", {{{paced(serving(), 30000, 20)}}, none, none, {""}, {}, kSize});
    // What the folder holds is hostile. A planted partial file with a validator is asked to be
    // continued, fails the digest and is fetched from zero; one longer than the package is not used.
    row("planted-partial", {{{serving()}}, "partial", none, {rest, ""}, {}, 2 * kSize - kCut});
    row("planted-long-partial", {{{serving()}}, "long-partial", none, {""}, {}, kSize});
    // Fault: a kept validator sent as it was found.
    row("planted-validator-with-line-break", {{{serving()}}, "bad-validator", none, {""}, {}, kSize});
    // A server that cannot satisfy the range: the next request starts from zero.
    row("range-not-satisfiable",
        {{{cut(serving()), status(416), serving()}}, none, none, {"", rest, ""}, {1000, 2000}, kCut + kSize});
    // The size stop ends the download: more than the package is not the package.
    row("longer-than-the-package",
        {{{chunked(serving(), kSize + 1)}}, none, "the body is larger than 300000 bytes", {""}, {}, -1});
#ifndef Q_OS_WIN
    // Fault: the partial file opened through a link (the target outside is then overwritten).
    row("planted-link", {{{serving()}}, "link", none, {""}, {}, kSize});
#endif
    // Fault: a second run writing into the same partial file.
    row("another-run-holds-the-lock", {{{serving()}}, "lock", "another download of this package", {}, {}, -1});
}

void tst_UpdateResume::download()
{
    QFETCH(Resume, resume);
    const QByteArray expected = package();
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QStringList mirrors;
    for (int i = 1; i < resume.addresses.size(); ++i)
        mirrors.append(server.url(pathOf(i)).toString());
    UpdateDownload download(server.url(pathOf(0)).toString(), folder.path(), kSize, digestOf(expected));
    // Each attempt of the download gets the answer of its turn at its address. Qt's HTTP layer may
    // itself repeat a GET whose connection closed early, before the next attempt: such a repeat is
    // told apart by the attempt count, which it does not change, and gets the same answer.
    QList<int> turns(resume.addresses.size(), -1);
    QList<int> lastAttempt(resume.addresses.size(), -1);
    QList<int> attemptOf;
    const QMetaObject::Connection routing = connect(&server, &HttpTestServer::requestStarted, this, [&](int index) {
        attemptOf.append(download.attempts());
        const QByteArray path = server.request(index).path();
        for (int i = 0; i < resume.addresses.size(); ++i) {
            if (path != pathOf(i).toLatin1())
                continue;
            if (lastAttempt[i] != download.attempts())
                ++turns[i];
            lastAttempt[i] = download.attempts();
            const QList<Route> &answers = resume.addresses.at(i);
            server.setRoute(path, answers.at(qMin(turns[i], int(answers.size()) - 1)));
        }
    });
    const QString privateFolder = folder.filePath(QLatin1String(UpdateFolder::kName));
    QVERIFY(QDir().mkdir(privateFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString stem =
        privateFolder +
        QStringLiteral("/.partial-%1-%2").arg(QString::fromLatin1(digestOf(expected).toHex())).arg(kSize);
    const auto write = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    if (resume.plant == "partial")
        QVERIFY(write(stem, QByteArray(kCut, 'x')) && write(stem + ".validator", "\"v1\""));
    // A validator that would put a header line of its own into the request.
    if (resume.plant == "bad-validator")
        QVERIFY(write(stem, QByteArray(kCut, 'x')) && write(stem + ".validator", "\"v1\"\r\nX-Injected: 1"));
    if (resume.plant == "long-partial")
        QVERIFY(write(stem, expected + "more") && write(stem + ".validator", "\"v1\""));
    const QString outside = folder.filePath(QStringLiteral("outside"));
    if (resume.plant == "link")
        QVERIFY(write(outside, "mine") && QFile::link(outside, stem));
    FileLock other;
    QString lockError;
    if (resume.plant == "lock")
        QVERIFY2(other.lock(stem + ".lock", 0, &lockError), qPrintable(lockError));

    download.setMirrors(mirrors);
    download.setStallTimeout(5000);
    download.setDeadline(resume.deadlineMs);
    QList<int> waits;
    download.setWaitFunction([&waits](int planned) {
        waits.append(planned);
        return 0;
    });
    QSignalSpy finished(&download, &UpdateDownload::finishedSignal);
    const bool started = download.start();
    if (started)
        QVERIFY(finished.wait(kWaitMs));
    disconnect(routing);
    const QString error = download.error();
    QVERIFY2(resume.failure.isEmpty() ? error.isEmpty() : error.contains(QString::fromLatin1(resume.failure)),
             qPrintable(error));

    // Per attempt, the request it sent. A repeat of Qt's own copies the request before it and
    // arrives before the next attempt's request or just after that attempt began: of the requests
    // that arrived during one attempt, the one that differs from the last attempt's is its own.
    QList<QByteArray> requests;
    for (int i = 0; i < server.requestCount(); ++i) {
        const HttpTestServer::Request &request = server.request(i);
        // Every request asks for the bytes as they are stored.
        QCOMPARE(request.header("Accept-Encoding").value_or(QByteArray()), QByteArray("identity"));
        const QByteArray range = request.header("Range").value_or(QByteArray());
        const QByteArray ifRange = request.header("If-Range").value_or(QByteArray());
        // Never a range without the validator that ties it to what was fetched.
        QCOMPARE(range.isEmpty(), ifRange.isEmpty());
        const QByteArray shown = range.isEmpty() ? QByteArray() : range + '|' + ifRange;
        const bool sameAttempt = i > 0 && attemptOf.at(i) == attemptOf.at(i - 1);
        if (!sameAttempt)
            requests.append(shown);
        else if (requests.size() >= 2 && requests.last() == requests.at(requests.size() - 2))
            requests.last() = shown;
    }
    QVERIFY2(requests == resume.requests, requests.join(" ; ").constData());
    QCOMPARE(download.attempts(), int(resume.requests.size()));
    QCOMPARE(waits.size(), resume.waits.size());
    for (int i = 0; i < waits.size(); ++i)
        QVERIFY2(waits.at(i) >= resume.waits.at(i) * 3 / 4 && waits.at(i) <= resume.waits.at(i) * 5 / 4,
                 qPrintable(QStringLiteral("wait %1: %2 ms").arg(i).arg(waits.at(i))));
    if (resume.fetched >= 0)
        QCOMPARE(download.bytesFetched(), resume.fetched);
    if (resume.plant == "link") {
        QFile mine(outside);
        QVERIFY(mine.open(QIODevice::ReadOnly) && mine.readAll() == "mine");
    }
    if (!resume.failure.isEmpty()) {
        QVERIFY(download.filePath().isEmpty());
        return;
    }
    QFile file(download.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == expected);
    // Nothing partial stays beside the verified package.
    QVERIFY(!QFile::exists(stem));
    QVERIFY(!QFile::exists(stem + ".validator"));
}

QTEST_GUILESS_MAIN(tst_UpdateResume)
#include "tst_updateresume.moc"
