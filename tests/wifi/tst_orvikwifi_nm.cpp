// Joining through NetworkManager: python3-dbusmock's on a private system bus.
#include "tests/orvikprocess.h"
#include "tests/wifi/fakenetsh.h"
#include "tests/wifi/fakenetworkmanager.h"
#include "tests/wifi/tst_orvikwifi.h"

#include <QRegularExpression>
#include <QTest>

#include <optional>

using namespace ORVIK;

namespace {

// Cafe seen by two devices, more strongly by wlan1 (access point 3), and Home by wlan0.
const QList<FakeNetworkManager::Networks> kRadios = {{{"Cafe", 40}, {"Home", 60}}, {{"Cafe", 80}}};

// What NetworkManager is asked when Cafe is joined on wlan1's access point 3, or the hidden network
// Attic on wlan1, whose strongest access point is the strongest of all, with no access point named.
QString joinRequest(const QString &password, bool hidden = false)
{
    const QString security =
        QStringLiteral(", \"802-11-wireless-security\": {\"key-mgmt\": \"wpa-psk\", \"psk\": \"%1\"}");
    return QStringLiteral("AddAndActivateConnection {\"802-11-wireless\": {%1}%2} "
                          "\"/org/freedesktop/NetworkManager/Devices/wlan1\" \"%3\"")
        .arg(hidden ? QStringLiteral("\"hidden\": True, \"ssid\": [65, 116, 116, 105, 99]")
                    : QStringLiteral("\"ssid\": [67, 97, 102, 101]"),
             password.isEmpty() ? QString() : security.arg(password),
             hidden ? QStringLiteral("/") : QStringLiteral("/org/freedesktop/NetworkManager/AccessPoint/ap3"));
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
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("networkManager");
    QTest::addColumn<uint>("failReason"); // of every activation; 0 lets them succeed
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message"); // on standard output for 0, else on standard error
    QTest::addColumn<QString>("request");    // the one join request NetworkManager receives, if any

    const auto row = [](const char *tag, const QStringList &arguments, bool networkManager, uint failReason,
                        int exitCode, const QByteArray &message, const QString &request = {}) {
        QTest::newRow(tag) << arguments << networkManager << failReason << exitCode << message << request;
    };
    const QStringList cafe = {"wifi", "--connect", "Cafe"};
    row("password-joins-on-the-strongest-device", cafe + QStringList{"--password", "hunter 22"}, true, 0, 0,
        "joined \"Cafe\" on wlan1\n", joinRequest(QStringLiteral("hunter 22")));
    row("open-network-fails-with-the-reason", cafe, true, 6, 1,
        "orvik: joining \"Cafe\" failed: the connection attempt timed out (NetworkManager reason 6)",
        joinRequest(QString()));
    row("unknown-ssid-asks-nothing", {"wifi", "--connect", "Nowhere"}, true, 0, 1,
        "orvik: no WiFi device sees \"Nowhere\"");
    row("hidden-joins-on-the-device-with-the-best-link",
        {"wifi", "--connect", "Attic", "--hidden", "--password", "pw 1"}, true, 0, 0, "joined \"Attic\" on wlan1\n",
        joinRequest(QStringLiteral("pw 1"), true));
    row("without-networkmanager", cafe, false, 0, 1, "orvik: joining a WiFi network needs NetworkManager");
    // Nobody can press Accept or Cancel on the offscreen platform.
    row("no-display-to-answer", {"wifi"}, false, 0, 1, "orvik: wifi needs a display");
}

void tst_OrvikWifi::join()
{
    QFETCH(QStringList, arguments);
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
    if (failReason != 0 || arguments.contains(QStringLiteral("--hidden")))
        fake->scriptActivations(failReason);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("QT_LOGGING_RULES");
    const OrvikRun orvik = runOrvik(arguments);
    QVERIFY2(orvik.exitCode == exitCode, orvik.err.constData());
    QVERIFY2((exitCode == 0 ? orvik.out : orvik.err).contains(message), orvik.err.constData());
    if (exitCode == 0)
        QVERIFY2(orvik.err.isEmpty(), orvik.err.constData());
    if (fake)
        QCOMPARE(joinRequests(*fake), request.isEmpty() ? QStringList() : QStringList{request});
}

void tst_OrvikWifi::answersJoin_data()
{
    QTest::addColumn<QString>("typed"); // typed over the chosen entry, if not empty
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("joinRequest"); // the one join request NetworkManager receives, if any

    QTest::newRow("accept-joins-the-network") << QString() << QStringLiteral("joined \"Home\" on wlan0\n") << QString();
    QTest::newRow("accept-joins-a-typed-unlisted-name-as-hidden")
        << QStringLiteral("Attic") << QStringLiteral("joined \"Attic\" on wlan1\n")
        << joinRequest(QStringLiteral("hunter 2"), true);
}

void tst_OrvikWifi::answersJoin()
{
    QFETCH(QString, typed);
    QFETCH(QString, output);
    QFETCH(QString, joinRequest);

    FakeNetworkManager fake(kRadios);
    if (!fake.isValid())
        QSKIP("python3-dbusmock is not installed");
    if (!joinRequest.isEmpty())
        fake.scriptActivations(0);
    FakeNetsh netsh(kListing);
    QVERIFY(netsh.isValid());
    WifiDialogRequest request;
    request.join = true;
    QString out, err;
    QCOMPARE(answerDialog(request, QStringLiteral("Accept"), typed, out, err), 0);
    QCOMPARE(out, output);
    QVERIFY2(err.isEmpty(), qPrintable(err));
    if (!joinRequest.isEmpty())
        QCOMPARE(joinRequests(fake), QStringList{joinRequest});
}
