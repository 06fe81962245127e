#include "host/base/exception.h"
#include "host/widgets/qstringstream.h"
#include "network/qtnetworkaccessmanager.h"
#include "network/qtnetworkrequest.h"
#include "tests/network/requestlog.h"
#include "tests/support/http/httptestserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace ORVIK;

namespace {

// A reply whose state and signals the test controls.
class ScriptedReply : public QNetworkReply
{
public:
    ScriptedReply(const QNetworkRequest &request, QObject *parent) : QNetworkReply(parent)
    {
        setRequest(request);
        setUrl(request.url());
        open(QIODevice::ReadOnly);
    }
    void fail(NetworkError code) { setError(code, QStringLiteral("scripted")); }
    void finish() { setFinished(true); }
    void abort() override {}
    QByteArray body;

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(maxSize, body.size());
        memcpy(data, body.constData(), size_t(count));
        body.remove(0, count);
        return count;
    }
    qint64 bytesAvailable() const override { return body.size() + QNetworkReply::bytesAvailable(); }
};

// Hands out scripted replies and records what it was asked to send.
class ScriptedManager : public QNetworkAccessManager
{
public:
    std::function<void(ScriptedReply *)> prepare;
    QList<Operation> operations;
    QList<ScriptedReply *> replies;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request, QIODevice *) override
    {
        operations.append(operation);
        auto *reply = new ScriptedReply(request, this);
        if (prepare)
            prepare(reply);
        replies.append(reply);
        return reply;
    }
};

// Whether this process has a descriptor open on the file (Linux).
bool processHasOpen(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    return false;
}

String hostText(const QString &text)
{
    return StringStream<QString>::toString(text);
}

Buffer<uint8_t> bytesOf(const QByteArray &bytes)
{
    Buffer<uint8_t> buffer;
    buffer.resize(uint32_t(bytes.size()));
    if (!bytes.isEmpty())
        memcpy(buffer.data(), bytes.constData(), size_t(bytes.size()));
    return buffer;
}

using RequestPtr = std::unique_ptr<NetworkRequest>;

} // namespace

class tst_QtNetworkRequest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void unstartedRequestIsInert();
    void chooseOperation_data();
    void chooseOperation();
    void largeFileIsPutByteForByte();
    void missingUploadFileThrowsAndSendsNothing();

    void relaysRealTransferInOrder();
    void progressValuesPassUnchanged_data();
    void progressValuesPassUnchanged();
    void uploadProgressPassesUnchanged();
    void relaysEverySignalInOrder();
    void redirectAllowedIsRelayed();
    void adoptedReplyReportsAtOnce_data();
    void adoptedReplyReportsAtOnce();
    void secondStartRelaysBothReplies();

    void realFailures_data();
    void realFailures();
    void untrustedCertificate();
    void uploadOutlivesItsRequest();

private:
    NetworkRequestSettings settingsFor(const QUrl &url) const
    {
        NetworkRequestSettings settings;
        settings.url = hostText(url.toString());
        return settings;
    }
    QString writeFile(const QString &name, const QByteArray &content);
    // A request for a control GET: when it has arrived, everything sent before it has arrived too.
    void sendControlRequest();

    QtNetworkAccessManager m_access;
    HttpTestServer m_server;
    QTemporaryDir m_dir;
};

void tst_QtNetworkRequest::initTestCase()
{
    QVERIFY2(m_server.listen(), qPrintable(m_server.errorString()));
    QVERIFY(m_dir.isValid());
}

void tst_QtNetworkRequest::init()
{
    m_server.clearRecords();
}

QString tst_QtNetworkRequest::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    return path;
}

void tst_QtNetworkRequest::sendControlRequest()
{
    RequestPtr control(m_access.createDownloadRequest(settingsFor(m_server.url("/control"))));
    RequestLog log(control.get());
    control->start();
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 20000);
}

