#include "apps/orvik/plugins/wifijoin.h"

#include "apps/orvik/cli/errorline.h"
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
    QString message;
    switch (outcome.result) {
    case Outcome::Activated:
        out << "joined " << network << " on " << outcome.interfaceName << Qt::endl;
        return 0;
    case Outcome::NotRunning:
        message = QStringLiteral("joining a WiFi network needs NetworkManager, which is not on the system bus");
        break;
    case Outcome::NoAnswer:
        message = QStringLiteral("NetworkManager did not list its devices; %1 was not joined").arg(network);
        break;
    case Outcome::NoDevice:
        message = QStringLiteral("NetworkManager has no WiFi device to join %1 on").arg(network);
        break;
    case Outcome::NotSeen:
        message = QStringLiteral("no WiFi device sees %1; if it is hidden, add --hidden").arg(network);
        break;
    case Outcome::Refused:
        message = QStringLiteral("NetworkManager did not join %1: %2 (%3)")
                      .arg(network, outcome.errorMessage, outcome.errorName);
        break;
    case Outcome::Failed:
        message = QStringLiteral("joining %1 failed: %2 (NetworkManager reason %3)")
                      .arg(network, QLatin1String(reasonText(outcome.reason)), QString::number(outcome.reason));
        break;
    case Outcome::Unfinished:
        message = QStringLiteral("joining %1 did not finish within %2 s")
                      .arg(network, QString::number(NetworkManagerClient::ActivationTimeoutMs / 1000));
        break;
    }
    ErrorLine::print(err, message);
    return 1;
}

} // namespace ORVIK
