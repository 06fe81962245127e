#include "apps/orvik/plugins/wifidialogplugin.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "tests/orvikprocess.h"
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakenetworkmanager.h"

#include <QApplication>
#include <QLibrary>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace ORVIK;

namespace {

const char *const kListing = "SSID 1 : Tram Stop\r\n    BSSID 1 : 00:11:22:33:44:55\r\n    Signal : 35%\r\n"
                             "SSID 2 : Bakery\r\n    Signal : 88%\r\nSSID 3 : \r\n    Signal : 50%\r\n";

// Cafe seen by two devices, more strongly by wlan1 (access point 3), and Home by wlan0.
const QList<FakeNetworkManager::Networks> kRadios = {{{"Cafe", 40}, {"Home", 60}}, {{"Cafe", 80}}};

// What NetworkManager is asked when Cafe is joined.
QString joinRequest(const QString &password)
{
    const QString security =
        QStringLiteral(", \"802-11-wireless-security\": {\"key-mgmt\": \"wpa-psk\", \"psk\": \"%1\"}");
    return QStringLiteral("AddAndActivateConnection {\"802-11-wireless\": {\"ssid\": [67, 97, 102, 101]}%1} "
                          "\"/org/freedesktop/NetworkManager/Devices/wlan1\" "
                          "\"/org/freedesktop/NetworkManager/AccessPoint/ap3\"")
        .arg(password.isEmpty() ? QString() : security.arg(password));
}

// What NetworkManager is asked when the hidden network Attic is joined: on wlan1, whose strongest
// access point is the strongest of all, with no access point named.
QString hiddenJoinRequest(const QString &password)
{
    return QStringLiteral("AddAndActivateConnection {\"802-11-wireless\": {\"hidden\": True, \"ssid\": [65, 116, "
                          "116, 105, 99]}, \"802-11-wireless-security\": {\"key-mgmt\": \"wpa-psk\", \"psk\": "
                          "\"%1\"}} \"/org/freedesktop/NetworkManager/Devices/wlan1\" \"/\"")
        .arg(password);
}

} // namespace

// `orvik wifi`: the command's uses as a program, the dialog's answers in process as a user gives them.
class tst_OrvikWifi : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_bus.isValid()); }
    void command_data();
    void command();
    void answers_data();
    void answers();

private:
    PrivateSystemBus m_bus; // without NetworkManager unless a test starts one
};

void tst_OrvikWifi::command_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("networkManager");
    QTest::addColumn<uint>("failReason"); // of every activation; 0 lets them succeed
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message"); // on standard output for 0, else on standard error
    QTest::addColumn<QString>("request");    // the one join request NetworkManager receives, if any

    // Without NetworkManager the command's listing, in its order; the hidden network is not listed.
    QTest::newRow("list-from-netsh") << QStringList{"wifi", "--list"} << false << 0u << 0
                                     << QByteArray("35\tTram Stop\n88\tBakery\n") << QString();
    // Qt's own warnings are back on request (standard error is otherwise empty on success).
    QTest::newRow("list-verbose") << QStringList{"wifi", "--verbose", "--list"} << false << 0u << 0
                                  << QByteArray("35\tTram Stop\n88\tBakery\n") << QString();
    const QStringList cafe = {"wifi", "--connect", "Cafe"};
    QTest::newRow("password-joins-on-the-strongest-device")
        << cafe + QStringList{"--password", "hunter 22"} << true << 0u << 0 << QByteArray("joined \"Cafe\" on wlan1\n")
        << joinRequest(QStringLiteral("hunter 22"));
    QTest::newRow("open-network-fails-with-the-reason")
        << cafe << true << 6u << 1
        << QByteArray("orvik: joining \"Cafe\" failed: the connection attempt timed out (NetworkManager reason 6)")
        << joinRequest(QString());
    QTest::newRow("unknown-ssid-asks-nothing") << QStringList{"wifi", "--connect", "Nowhere"} << true << 0u << 1
                                               << QByteArray("orvik: no WiFi device sees \"Nowhere\"") << QString();
    QTest::newRow("hidden-joins-on-the-device-with-the-best-link")
        << QStringList{"wifi", "--connect", "Attic", "--hidden", "--password", "pw 1"} << true << 0u << 0
        << QByteArray("joined \"Attic\" on wlan1\n") << hiddenJoinRequest(QStringLiteral("pw 1"));
    QTest::newRow("hidden-without-connect") << QStringList{"wifi", "--join", "--hidden"} << false << 0u << 2
                                            << QByteArray("orvik: wifi takes --connect SSID [--hidden]") << QString();
    QTest::newRow("without-networkmanager")
        << cafe << false << 0u << 1 << QByteArray("orvik: joining a WiFi network needs NetworkManager") << QString();
    QTest::newRow("password-without-connect") << QStringList{"wifi", "--list", "--password", "x"} << false << 0u << 2
                                              << QByteArray("orvik: wifi takes --connect SSID") << QString();
    // Nobody can press Accept or Cancel on the offscreen platform.
    QTest::newRow("no-display-to-answer")
        << QStringList{"wifi"} << false << 0u << 1 << QByteArray("orvik: wifi needs a display") << QString();
    // "DISPLAY=" first: orvik runs with that display and no platform chosen for it, as after a stale login.
    QTest::newRow("list-needs-no-reachable-display") << QStringList{"DISPLAY=:99", "wifi", "--list"} << false << 0u << 0
                                                     << QByteArray("35\tTram Stop\n88\tBakery\n") << QString();
    QTest::newRow("window-without-a-reachable-display")
        << QStringList{"DISPLAY=:99", "wifi"} << false << 0u << 1
        << QByteArray("\norvik: wifi cannot reach the display \":99\" to show its window\n") << QString();
    // "NETSH=" first: the stand-in netsh lists nothing.
    QTest::newRow("empty-list-without-networkmanager")
        << QStringList{"NETSH=", "wifi", "--list"} << false << 0u << 1
        << QByteArray("\norvik: no WiFi networks listed: NetworkManager is not running\n") << QString();
}