void tst_QtNetworkRequest::unstartedRequestIsInert()
{
    RequestPtr request(m_access.createDownloadRequest(settingsFor(m_server.url("/nothing"))));
    RequestLog log(request.get());
    QVERIFY(!request->isRunning());
    QVERIFY(request->readAll().isEmpty());
    request->close();
    request->ignoreSslErrors();
    QVERIFY(!request->isRunning());
    sendControlRequest();
    QCOMPARE(m_server.requestCount(), 1);
    QCOMPARE(m_server.request(0).path(), QByteArray("/control"));
    QVERIFY(log.lines.isEmpty());
}

void tst_QtNetworkRequest::chooseOperation_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("fileContent"); // null: no file path at all
    QTest::addColumn<QByteArray>("expectedMethod");
    QTest::addColumn<QByteArray>("expectedBody");

    const QByteArray binary = QByteArray("\0\x01\xff\r\n\r\nbinary", 12);
    QTest::newRow("nothing-to-upload-sends-get") << QByteArray() << QByteArray() << QByteArray("GET") << QByteArray();
    QTest::newRow("bytes-are-put") << QByteArray("hello bytes") << QByteArray() << QByteArray("PUT")
                                   << QByteArray("hello bytes");
    QTest::newRow("binary-bytes-are-put-unchanged") << binary << QByteArray() << QByteArray("PUT") << binary;
    QTest::newRow("file-is-put") << QByteArray() << QByteArray("file content\n") << QByteArray("PUT")
                                 << QByteArray("file content\n");
    QTest::newRow("empty-file-is-put-empty") << QByteArray() << QByteArray("") << QByteArray("PUT") << QByteArray();
    QTest::newRow("bytes-win-over-file") << QByteArray("the bytes") << QByteArray("the file") << QByteArray("PUT")
                                         << QByteArray("the bytes");
}

void tst_QtNetworkRequest::chooseOperation()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, fileContent);
    QFETCH(QByteArray, expectedMethod);
    QFETCH(QByteArray, expectedBody);

    HttpTestServer::Route route;
    route.body = "answer";
    m_server.setRoute("/choose", route);
    const QUrl url = m_server.url("/choose");
    std::unique_ptr<QtNetworkRequest> request(
        static_cast<QtNetworkRequest *>(m_access.createDownloadRequest(settingsFor(url))));
    request->uploadData = bytesOf(data);
    if (!fileContent.isNull())
        request->uploadFile = File(hostText(writeFile(QStringLiteral("choose.bin"), fileContent)));
    RequestLog log(request.get());
    QVERIFY(request->start());
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 20000);

    QVERIFY2(log.errors().isEmpty(), log.errors().join(' ').constData());
    QCOMPARE(m_server.requestCount(), 1);
    const HttpTestServer::Request &received = m_server.request(0);
    QCOMPARE(received.method, expectedMethod);
    QCOMPARE(received.target, QByteArray("/choose"));
    QCOMPARE(received.body, expectedBody);
    QCOMPARE(received.bodySize, qint64(expectedBody.size()));
    // The request carries its URL only: the module adds no content type of its own.
    QVERIFY(!received.hasHeader("Content-Type"));
    QCOMPARE(request->readAll(), QByteArray("answer"));
}

void tst_QtNetworkRequest::largeFileIsPutByteForByte()
{
    const qint64 size = 24 * 1024 * 1024 + 17; // larger than any buffer on the way, and odd
    const QString path = writeFile(QStringLiteral("large.bin"), HttpTestServer::patternBytes(0, size));
    QVERIFY(!path.isEmpty());
    m_server.setBodyCaptureLimit(1024);

    RequestPtr request(m_access.createFileUploadRequest(settingsFor(m_server.url("/large")), File(hostText(path))));
    RequestLog log(request.get());
    request->start();
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 120000);
    m_server.setBodyCaptureLimit(16 * 1024 * 1024);

    QVERIFY2(log.errors().isEmpty(), log.errors().join(' ').constData());
    QCOMPARE(m_server.requestCount(), 1);
    const HttpTestServer::Request &received = m_server.request(0);
    QCOMPARE(received.method, QByteArray("PUT"));
    QCOMPARE(received.bodySize, size);
    QCOMPARE(received.bodySha256,
             QCryptographicHash::hash(HttpTestServer::patternBytes(0, size), QCryptographicHash::Sha256));
    QVERIFY(log.withPrefix("upload ").contains("upload " + RequestLog::progress(size, size)));
}

