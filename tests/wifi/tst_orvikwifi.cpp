#include "tests/wifi/tst_orvikwifi.h"

#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakewlan.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
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

OrvikRun answerDialog(WifiDialogRequest request, const QString &answer, const QString &typed)
{
    QLibrary plugin(orvikLibraryPath(QString::fromLatin1(kWifiDialogPluginName)));
    const auto entry = reinterpret_cast<WifiDialogEntry>(plugin.resolve(kWifiDialogEntrySymbol));
    if (!entry)
        return OrvikRun{-1, {}, plugin.errorString().toUtf8(), {}};
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
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int exitCode = entry(request, outStream, errStream);
    for (const QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible())
            errStream << "a window is still shown: " << widget->metaObject()->className() << '\n';
    return OrvikRun{exitCode, out.toUtf8(), err.toUtf8(), {}};
}

OrvikRun acceptJoin(const QString &typed)
{
    WifiDialogRequest request;
    request.join = true;
    return answerDialog(request, QStringLiteral("Accept"), typed);
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
#ifdef Q_OS_WIN
    // No WLAN service, so the scan runs netsh: the system's, by its full path, not the planted one.
    row("planted-list-runs-the-system-netsh", {"PLANTED", "wifi", "--list"}, 0, listing);
    // The module loads and lists its registration: the WLAN API is loaded when a scan needs it.
    row("planted-module-loads", {"PLANTED", "module"}, 0, "");
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
    // Only orvik runs offscreen: this process chose its platform at start. Qt warns of XDG_RUNTIME_DIR missing.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("QT_LOGGING_RULES");
    OrvikSetup setup;
#ifdef Q_OS_WIN
    // "PLANTED" first: what an attacker would put in orvik's working folder, which runs and loads nothing from there.
    QTemporaryDir working;
    const QStringList planted = {QStringLiteral("wlanapi.dll"), QStringLiteral("netsh.exe")};
    if (arguments.constFirst() == QLatin1String("PLANTED")) {
        arguments.removeFirst();
        setup.workingDirectory = working.path();
        const QDir from(qEnvironmentVariable("ORVIK_PLANTED_DIR"));
        for (const QString &file : planted)
            QVERIFY2(QFile::copy(from.filePath(file), working.filePath(file)) &&
                         QFile::setPermissions(working.filePath(file), QFile::ReadOwner | QFile::WriteOwner),
                     qPrintable(from.filePath(file)));
    }
#endif
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
#ifdef Q_OS_WIN
    for (const QString &file : planted)
        QVERIFY2(!QFileInfo::exists(working.filePath(file + QLatin1String(".ran"))), qPrintable(file));
#endif
}

void tst_OrvikWifi::answers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("showPassword");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");

    const QString accept = QStringLiteral("Accept");
    QTest::newRow("accept-prints-the-network") << accept << false << 0 << QByteArray("Bakery\n");
    QTest::newRow("accept-with-password") << accept << true << 0 << QByteArray("Bakery\nhunter 2\n");
    QTest::newRow("cancel") << QStringLiteral("Cancel") << true << 1 << QByteArray();
    QTest::newRow("window-closed") << QStringLiteral("close") << true << 1 << QByteArray();
}

void tst_OrvikWifi::answers()
{
    QFETCH(QString, answer);
    QFETCH(bool, showPassword);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);

#ifdef Q_OS_WIN
    FakeWlan missing({}, 1062);
#endif
    FakeNetsh netsh(kListing);
    WifiDialogRequest request;
    request.showPassword = showPassword;
    const OrvikRun run = answerDialog(request, answer);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, output);
    QVERIFY2(run.err.isEmpty(), run.err.constData());
}

