#include "tests/wifi/tst_orvikwifi.h"

#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakewlan.h"

#include <QApplication>
#include <QLibrary>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace ORVIK;

namespace ORVIK {

const char *const kListing = "SSID 1 : Tram Stop\r\n    BSSID 1 : 00:11:22:33:44:55\r\n    Signal : 35%\r\n"
                             "SSID 2 : Bakery\r\n    Signal : 88%\r\nSSID 3 : \r\n    Signal : 50%\r\n";

int answerDialog(WifiDialogRequest request, const QString &answer, const QString &typed, QString &out, QString &err)
{
    QLibrary plugin(orvikLibraryPath(QString::fromLatin1(kWifiDialogPluginName)));
    const auto entry = reinterpret_cast<WifiDialogEntry>(plugin.resolve(kWifiDialogEntrySymbol));
    if (!entry) {
        err = plugin.errorString();
        return -1;
    }
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget *dialog : QApplication::topLevelWidgets()) {
            auto *combo = dialog->findChild<QCustomComboBox *>();
            if (!dialog->isVisible() || !combo || combo->count() < 2)
                continue;
            user.stop();
            combo->setCurrentIndex(1);
            if (!typed.isEmpty()) {
                combo->lineEdit()->selectAll();
                QTest::keyClicks(combo->lineEdit(), typed);
            }
            dialog->findChild<QCustomLineEdit *>()->setText(QStringLiteral("hunter 2"));
            if (answer == QLatin1String("close"))
                dialog->close();
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                if (button->text() == answer)
                    button->click();
        }
    });
    user.start(20);
    QTextStream outStream(&out), errStream(&err);
    const int exitCode = entry(request, outStream, errStream);
    for (const QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            errStream << "a window is still shown: " << widget->metaObject()->className() << '\n';
    return exitCode;
}

OrvikRun acceptJoin(const QString &typed)
{
    WifiDialogRequest request;
    request.join = true;
    QString out, err;
    OrvikRun run;
    run.exitCode = answerDialog(request, QStringLiteral("Accept"), typed, out, err);
    run.out = out.toUtf8();
    run.err = err.toUtf8();
    return run;
}

} // namespace ORVIK

void tst_OrvikWifi::command_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message"); // on standard output for 0, else on standard error

    const auto row = [](const char *tag, const QStringList &arguments, int exitCode, const QByteArray &message) {
        QTest::newRow(tag) << arguments << exitCode << message;
    };
    const QByteArray listing = "35\tTram Stop\n88\tBakery\n";
#ifdef Q_OS_WIN
    // Run by CTest as tst_orvikwifi_no_wlan_api, with Wine's wlanapi=d: a Windows without the WLAN API,
    // as Windows Server is without its Wireless LAN feature. Only these rows then.
    if (qEnvironmentVariableIsSet("ORVIK_NO_WLAN_API")) {
        row("no-wlan-api-lists-from-netsh", {"wifi", "--list"}, 0, listing);
        row("no-wlan-api-names-the-reason", {"NETSH=", "wifi", "--list"}, 1,
            "\norvik: no WiFi networks listed: this Windows has no WLAN service (no wlanapi.dll: the Wireless LAN "
            "feature is not installed)\n");
        return;
    }
#endif
    // Without the WLAN service the command's listing, in its order; the hidden network is not listed.
    row("list-from-netsh", {"wifi", "--list"}, 0, listing);
    // Qt's own warnings are back on request (standard error is otherwise empty on success).
    row("list-verbose", {"wifi", "--verbose", "--list"}, 0, listing);
    row("hidden-without-connect", {"wifi", "--join", "--hidden"}, 2, "orvik: wifi takes --connect SSID [--hidden]");
    row("password-without-connect", {"wifi", "--list", "--password", "x"}, 2, "orvik: wifi takes --connect SSID");
    // "DISPLAY=" first: orvik runs with that display and no platform chosen for it, as after a stale login.
    row("list-needs-no-reachable-display", {"DISPLAY=:99", "wifi", "--list"}, 0, listing);
    // "NETSH=" first: the stand-in netsh lists nothing, and the platform's service (missing here) says why.