void tst_QtNetworkRequest::missingUploadFileThrowsAndSendsNothing()
{
    const QString missing = m_dir.filePath(QStringLiteral("does-not-exist.bin"));
    RequestPtr request(
        m_access.createFileUploadRequest(settingsFor(m_server.url("/missing")), File(hostText(missing))));
    RequestLog log(request.get());
    bool thrown = false;
    try {
        request->start();
    } catch (const Exception &error) {
        thrown = true;
        QVERIFY2(error.message().toStdString().find("does-not-exist.bin") != std::string::npos, error.what());
    }
    QVERIFY(thrown);
    QVERIFY(!request->isRunning());
    QVERIFY(request->readAll().isEmpty());

    sendControlRequest();
    QCOMPARE(m_server.requestCount(), 1);
    QCOMPARE(m_server.request(0).path(), QByteArray("/control"));
    QVERIFY2(log.lines.isEmpty(), log.lines.join(' ').constData());
}

void tst_QtNetworkRequest::relaysRealTransferInOrder()
{
    HttpTestServer fresh; // a new port, so the transfer opens a connection of its own
    QVERIFY2(fresh.listen(), qPrintable(fresh.errorString()));
    HttpTestServer::Route route;
    route.body = "0123456789";
    fresh.setRoute("/ordered", route);
    RequestPtr request(m_access.createDownloadRequest(settingsFor(fresh.url("/ordered"))));
    RequestLog log(request.get());
    request->start();
    QVERIFY(request->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 20000);

    QVERIFY(!request->isRunning());
    QCOMPARE(request->readAll(), QByteArray("0123456789"));
    QCOMPARE(log.errors(), QList<QByteArray>());
    QCOMPARE(log.count("finished"), 1);
    const int connecting = log.indexOf("connecting");
    const int sent = log.indexOf("sent");
    const int metadata = log.indexOf("metadata");
    const int complete = log.indexOf("download 10/10");
    QVERIFY2(connecting >= 0 && connecting < sent && sent < metadata && metadata < complete &&
                 complete < log.indexOf("finished"),
             log.lines.join(' ').constData());
    QCOMPARE(log.lines.last(), QByteArray("finished"));
}

void tst_QtNetworkRequest::progressValuesPassUnchanged_data()
{
    QTest::addColumn<int>("framing");
    QTest::addColumn<bool>("totalKnown");
    QTest::newRow("content-length-gives-total") << int(HttpTestServer::Framing::ContentLength) << true;
    QTest::newRow("chunked-gives-minus-one") << int(HttpTestServer::Framing::Chunked) << false;
    QTest::newRow("close-delimited-gives-minus-one") << int(HttpTestServer::Framing::CloseDelimited) << false;
}

void tst_QtNetworkRequest::progressValuesPassUnchanged()
{
    QFETCH(int, framing);
    QFETCH(bool, totalKnown);
    const qint64 size = 40000;
    HttpTestServer::Route route;
    route.generatedSize = size;
    route.framing = HttpTestServer::Framing(framing);
    route.pieceSize = 10000; // separate pieces, so progress is reported before the end
    route.pieceIntervalMs = 50;
    m_server.setRoute("/progress", route);

    RequestPtr request(m_access.createDownloadRequest(settingsFor(m_server.url("/progress"))));
    RequestLog log(request.get());
    request->start();
    // The reply is the manager's newest child; record what it says itself.
    auto *access = static_cast<QtNetworkRequest *>(request.get())->qtManager();
    QNetworkReply *reply = access->findChildren<QNetworkReply *>().last();
    QList<QByteArray> fromReply;
    connect(reply, &QNetworkReply::downloadProgress, this, [&fromReply](qint64 done, qint64 total) {
        fromReply.append("download " + RequestLog::progress(done, total));
    });
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 20000);

    QCOMPARE(log.errors(), QList<QByteArray>());
    QCOMPARE(request->readAll(), HttpTestServer::patternBytes(0, size));
    const QList<QByteArray> relayed = log.withPrefix("download ");
    QCOMPARE(relayed, fromReply);
    QVERIFY2(relayed.size() >= 2, relayed.join(' ').constData());
    const qint64 expectedTotal = totalKnown ? size : -1;
    QVERIFY2(relayed.first().endsWith('/' + QByteArray::number(expectedTotal)), relayed.join(' ').constData());
}

