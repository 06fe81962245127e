#include "host/base/exception.h"
#include "host/widgets/networkrequest.h"
#include "host/widgets/requestdriver.h"

#include <QIODevice>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <memory>
#include <utility>
#include <vector>

using namespace ORVIK;

namespace {

// A request played from a script; what it is asked to do lands in the shared log, after its name. Closing
// reports a cancellation and a finish, at once as the module's does, or at the next event, or never.
class ScriptedRequest : public NetworkRequest
{
public:
    enum class Finish { AtOnce, Later, Never, NotRunning };
    explicit ScriptedRequest(QStringList *log, const QString &name = {}, Finish finish = Finish::AtOnce)
        : m_log(log), m_name(name), m_finish(finish)
    {}

    void close() override
    {
        m_log->append(m_name + QStringLiteral("close"));
        if (m_finish == Finish::AtOnce)
            end();
        else if (m_finish == Finish::Later)
            QTimer::singleShot(0, this, [this] { end(); });
    }
    void ignoreSslErrors() override { m_log->append(m_name + QStringLiteral("ignore-ssl")); }
    bool isRunning() override { return m_running; }
    bool start() override
    {
        m_log->append(m_name + QStringLiteral("start"));
        if (throwOnStart)
            throw Exception("file does not exist");
        return true;
    }
    QByteArray readAll() override { return std::exchange(pending, QByteArray()); }

    QByteArray pending;
    bool throwOnStart = false;

private:
    void end()
    {
        m_running = false;
        Q_EMIT errorOccurredSignal("Operation canceled");
        Q_EMIT finishedSignal();
    }

    QStringList *m_log;
    QString m_name;
    Finish m_finish;
    bool m_running = m_finish != Finish::NotRunning;
};

// Refuses every write, as a full disk does.
class FullDevice : public QIODevice
{
public:
    FullDevice()
    {
        open(QIODevice::WriteOnly);
        setErrorString(QStringLiteral("disk full"));
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64) override { return -1; }
};

} // namespace

class tst_RequestDriver : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void outcomes_data();
    void outcomes();
    void closeRunning_data();
    void closeRunning(); // what a host does before it ends
};

void tst_RequestDriver::outcomes_data()
{
    QTest::addColumn<QStringList>("script"); // data:BYTES (then a progress of the total), pending:BYTES,
                                             // length:N (later progress announces N bytes in all),
                                             // up:SENT/TOTAL, error:TEXT, finish, abort:TEXT, throw,
                                             // keep (the outcome handlers leave the driver alive),
                                             // full (the body goes to a device that refuses every write)
    QTest::addColumn<int>("setting"); // the body limit; or, after "timeout"/"stall" in the script, its span in ms
    QTest::addColumn<QStringList>("expectedLog"); // ends with the body that the outcome's handler read

    // Scripts and logs are written as steps joined by '|'.
    const auto row = [](const char *name, const char *script, int setting, const char *log) {
        const auto list = [](const char *text) { return QString::fromLatin1(text).split(QLatin1Char('|')); };
        QTest::newRow(name) << list(script) << setting << list(log);
    };

    row("body-read-on-progress-and-finish", "data:ab|data:cd|pending:ef|finish", -1,
        "start|down:2|down:4|finished|body:abcdef");
    row("first-error-wins-and-closing-adds-nothing",
        "data:ab|error:Connection refused|data:cd|error:second|abort:later|finish", -1,
        "start|down:2|close|failed:Connection refused|body:ab");
    row("empty-error-text", "error:|finish", -1, "start|close|failed:transfer failed (no error text)|body:");
    row("body-of-exactly-the-limit", "data:abcd|finish", 4, "start|down:4|finished|body:abcd");
    row("one-byte-over-the-limit-stops-at-once", "data:ab|data:cde|finish", 4,
        "start|down:2|close|failed:the body is larger than 4 bytes|body:ab");
    row("over-the-limit-at-the-finish", "pending:abcde|finish", 4,
        "start|close|failed:the body is larger than 4 bytes|body:");
    // A driver that failed while reading at the finish has ended: no finish follows for an owner that keeps it.
    row("over-the-limit-at-the-finish-driver-kept", "keep|pending:abcde|finish", 4,
        "start|close|failed:the body is larger than 4 bytes|body:");
    // Qt may report a connection closed mid-body as a finish: only the count shows the cut.
    row("finish-short-of-the-announced-length", "length:6|data:ab|pending:cd|finish", -1,
        "start|down:2|close|failed:the server closed the connection after 4 of 6 bytes|body:abcd");
    row("finish-with-the-announced-length", "length:4|data:ab|pending:cd|finish", -1,
        "start|down:2|finished|body:abcd");
    row("sink-refuses", "full|data:ab|finish", -1, "start|close|failed:cannot write the body: disk full|body:");
    row("upload-ends-with-zero-of-zero", "up:5/10|up:10/10|up:0/0|finish", -1, "start|up:5/10|up:10/10|finished|body:");
    row("abort-by-the-owner", "data:ab|abort:no longer wanted|error:later", -1,
        "start|down:2|close|failed:no longer wanted|body:ab");
    row("cannot-start", "throw", -1, "start|close|failed:file does not exist|body:");
    row("ignore-ssl-errors-after-start", "insecure|finish", -1, "start|ignore-ssl|finished|body:");
    row("whole-transfer-time-out", "timeout|data:ab", 50, "start|down:2|close|failed:took too long|body:ab");
    row("stall-time-out", "stall", 50, "start|close|failed:stalled: no bytes for 50 ms|body:");
}

