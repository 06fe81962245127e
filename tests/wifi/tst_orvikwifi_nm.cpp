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

} // namespace

// What NetworkManager is asked: the device wlanN at the access point that sees the network, numbered as
// the stand-in adds them; a hidden network with none named. Without a password, an open network.
QStringList ORVIK::joinReceived(const QString &network, const QString &password, int device, bool hidden)
{
    int accessPoint = 0;
    for (int seen = 0; seen < device; ++seen)
        accessPoint += int(kRadios[seen].size());
    for (qsizetype i = 0; i < kRadios[device].size(); ++i)
        accessPoint += kRadios[device][i].ssid == network.toUtf8() ? int(i) + 1 : 0;
    QStringList ssid;
    for (const char byte : network.toUtf8())
        ssid << QString::number(byte);
    const QString security =
        QStringLiteral(", \"802-11-wireless-security\": {\"key-mgmt\": \"wpa-psk\", \"psk\": \"%1\"}");
    return {QStringLiteral("AddAndActivateConnection {\"802-11-wireless\": {%1\"ssid\": [%2]}%3} "
                           "\"/org/freedesktop/NetworkManager/Devices/wlan%4\" \"%5\"")
                .arg(hidden ? QStringLiteral("\"hidden\": True, ") : QString(), ssid.join(QStringLiteral(", ")),
                     password.isEmpty() ? QString() : security.arg(password), QString::number(device),
                     hidden ? QStringLiteral("/")
                            : QStringLiteral("/org/freedesktop/NetworkManager/AccessPoint/ap%1").arg(accessPoint))};
}

// A private system bus for the whole run, without NetworkManager unless a row starts one. It comes
// first: Qt keeps its first connection to the system bus, which the dialog's scan in process makes.
void tst_OrvikWifi::initTestCase()
{
    static const PrivateSystemBus bus;
    QVERIFY(bus.isValid());
}

void tst_OrvikWifi::join()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, typed);
    QFETCH(bool, service);
    QFETCH(uint, failReason);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, received);

    FakeNetsh netsh(kListing);
    std::optional<FakeNetworkManager> fake;
    if (service && !fake.emplace(kRadios).isValid())
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
        QCOMPARE(fake->log().filter(QRegularExpression(QStringLiteral("^AddAndActivateConnection "))), received);
}