void tst_QtNetworkRequest::uploadProgressPassesUnchanged()
{
    const QByteArray data = HttpTestServer::patternBytes(0, 300000);
    RequestPtr request(m_access.createDataUploadRequest(settingsFor(m_server.url("/up")), bytesOf(data)));
    RequestLog log(request.get());
    request->start();
    auto *access = static_cast<QtNetworkRequest *>(request.get())->qtManager();
    QNetworkReply *reply = access->findChildren<QNetworkReply *>().last();
    QList<QByteArray> fromReply;
    connect(reply, &QNetworkReply::uploadProgress, this, [&fromReply](qint64 done, qint64 total) {
        fromReply.append("upload " + RequestLog::progress(done, total));
    });
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 20000);

    QCOMPARE(log.withPrefix("upload "), fromReply);
    QVERIFY2(fromReply.contains("upload " + RequestLog::progress(data.size(), data.size())),
             fromReply.join(' ').constData());
    QCOMPARE(m_server.request(0).body, data);
}

void tst_QtNetworkRequest::relaysEverySignalInOrder()
{
    ScriptedManager manager;
    QtNetworkRequest request(QNetworkRequest(QUrl(QStringLiteral("http://example.invalid/"))), &manager);
    RequestLog log(&request);
    request.start();
    QCOMPARE(manager.operations, QList<QNetworkAccessManager::Operation>{QNetworkAccessManager::GetOperation});
    ScriptedReply *reply = manager.replies.last();

    Q_EMIT reply->socketStartedConnecting();
    Q_EMIT reply->requestSent();
    Q_EMIT reply->uploadProgress(3, 10);
    Q_EMIT reply->metaDataChanged();
    Q_EMIT reply->readyRead(); // not relayed
    Q_EMIT reply->downloadProgress(0, -1);
    Q_EMIT reply->redirected(QUrl(QStringLiteral("http://elsewhere.invalid/"))); // not relayed
    Q_EMIT reply->redirectAllowed();
    Q_EMIT reply->encrypted(); // not relayed
    Q_EMIT reply->downloadProgress(7, -1);
    Q_EMIT reply->uploadProgress(10, 10);
    Q_EMIT reply->errorOccurred(QNetworkReply::ContentNotFoundError);
    Q_EMIT reply->finished();

    const QList<QByteArray> expected = {"connecting",    "sent",          "upload 3/10",
                                        "metadata",      "download 0/-1", "redirectAllowed",
                                        "download 7/-1", "upload 10/10",  "error:Content Not Found",
                                        "finished"};
    QCOMPARE(log.lines, expected);
}

void tst_QtNetworkRequest::redirectAllowedIsRelayed()
{
    HttpTestServer::Route redirect;
    redirect.status = 302;
    redirect.headers.append(qMakePair(QByteArray("Location"), m_server.url("/target").toEncoded()));
    m_server.setRoute("/redirect", redirect);
    HttpTestServer::Route target;
    target.body = "arrived";
    m_server.setRoute("/target", target);

    RequestPtr request(m_access.createDownloadRequest(settingsFor(m_server.url("/redirect"))));
    auto *access = static_cast<QtNetworkRequest *>(request.get())->qtManager();
    const auto policy = access->redirectPolicy();
    access->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    RequestLog log(request.get());
    request->start();
    access->setRedirectPolicy(policy);
    QNetworkReply *reply = access->findChildren<QNetworkReply *>().last();
    // The host verifies the new address and lets the reply follow it.
    connect(reply, &QNetworkReply::redirected, reply, [reply] { Q_EMIT reply->redirectAllowed(); });
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 20000);

    QCOMPARE(log.errors(), QList<QByteArray>());
    QCOMPARE(log.count("redirectAllowed"), 1);
    QCOMPARE(request->readAll(), QByteArray("arrived"));
    QCOMPARE(m_server.requestCount(), 2);
}