void tst_OrvikWifi::join_data()
{
    QTest::addColumn<QStringList>("arguments"); // of orvik; none: the dialog's Accept in process
    QTest::addColumn<QString>("typed");         // over the dialog's chosen entry, if not empty
    QTest::addColumn<bool>("service");          // the platform's WLAN service runs
    QTest::addColumn<uint>("failReason");       // of the connection; 0 lets it succeed
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");   // all of standard output for 0, else on standard error
    QTest::addColumn<QStringList>("received"); // what the service receives, as joinReceived tells it
    QTest::addColumn<QByteArray>("scenario");  // more lines of the stand-in wlanapi's scenario

    const auto row = [](const char *tag, const QStringList &arguments, bool service, uint failReason, int exitCode,
                        const QByteArray &message, const QStringList &received = {}, const QString &typed = {},
                        const QByteArray &scenario = {}) {
        QTest::newRow(tag) << arguments << typed << service << failReason << exitCode << message << received
                           << scenario;
    };
#ifdef Q_OS_WIN
    const QByteArray device = "Wireless adapter ";
    const uint failReason = 42;
    const QByteArray failure = "orvik: joining \"Cafe\" failed: the security key is wrong (WLAN reason 42)\n";
    const QByteArray noService = "orvik: joining a WiFi network needs the WLAN AutoConfig service";
#else
    const QByteArray device = "wlan";
    const uint failReason = 6;
    const QByteArray failure =
        "orvik: joining \"Cafe\" failed: the connection attempt timed out (NetworkManager reason 6)\n";
    const QByteArray noService = "orvik: joining a WiFi network needs NetworkManager";
#endif
    const auto joined = [&device](const QByteArray &network, int index) {
        return "joined \"" + network + "\" on " + device + QByteArray::number(index) + '\n';
    };
    const QStringList cafe = {"wifi", "--connect", "Cafe", "--password", "hunter <22>"};
    const QStringList cafeReceived = joinReceived(QStringLiteral("Cafe"), QStringLiteral("hunter <22>"), 1, false);
    row("password-joins-on-the-strongest-device", cafe, true, 0, 0, joined("Cafe", 1), cafeReceived);
    row("failure-told-with-the-reason", cafe, true, failReason, 1, failure, cafeReceived);
    // A name is printed as every text from outside is: no character of it moves the cursor.
    row("control-characters-of-a-name-are-printed-as-?", {"wifi", "--connect", "No\x1b[2Jwhere\u202e"}, true, 0, 1,
        "orvik: no WiFi device sees \"No?[2Jwhere?\"; if it is hidden, add --hidden\n");
    row("hidden-joins-on-the-device-with-the-best-link",
        {"wifi", "--connect", "Attic", "--hidden", "--password", "pw 1"}, true, 0, 0, joined("Attic", 1),
        joinReceived(QStringLiteral("Attic"), QStringLiteral("pw 1"), 1, true));
    row("without-the-service", cafe, false, 0, 1, noService);
    // The dialog types the password "hunter 2".
    row("accept-joins-the-network", {}, true, 0, 0, joined("Home", 0),
        joinReceived(QStringLiteral("Home"), QStringLiteral("hunter 2"), 0, false));
    row("accept-joins-a-typed-unlisted-name-as-hidden", {}, true, 0, 0, joined("Attic", 1),
        joinReceived(QStringLiteral("Attic"), QStringLiteral("hunter 2"), 1, true), QStringLiteral("Attic"));
#ifdef Q_OS_WIN
    // WPA3-Personal, and the WPA2 side of a transition network, with one profile. Fault: SAE made WPA2PSK.
    row("wpa3-personal-gets-sae-in-transition-mode", {"wifi", "--connect", "Sae", "--password", "pw"}, true, 0, 0,
        joined("Sae", 0),
        {"<authentication>WPA3SAE</authentication><encryption>AES</encryption><useOneX>false</useOneX>"
         "<transitionMode xmlns=\"http://www.microsoft.com/networking/WLAN/profile/v4\">true</transitionMode>"
         "</authEncryption><sharedKey>",
         "connect 0 mode=0 profile=Sae flags=0"});
    // Faults: a WEP or 802.1X network given a pre-shared-key profile that cannot work.
    row("wep-refused", {"wifi", "--connect", "Wep", "--password", "pw"}, true, 0, 1,
        "orvik: \"Wep\" was not joined: it uses WEP");
    row("enterprise-refused", {"wifi", "--connect", "Corp", "--password", "pw"}, true, 0, 1,
        "orvik: \"Corp\" was not joined: it is an enterprise (802.1X) network");
    // The name as UTF-8 from the UTF-16 command line, whatever the ANSI code page. Fault: the ANSI
    // code page's bytes (E9 for the e with acute in Wine's 1252), which no device sees.
    row("name-taken-as-utf8", {"wifi", "--connect", QStringLiteral("Caf\u00E9"), "--password", "pw"}, true, 0, 0,
        joined("Caf\xC3\xA9", 0), joinReceived(QStringLiteral("Caf\u00E9"), QStringLiteral("pw"), 0, false));
    // Windows 11 with location access off for desktop apps refuses scans and lists. Faults: an empty
    // list with exit 0; "no WiFi device sees" when joining.
    const QByteArray locationOff = "orvik: Location access is off for desktop apps: Settings > Privacy & security > "
                                   "Location > Let desktop apps access your location\n";
    row("list-with-location-off", {"wifi", "--list"}, true, 0, 1, locationOff, {}, {}, "listing 5\n");
    row("join-with-location-off", cafe, true, 0, 1, locationOff, {}, {}, "listing 5\n");
    // A network with a profile needs no list: joined with that profile, none set. Fault: the location
    // message though a profile is there.
    row("join-with-location-off-and-a-profile", cafe, true, 0, 0, joined("Cafe", 1), {cafeReceived.constLast()}, {},
        "listing 5\nprofile 1 Cafe\n");
    // Windows lists a network once per profile and once without: the same network, joined once.
    row("listed-per-profile-and-without", cafe, true, 0, 0, joined("Cafe", 1), cafeReceived, {}, "profile 1 Cafe\n");
    row("radios-switched-off", cafe, true, 0, 1, "orvik: the WiFi radio is switched off; \"Cafe\" was not joined", {},
        {}, "radio-off 0\nradio-off 1\n");
#else
    row("open-network-joined-without-security", {"wifi", "--connect", "Cafe"}, true, 0, 0, joined("Cafe", 1),
        joinReceived(QStringLiteral("Cafe"), QString(), 1, false));
    // Nobody can press Accept or Cancel on the offscreen platform.
    row("no-display-to-answer", {"wifi"}, false, 0, 1, "orvik: wifi needs a display");
#endif
}

QTEST_MAIN(tst_OrvikWifi)
