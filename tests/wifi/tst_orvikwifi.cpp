#include "tests/wifi/fakenetsh.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

class tst_OrvikWifi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listPrintsTheDialogsEntries();
    void screenshotWritesAPng();
    void screenshotToAnUnwritablePath();
    void noDisplayToAnswerTheDialog();

private:
    struct Result
    {
        int exitCode;
        QByteArray out;
        QByteArray err;
    };
    static Result run(const QStringList &arguments)
    {
        QProcess process;
        process.start(QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(QStringLiteral("orvik")), arguments);
        if (!process.waitForFinished(60000))
            return {-1, {}, "did not finish"};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }
};

namespace {

const QByteArray kListing = "SSID 1 : Tram Stop\r\n    BSSID 1 : 00:11:22:33:44:55\r\n    Signal : 35%\r\n"
                            "SSID 2 : Bakery\r\n    Signal : 88%\r\n"
                            "SSID 3 : \r\n    Signal : 50%\r\n";

} // namespace

void tst_OrvikWifi::listPrintsTheDialogsEntries()
{
    FakeNetsh netsh(kListing);
    QVERIFY(netsh.isValid());
    const Result result = run({QStringLiteral("wifi"), QStringLiteral("--list")});
    QCOMPARE(result.exitCode, 0);
    // The command's order, as the dialog holds it; the hidden network is not listed.
    QCOMPARE(result.out, QByteArray("35\tTram Stop\n88\tBakery\n"));
    QVERIFY(netsh.ran());
}

void tst_OrvikWifi::screenshotWritesAPng()
{
    FakeNetsh netsh(kListing);
    QTemporaryDir dir;
    QVERIFY(netsh.isValid() && dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dialog.png"));
    const Result result = run({QStringLiteral("wifi"), QStringLiteral("--screenshot"), path});
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.out.isEmpty());

    QImage image;
    QVERIFY(image.load(path, "PNG"));
    QVERIFY(image.width() >= 240);
    QVERIFY(image.height() > 100);
    QVERIFY(netsh.ran());
}

void tst_OrvikWifi::screenshotToAnUnwritablePath()
{
    FakeNetsh noCommand;
    const Result result =
        run({QStringLiteral("wifi"), QStringLiteral("--screenshot"), QStringLiteral("/nonexistent/dir/x.png")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.err.contains("orvik: cannot write the screenshot /nonexistent/dir/x.png"));
}

void tst_OrvikWifi::noDisplayToAnswerTheDialog()
{
    // The tests run on the offscreen platform, where nobody can press Accept or Cancel.
    const Result result = run({QStringLiteral("wifi")});
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QVERIFY(result.err.contains("orvik: wifi needs a display"));
}

QTEST_GUILESS_MAIN(tst_OrvikWifi)
#include "tst_orvikwifi.moc"