void tst_QtNetworkRequest::adoptedReplyReportsAtOnce_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("running-reply-says-nothing") << 0 << false << QList<QByteArray>();
    QTest::newRow("error-present") << int(QNetworkReply::HostNotFoundError) << false
                                   << QList<QByteArray>{"error:Host Not Found"};
    QTest::newRow("finish-present") << 0 << true << QList<QByteArray>{"finished"};
    QTest::newRow("error-then-finish") << int(QNetworkReply::ConnectionRefusedError) << true
                                       << QList<QByteArray>{"error:Connection Refused", "finished"};
    QTest::newRow("unlisted-error-gives-empty-text") << 12 << true << QList<QByteArray>{"error:", "finished"};
}

void tst_QtNetworkRequest::adoptedReplyReportsAtOnce()
{
    QFETCH(int, error);
    QFETCH(bool, finished);
    QFETCH(QList<QByteArray>, expected);

    ScriptedManager manager;
    manager.prepare = [&](ScriptedReply *reply) {
        if (error != 0)
            reply->fail(QNetworkReply::NetworkError(error));
        if (finished)
            reply->finish();
    };
    QtNetworkRequest request(QNetworkRequest(QUrl(QStringLiteral("http://example.invalid/"))), &manager);
    RequestLog log(&request);
    QVERIFY(request.start());
    QCOMPARE(log.lines, expected); // before start returned
}

void tst_QtNetworkRequest::secondStartRelaysBothReplies()
{
    ScriptedManager manager;
    QtNetworkRequest request(QNetworkRequest(QUrl(QStringLiteral("http://example.invalid/"))), &manager);
    RequestLog log(&request);
    request.start();
    request.start();
    QCOMPARE(manager.replies.size(), 2);
    manager.replies[0]->body = "first";
    manager.replies[1]->body = "second";
    Q_EMIT manager.replies[0]->downloadProgress(1, 1);
    Q_EMIT manager.replies[1]->downloadProgress(2, 2);
    QCOMPARE(log.lines, (QList<QByteArray>{"download 1/1", "download 2/2"}));
    QCOMPARE(request.readAll(), QByteArray("second"));
    QCOMPARE(manager.replies[0]->parent(), &manager); // neither deleted nor taken over
}

void tst_QtNetworkRequest::realFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status"); // 0: no route
    QTest::addColumn<qint64>("dropAfter");
    QTest::addColumn<QByteArray>("expectedText");

    QTest::newRow("http-401") << "/e401" << 401 << qint64(-1) << QByteArray("Authentication Required");
    QTest::newRow("http-403") << "/e403" << 403 << qint64(-1) << QByteArray("Content Denied");
    QTest::newRow("http-404") << "/e404" << 404 << qint64(-1) << QByteArray("Content Not Found");
    QTest::newRow("http-405") << "/e405" << 405 << qint64(-1) << QByteArray("Operation Not permitted");
    QTest::newRow("http-409") << "/e409" << 409 << qint64(-1) << QByteArray("Content Conflict");
    QTest::newRow("http-410") << "/e410" << 410 << qint64(-1) << QByteArray("Content Gone");
    QTest::newRow("http-500") << "/e500" << 500 << qint64(-1) << QByteArray("Internal Server Error");
    QTest::newRow("http-501") << "/e501" << 501 << qint64(-1) << QByteArray("Operation Not Permitted");
    QTest::newRow("http-503") << "/e503" << 503 << qint64(-1) << QByteArray("Service Unavailable");
    QTest::newRow("server-closes-mid-body") << "/drop" << 200 << qint64(5000) << QByteArray("Remote Host Closed");
    QTest::newRow("connection-refused") << "refused" << 0 << qint64(-1) << QByteArray("Connection Refused");
    QTest::newRow("unknown-scheme") << "scheme" << 0 << qint64(-1) << QByteArray("Protocol Unknown");
}

