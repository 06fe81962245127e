#include "apps/orvik/plugins/wifijoin.h"

#include "wifi/networkmanagerclient.h"

#include <QDBusConnection>

#include <iterator>

namespace ORVIK {

namespace {

// NetworkManager's reasons why an active connection changed state, by number.
const char *const kReasons[] = {
    "unknown reason",
    "no reason given",
    "disconnected by the user",
    "the device disconnected",
    "the service providing the VPN stopped",
    "the IP configuration was invalid",
    "the connection attempt timed out",
    "the VPN service did not start in time",
    "the VPN service did not start",
    "no valid secrets: the password is missing or wrong",
    "the login failed",
    "the connection was removed",
    "a connection that it depends on failed",
    "the device could not be set up",
    "the device was removed",
};

const char *reasonText(uint reason)
{
    return reason < std::size(kReasons) ? kReasons[reason] : kReasons[0];
}

} // namespace

int joinWifiNetwork(const QByteArray &ssid, const QString &password, bool hidden, QTextStream &out, QTextStream &err)
{
    using Outcome = NetworkManagerClient::JoinOutcome;
    const QString network = QLatin1Char('"') + QString::fromUtf8(ssid) + QLatin1Char('"');
    NetworkManagerClient client(QDBusConnection::systemBus());
    const Outcome outcome = client.join(ssid, password, hidden);
    switch (outcome.result) {
    case Outcome::Activated:
        out << "joined " << network << " on " << outcome.interfaceName << Qt::endl;
        return 0;
    case Outcome::NotRunning:
        err << "orvik: joining a WiFi network needs NetworkManager, which is not on the system bus" << Qt::endl;
        break;
    case Outcome::NoAnswer:
        err << "orvik: NetworkManager did not list its devices; " << network << " was not joined" << Qt::endl;
        break;
    case Outcome::NoDevice:
        err << "orvik: NetworkManager has no WiFi device to join " << network << " on" << Qt::endl;
        break;
    case Outcome::NotSeen:
        err << "orvik: no WiFi device sees " << network << "; if it is hidden, add --hidden" << Qt::endl;
        break;
    case Outcome::Refused:
        err << "orvik: NetworkManager did not join " << network << ": " << outcome.errorMessage << " ("
            << outcome.errorName << ")" << Qt::endl;
        break;
    case Outcome::Failed:
        err << "orvik: joining " << network << " failed: " << reasonText(outcome.reason) << " (NetworkManager reason "
            << outcome.reason << ")" << Qt::endl;
        break;
    case Outcome::Unfinished:
        err << "orvik: joining " << network << " did not finish within "
            << NetworkManagerClient::ActivationTimeoutMs / 1000 << " s" << Qt::endl;
        break;
    }
    return 1;
}

} // namespace ORVIK
