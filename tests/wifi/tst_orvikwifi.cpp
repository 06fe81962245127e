#include "apps/orvik/plugins/wifidialogplugin.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "tests/wifi/fakenetsh.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLibrary>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace ORVIK;

namespace {

const char *const kListing = "SSID 1 : Tram Stop\r\n    BSSID 1 : 00:11:22:33:44:55\r\n    Signal : 35%\r\n"
                             "SSID 2 : Bakery\r\n    Signal : 88%\r\nSSID 3 : \r\n    Signal : 50%\r\n";

const QDir kBinDir(qEnvironmentVariable("ORVIK_BIN_DIR"));

} // namespace

// `orvik wifi`: the scan-once modes as a program, the dialog's answers in process as a user gives them.
class tst_OrvikWifi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void command_data();
    void command();
    void answers_data();
    void answers();
};

void tst_OrvikWifi::command_data()
{
    QTest::addColumn<QStringList>("arguments"); // PNG stands for a file in a scratch folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    // The command's order, as the dialog holds it; the hidden network is not listed.
    QTest::newRow("list-and-screenshot") << QStringList{"wifi", "--list", "--screenshot", "PNG"} << 0
                                         << QByteArray("35\tTram Stop\n88\tBakery\n") << QByteArray();
    // Nobody can press Accept or Cancel on the offscreen platform.
    QTest::newRow("no-display-to-answer")
        << QStringList{"wifi"} << 2 << QByteArray() << QByteArray("orvik: wifi needs a display");
}

void tst_OrvikWifi::command()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    FakeNetsh netsh(kListing);
    QTemporaryDir dir;
    QVERIFY(netsh.isValid() && dir.isValid());
    const QString png = dir.filePath(QStringLiteral("dialog.png"));
    arguments.replaceInStrings(QStringLiteral("PNG"), png);
    // Only orvik runs offscreen: this process chose its platform at start.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QProcess orvik;
    orvik.start(kBinDir.filePath(QStringLiteral("orvik")), arguments);
    QVERIFY(orvik.waitForFinished(60000));
    QCOMPARE(orvik.exitStatus(), QProcess::NormalExit);
    QCOMPARE(orvik.exitCode(), exitCode);
    QCOMPARE(orvik.readAllStandardOutput(), out);
    // Qt may add warnings of its own; orvik's messages start with its name.
    const QByteArray errors = orvik.readAllStandardError();
    QVERIFY2(err.isEmpty() ? !errors.contains("orvik:") : errors.contains(err), errors.constData());
    QImage image;
    QCOMPARE(image.load(png, "PNG"), arguments.contains(png));
    QVERIFY(image.isNull() || (image.width() >= 240 && image.height() > 100));
}

void tst_OrvikWifi::answers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("showPassword");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("accept-prints-the-network") << QStringLiteral("Accept") << false << 0 << QStringLiteral("Bakery\n");
    QTest::newRow("accept-with-password")
        << QStringLiteral("Accept") << true << 0 << QStringLiteral("Bakery\nhunter 2\n");
    QTest::newRow("cancel") << QStringLiteral("Cancel") << true << 1 << QString();
    QTest::newRow("window-closed") << QStringLiteral("close") << true << 1 << QString();
}

void tst_OrvikWifi::answers()
{
    QFETCH(QString, answer);
    QFETCH(bool, showPassword);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QLibrary plugin(kBinDir.filePath(QString::fromLatin1(kWifiDialogPluginName) + QStringLiteral(".so")));
    const auto entry = reinterpret_cast<WifiDialogEntry>(plugin.resolve(kWifiDialogEntrySymbol));
    QVERIFY2(entry, qPrintable(plugin.errorString()));
    FakeNetsh netsh(kListing);
    QVERIFY(netsh.isValid());

    // Waits for the first scan's list, then chooses, types and answers.
    QTimer user;
    connect(&user, &QTimer::timeout, this, [&] {
        for (QWidget *dialog : QApplication::topLevelWidgets()) {
            auto *combo = dialog->findChild<QCustomComboBox *>();
            if (!dialog->isVisible() || !combo || combo->count() < 2)
                continue;
            user.stop();
            combo->setCurrentIndex(1);
            dialog->findChild<QCustomLineEdit *>()->setText(QStringLiteral("hunter 2"));
            if (answer == QLatin1String("close"))
                dialog->close();
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                if (button->text() == answer)
                    button->click();
        }
    });
    user.start(20);

    WifiDialogRequest request;
    request.showPassword = showPassword;
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    QCOMPARE(entry(request, outStream, errStream), exitCode);
    QCOMPARE(out, output);
    QVERIFY(err.isEmpty());
    for (const QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!widget->isVisible());
}

QTEST_MAIN(tst_OrvikWifi)
#include "tst_orvikwifi.moc"