void tst_QtNetworkRequest::realFailures()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(qint64, dropAfter);
    QFETCH(QByteArray, expectedText);

    QUrl url = m_server.url(path);
    if (path == QLatin1String("refused")) {
        url.setPort(HttpTestServer::unusedPort());
        url.setPath(QStringLiteral("/"));
    } else if (path == QLatin1String("scheme")) {
        url = QUrl(QStringLiteral("nosuchscheme://127.0.0.1/"));
    } else {
        HttpTestServer::Route route;
        route.status = status;
        route.generatedSize = dropAfter >= 0 ? 100000 : 16;
        route.dropAfter = dropAfter;
        m_server.setRoute(path.toLatin1(), route);
    }
    RequestPtr request(m_access.createDownloadRequest(settingsFor(url)));
    RequestLog log(request.get());
    request->start();
    QTRY_VERIFY_WITH_TIMEOUT(log.hasFinished(), 20000);

    QVERIFY2(!log.errors().isEmpty(), log.lines.join(' ').constData());
    QCOMPARE(log.errors().first(), "error:" + expectedText);
    QVERIFY2(log.indexOf(log.errors().first()) < log.indexOf("finished"), log.lines.join(' ').constData());
    if (path != QLatin1String("scheme")) { // a reply already in error is also reported when adopted
        QCOMPARE(log.errors().size(), 1);
        QCOMPARE(log.count("finished"), 1);
        QCOMPARE(log.lines.last(), QByteArray("finished"));
    }
}

void tst_QtNetworkRequest::untrustedCertificate()
{
    HttpTestServer tls;
    QVERIFY2(tls.listen(HttpTestServer::Transport::Tls), qPrintable(tls.errorString()));
    HttpTestServer::Route route;
    route.body = "secret body";
    tls.setRoute("/secure", route);

    RequestPtr refused(m_access.createDownloadRequest(settingsFor(tls.url("/secure"))));
    RequestLog refusedLog(refused.get());
    refused->start();
    QTRY_VERIFY_WITH_TIMEOUT(refusedLog.hasFinished(), 20000);
    QCOMPARE(refusedLog.errors(), QList<QByteArray>{"error:SSL Handshake"});
    QCOMPARE(tls.requestCount(), 0);

    RequestPtr accepted(m_access.createDownloadRequest(settingsFor(tls.url("/secure"))));
    RequestLog acceptedLog(accepted.get());
    accepted->start();
    accepted->ignoreSslErrors();
    QTRY_VERIFY_WITH_TIMEOUT(acceptedLog.hasFinished(), 20000);
    QCOMPARE(acceptedLog.errors(), QList<QByteArray>());
    QCOMPARE(accepted->readAll(), QByteArray("secret body"));
    QCOMPARE(tls.requestCount(), 1);
    QCOMPARE(tls.request(0).method, QByteArray("GET"));
}

void tst_QtNetworkRequest::uploadOutlivesItsRequest()
{
    const QByteArray content = HttpTestServer::patternBytes(3, 4 * 1024 * 1024);
    const QString path = writeFile(QStringLiteral("orphan.bin"), content);
    QVERIFY(!path.isEmpty());
    HttpTestServer::Route slow;
    slow.status = 201;
    slow.delayMs = 200; // the answer comes well after the request object is gone
    m_server.setRoute("/orphan", slow);

    auto *request = m_access.createFileUploadRequest(settingsFor(m_server.url("/orphan")), File(hostText(path)));
    request->start();
    QVERIFY(processHasOpen(path));
    delete request;

    QTRY_COMPARE_WITH_TIMEOUT(m_server.completedRequestCount(), 1, 30000);
    QCOMPARE(m_server.request(0).method, QByteArray("PUT"));
    QCOMPARE(m_server.request(0).body, content);
    // Closed once the reply has finished, which is after the delayed answer.
    QTRY_VERIFY_WITH_TIMEOUT(!processHasOpen(path), 20000);
}

QTEST_GUILESS_MAIN(tst_QtNetworkRequest)
#include "tst_qtnetworkrequest.moc"
