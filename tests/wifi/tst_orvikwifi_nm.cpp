// Joining through NetworkManager: python3-dbusmock's on a private system bus.
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakenetworkmanager.h"
#include "tests/wifi/tst_orvikwifi.h"

#include <QRegularExpression>
#include <QTest>

#include <optional>

using namespace ORVIK;

namespace {

// Cafe seen by two devices, more strongly by wlan1 (access point 3), and Home by wlan0 (access point 2).
const QList<FakeNetworkManager::Networks> kRadios = {{{"Cafe", 40}, {"Home", 60}}, {{"Cafe", 80}}};

// What NetworkManager is asked when `network` is joined with `password` (none: an open network) on the
// device wlanN at its access point apM; M = 0 joins it as a hidden network, with no access point named.
QString joinRequest(const QByteArray &network, const QString &password, int device, int accessPoint)
{
    QStringList ssid;
    for (const char byte : network)
        ssid << QString::number(byte);
    const QString security =
        QStringLiteral(", \"802-11-wireless-security\": {\"key-mgmt\": \"wpa-psk\", \"psk\": \"%1\"}");
    return QStringLiteral("AddAndActivateConnection {\"802-11-wireless\": {%1\"ssid\": [%2]}%3} "
                          "\"/org/freedesktop/NetworkManager/Devices/wlan%4\" \"%5\"")
        .arg(accessPoint == 0 ? QStringLiteral("\"hidden\": True, ") : QString(), ssid.join(QStringLiteral(", ")),
             password.isEmpty() ? QString() : security.arg(password), QString::number(device),
             accessPoint == 0 ? QStringLiteral("/")
                              : QStringLiteral("/org/freedesktop/NetworkManager/AccessPoint/ap%1").arg(accessPoint));
}

QStringList joinRequests(const FakeNetworkManager &fake)
{
    return fake.log().filter(QRegularExpression(QStringLiteral("^AddAndActivateConnection ")));
}

} // namespace

// A private system bus for the whole run, without NetworkManager unless a row starts one. It comes
// first: Qt keeps its first connection to the system bus, which the dialog's scan in process makes.
void tst_OrvikWifi::initTestCase()
{
    static const PrivateSystemBus bus;
    QVERIFY(bus.isValid());
}

void tst_OrvikWifi::join_data()
{
    QTest::addColumn<QStringList>("arguments"); // of orvik; none: the dialog's Accept in process
    QTest::addColumn<QString>("typed");         // over the dialog's chosen entry, if not empty
    QTest::addColumn<bool>("networkManager");
    QTest::addColumn<uint>("failReason"); // of every activation; 0 lets them succeed
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message"); // all of standard output for 0, else on standard error
    QTest::addColumn<QString>("request");    // the one join request NetworkManager receives, if any

    const auto row = [](const char *tag, const QStringList &arguments, bool networkManager, uint failReason,
                        int exitCode, const QByteArray &message, const QString &request = {},
                        const QString &typed = {}) {
        QTest::newRow(tag) << arguments << typed << networkManager << failReason << exitCode << message << request;
    };
    const QStringList cafe = {"wifi", "--connect", "Cafe"};
    row("password-joins-on-the-strongest-device", cafe + QStringList{"--password", "hunter 22"}, true, 0, 0,
        "joined \"Cafe\" on wlan1\n", joinRequest("Cafe", QStringLiteral("hunter 22"), 1, 3));
    row("open-network-fails-with-the-reason", cafe, true, 6, 1,
        "orvik: joining \"Cafe\" failed: the connection attempt timed out (NetworkManager reason 6)\n",
        joinRequest("Cafe", QString(), 1, 3));
    // A name is printed as every text from outside is: no character of it moves the cursor.
    row("control-characters-of-a-name-are-printed-as-?", {"wifi", "--connect", "No\x1b[2Jwhere\u202e"}, true, 0, 1,
        "orvik: no WiFi device sees \"No?[2Jwhere?\"; if it is hidden, add --hidden\n");
    row("hidden-joins-on-the-device-with-the-best-link",
        {"wifi", "--connect", "Attic", "--hidden", "--password", "pw 1"}, true, 0, 0, "joined \"Attic\" on wlan1\n",
        joinRequest("Attic", QStringLiteral("pw 1"), 1, 0));
    row("without-networkmanager", cafe, false, 0, 1, "orvik: joining a WiFi network needs NetworkManager");
    // Nobody can press Accept or Cancel on the offscreen platform.
    row("no-display-to-answer", {"wifi"}, false, 0, 1, "orvik: wifi needs a display");
    // The dialog types the password "hunter 2".
    row("accept-joins-the-network", {}, true, 0, 0, "joined \"Home\" on wlan0\n",
        joinRequest("Home", QStringLiteral("hunter 2"), 0, 2));
    row("accept-joins-a-typed-unlisted-name-as-hidden", {}, true, 0, 0, "joined \"Attic\" on wlan1\n",
        joinRequest("Attic", QStringLiteral("hunter 2"), 1, 0), QStringLiteral("Attic"));
}

void tst_OrvikWifi::join()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, typed);
    QFETCH(bool, networkManager);
    QFETCH(uint, failReason);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QFETCH(QString, request);

    FakeNetsh netsh(kListing);
    QVERIFY(netsh.isValid());
    std::optional<FakeNetworkManager> fake;
    if (networkManager && !fake.emplace(kRadios).isValid())
        QSKIP("python3-dbusmock is not installed");
    // The stand-in's own activation needs an access point; a hidden network has none.
    if (failReason != 0 || arguments.contains(QStringLiteral("--hidden")) || !typed.isEmpty())
        fake->scriptActivations(failReason);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("QT_LOGGING_RULES");
    const OrvikRun orvik = arguments.isEmpty() ? acceptJoin(typed) : runOrvik(arguments);
    QVERIFY2(orvik.exitCode == exitCode, orvik.err.constData());
    if (exitCode == 0)
        QVERIFY2(orvik.out == message && orvik.err.isEmpty(), (orvik.out + orvik.err).constData());
    else
        // A message that ends its line is one whole line of standard error.
        QVERIFY2(message.endsWith('\n') ? ('\n' + orvik.err).contains('\n' + message) : orvik.err.contains(message),
                 orvik.err.constData());
    if (fake)
        QCOMPARE(joinRequests(*fake), request.isEmpty() ? QStringList() : QStringList{request});
}