void tst_RequestDriver::outcomes()
{
    QFETCH(QStringList, script);
    QFETCH(int, setting);
    QFETCH(QStringList, expectedLog);

    QStringList log;
    QPointer<ScriptedRequest> request = new ScriptedRequest(&log);
    QPointer<RequestDriver> driver = new RequestDriver(request);
    FullDevice full;
    if (script.first() == QLatin1String("full"))
        driver->setSink(&full);
    if (script.first() == QLatin1String("timeout"))
        driver->setTimeout(TimeSpan::FromMilliseconds(setting), "took too long");
    else if (script.first() == QLatin1String("stall"))
        driver->setStallTimeout(TimeSpan::FromMilliseconds(setting));
    else
        driver->setBodyLimit(setting);
    driver->setIgnoreSslErrors(script.first() == QLatin1String("insecure"));
    request->throwOnStart = script.first() == QLatin1String("throw");
    connect(driver, &RequestDriver::downloadProgressSignal, this,
            [&log](qint64 done, qint64) { log.append(QStringLiteral("down:%1").arg(done)); });
    connect(driver, &RequestDriver::uploadProgressSignal, this,
            [&log](qint64 done, qint64 total) { log.append(QStringLiteral("up:%1/%2").arg(done).arg(total)); });
    // Each outcome handler deletes the driver, as owners may, unless the script keeps it.
    const bool keep = script.first() == QLatin1String("keep");
    const auto ended = [&](const QString &outcome) {
        log << outcome << QStringLiteral("body:") + QString::fromLatin1(driver->body());
        if (!keep)
            delete driver;
    };
    connect(driver, &RequestDriver::finishedSignal, this, [&] { ended(QStringLiteral("finished")); });
    connect(driver, &RequestDriver::failedSignal, this, [&](StringView reason) {
        ended(QStringLiteral("failed:") + QString::fromUtf8(reason.data(), reason.length()));
    });

    driver->start();
    qint64 received = 0;
    qint64 total = -1;
    for (const QString &step : script) {
        const QString argument = step.section(QLatin1Char(':'), 1);
        if (!request)
            break;
        if (step.startsWith(QLatin1String("data:"))) {
            request->pending += argument.toLatin1();
            received += argument.size();
            Q_EMIT request->downloadProgressSignal(received, total);
        } else if (step.startsWith(QLatin1String("length:"))) {
            total = argument.toLongLong();
        } else if (step.startsWith(QLatin1String("pending:"))) {
            request->pending += argument.toLatin1();
        } else if (step.startsWith(QLatin1String("up:"))) {
            Q_EMIT request->uploadProgressSignal(argument.section('/', 0, 0).toLongLong(),
                                                 argument.section('/', 1).toLongLong());
        } else if (step.startsWith(QLatin1String("error:"))) {
            Q_EMIT request->errorOccurredSignal(argument.toLatin1().constData());
        } else if (step == QLatin1String("finish")) {
            Q_EMIT request->finishedSignal();
        } else if (step.startsWith(QLatin1String("abort:")) && driver) {
            driver->abort(String(argument.toLatin1().constData()));
        }
    }
    if (keep) {
        QVERIFY(driver);
        QVERIFY(!driver->isRunning());
        delete driver;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!driver, 20000);
    QCOMPARE(log, expectedLog);
    QTRY_VERIFY(!request); // went with the driver, later when it was inside one of its signals
}

void tst_RequestDriver::closeRunning_data()
{
    using Finish = ScriptedRequest::Finish;
    QTest::addColumn<QList<Finish>>("requests"); // named a, b, ...
    QTest::addColumn<bool>("deleteSecondOnFirstFinish");
    QTest::addColumn<bool>("allFinished");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("none") << QList<Finish>{} << false << true << QStringList{};
    QTest::newRow("finishes-as-it-is-closed")
        << QList<Finish>{Finish::AtOnce} << false << true << QStringList{"a close", "a finished"};
    QTest::newRow("event-loop-runs-until-each-has-finished")
        << QList<Finish>{Finish::Later, Finish::AtOnce} << false << true
        << QStringList{"a close", "b close", "b finished", "a finished"};
    QTest::newRow("one-that-never-finishes-is-given-up-on") << QList<Finish>{Finish::Never, Finish::AtOnce} << false
                                                            << false << QStringList{"a close", "b close", "b finished"};
    QTest::newRow("what-has-ended-is-not-closed")
        << QList<Finish>{Finish::NotRunning} << false << true << QStringList{};
    QTest::newRow("a-handler-deletes-another-before-it-is-closed")
        << QList<Finish>{Finish::AtOnce, Finish::Later} << true << true
        << QStringList{"a close", "a finished", "b deleted"};
}

void tst_RequestDriver::closeRunning()
{
    QFETCH(QList<ScriptedRequest::Finish>, requests);
    QFETCH(bool, deleteSecondOnFirstFinish);
    QFETCH(bool, allFinished);
    QFETCH(QStringList, log);

    QStringList seen;
    std::vector<std::unique_ptr<ScriptedRequest>> owned;
    for (int i = 0; i < requests.size(); ++i) {
        const QString name = QChar(u'a' + i) + QStringLiteral(" ");
        owned.push_back(std::make_unique<ScriptedRequest>(&seen, name, requests[i]));
        connect(owned.back().get(), &NetworkRequest::finishedSignal, this,
                [&seen, name] { seen << name + "finished"; });
        connect(owned.back().get(), &QObject::destroyed, this, [&seen, name] { seen << name + "deleted"; });
    }
    if (deleteSecondOnFirstFinish)
        connect(owned[0].get(), &NetworkRequest::finishedSignal, this, [&owned] { owned[1].reset(); });
    // Short: the row that never finishes waits this long.
    QCOMPARE(NetworkRequest::closeRunning(200), allFinished);
    QCOMPARE(seen, log);
}

QTEST_GUILESS_MAIN(tst_RequestDriver)
#include "tst_requestdriver.moc"