#ifdef Q_OS_WIN
    row("empty-list-names-the-reason", {"NETSH=", "wifi", "--list"}, 1,
        "\norvik: no WiFi networks listed: the WLAN AutoConfig service is not running (WlanOpenHandle: error 1062)\n");
#else
    row("window-without-a-reachable-display", {"DISPLAY=:99", "wifi"}, 1,
        "\norvik: wifi cannot reach the display \":99\" to show its window\n");
    row("empty-list-names-the-reason", {"NETSH=", "wifi", "--list"}, 1,
        "\norvik: no WiFi networks listed: NetworkManager is not running\n");
    // An empty picture whose cause is known is no success either.
    row("empty-screenshot-names-the-reason", {"NETSH=", "wifi", "--screenshot", "SHOT"}, 1,
        "\norvik: no WiFi networks listed: NetworkManager is not running\n");
    // Help is printed, never shown: the display that cannot be reached plays no part.
    row("help-all-opens-no-window", {"DISPLAY=:99", "wifi", "--help-all"}, 0, "usage: orvik wifi [options]\n");
    row("join-help-opens-no-window", {"DISPLAY=:99", "wifi", "--join", "-h"}, 0, "usage: orvik wifi [options]\n");
#endif
    row("extra-argument", {"wifi", "--list", "now"}, 2,
        "\norvik: wifi takes no arguments, and \"now\" was given; orvik wifi --help lists the options\n");
}

void tst_OrvikWifi::command()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);

#ifdef Q_OS_WIN
    FakeWlan missing({}, 1062); // elsewhere the private system bus has no NetworkManager
#endif
    const bool emptyListing = arguments.constFirst() == QLatin1String("NETSH=");
    if (emptyListing)
        arguments.removeFirst();
    FakeNetsh netsh(emptyListing ? "" : kListing);
    QTemporaryDir pictures;
    arguments.replaceInStrings(QStringLiteral("SHOT"), pictures.filePath(QStringLiteral("shot.png")));
    QVERIFY(netsh.isValid());
    // Only orvik runs offscreen: this process chose its platform at start. Qt warns of XDG_RUNTIME_DIR missing.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("QT_LOGGING_RULES");
    OrvikSetup setup;
    if (arguments.constFirst().startsWith(QLatin1String("DISPLAY="))) {
        setup.environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        setup.environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        setup.environment.insert(QStringLiteral("DISPLAY"), arguments.takeFirst().mid(8));
    }
    const OrvikRun orvik = runOrvik(arguments, 60000, setup);
    const QByteArray &err = orvik.err;
    QVERIFY2(orvik.exitCode == exitCode, err.constData());
    QVERIFY2((exitCode == 0 ? orvik.out : '\n' + err).contains(message), err.constData());
#ifndef Q_OS_WIN // Windows has no XDG_RUNTIME_DIR to miss
    if (exitCode == 0 && arguments.contains(QStringLiteral("--verbose")))
        QVERIFY2(err.contains("QStandardPaths: XDG_RUNTIME_DIR not set"), err.constData());
    else
#endif
        if (exitCode == 0)
        QVERIFY2(err.isEmpty(), err.constData());
}

void tst_OrvikWifi::answers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("showPassword");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    const QString accept = QStringLiteral("Accept");
    QTest::newRow("accept-prints-the-network") << accept << false << 0 << QStringLiteral("Bakery\n");
    QTest::newRow("accept-with-password") << accept << true << 0 << QStringLiteral("Bakery\nhunter 2\n");
    QTest::newRow("cancel") << QStringLiteral("Cancel") << true << 1 << QString();
    QTest::newRow("window-closed") << QStringLiteral("close") << true << 1 << QString();
}

void tst_OrvikWifi::answers()
{
    QFETCH(QString, answer);
    QFETCH(bool, showPassword);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

#ifdef Q_OS_WIN
    FakeWlan missing({}, 1062);
#endif
    FakeNetsh netsh(kListing);
    QVERIFY(netsh.isValid());
    WifiDialogRequest request;
    request.showPassword = showPassword;
    QString out, err;
    QCOMPARE(answerDialog(request, answer, QString(), out, err), exitCode);
    QCOMPARE(out, output);
    QVERIFY2(err.isEmpty(), qPrintable(err));
}

QTEST_MAIN(tst_OrvikWifi)