void tst_OrvikWifi::command()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, networkManager);
    QFETCH(uint, failReason);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QFETCH(QString, request);

    const bool emptyListing = arguments.constFirst() == QLatin1String("NETSH=");
    if (emptyListing)
        arguments.removeFirst();
    FakeNetsh netsh(emptyListing ? "" : kListing);
    QVERIFY(netsh.isValid());
    std::optional<FakeNetworkManager> fake;
    if (networkManager && !fake.emplace(kRadios).isValid())
        QSKIP("python3-dbusmock is not installed");
    // The stand-in's own activation needs an access point; a hidden network has none.
    if (failReason != 0 || arguments.contains(QStringLiteral("--hidden")))
        fake->scriptActivations(failReason);
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
    if (exitCode == 0 && arguments.contains(QStringLiteral("--verbose")))
        QVERIFY2(err.contains("QStandardPaths: XDG_RUNTIME_DIR not set"), err.constData());
    else if (exitCode == 0)
        QVERIFY2(err.isEmpty(), err.constData());
    if (fake)
        QCOMPARE(fake->log().filter(QRegularExpression(QStringLiteral("^AddAndActivateConnection "))),
                 request.isEmpty() ? QStringList() : QStringList{request});
}

void tst_OrvikWifi::answers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("showPassword");
    QTest::addColumn<bool>("join");     // through NetworkManager, which lists Cafe and Home
    QTest::addColumn<QString>("typed"); // typed over the chosen entry, if not empty
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("joinRequest"); // the one join request NetworkManager receives, if any

    const QString accept = QStringLiteral("Accept");
    QTest::newRow("accept-prints-the-network")
        << accept << false << false << QString() << 0 << QStringLiteral("Bakery\n") << QString();
    QTest::newRow("accept-with-password")
        << accept << true << false << QString() << 0 << QStringLiteral("Bakery\nhunter 2\n") << QString();
    QTest::newRow("accept-joins-the-network")
        << accept << false << true << QString() << 0 << QStringLiteral("joined \"Home\" on wlan0\n") << QString();
    QTest::newRow("accept-joins-a-typed-unlisted-name-as-hidden")
        << accept << false << true << QStringLiteral("Attic") << 0 << QStringLiteral("joined \"Attic\" on wlan1\n")
        << hiddenJoinRequest(QStringLiteral("hunter 2"));
    QTest::newRow("cancel") << QStringLiteral("Cancel") << true << false << QString() << 1 << QString() << QString();
    QTest::newRow("window-closed") << QStringLiteral("close") << true << false << QString() << 1 << QString()
                                   << QString();
}

void tst_OrvikWifi::answers()
{
    QFETCH(QString, answer);
    QFETCH(bool, showPassword);
    QFETCH(bool, join);
    QFETCH(QString, typed);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, joinRequest);

    std::optional<FakeNetworkManager> fake;
    if (join && !fake.emplace(kRadios).isValid())
        QSKIP("python3-dbusmock is not installed");
    if (!joinRequest.isEmpty())
        fake->scriptActivations(0);
    QLibrary plugin(orvikLibraryPath(QString::fromLatin1(kWifiDialogPluginName)));
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

    WifiDialogRequest request;
    request.showPassword = showPassword;
    request.join = join;
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    QCOMPARE(entry(request, outStream, errStream), exitCode);
    QCOMPARE(out, output);
    QVERIFY(err.isEmpty());
    for (const QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY(!widget->isVisible());
    if (!joinRequest.isEmpty())
        QCOMPARE(fake->log().filter(QRegularExpression(QStringLiteral("^AddAndActivateConnection "))),
                 QStringList{joinRequest});
}

QTEST_MAIN(tst_OrvikWifi)
#include "tst_orvikwifi.moc"
