// Joining outside Windows: NetworkManager on the system bus.
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

WifiJoinOutcome joinWifi(const QByteArray &ssid, const QString &password, bool hidden)
{
    using Client = NetworkManagerClient::JoinOutcome;
    using Result = WifiJoinOutcome::Result;
    NetworkManagerClient client(QDBusConnection::systemBus());
    const Client joined = client.join(ssid, password, hidden);
    WifiJoinOutcome outcome;
    switch (joined.result) {
    case Client::Activated:
        outcome.result = Result::Joined;
        outcome.interfaceName = joined.interfaceName;
        break;
    case Client::NotRunning:
        outcome.result = Result::NoService;
        break;
    case Client::NoAnswer:
        outcome.result = Result::InterfacesNotListed;
        break;
    case Client::NoDevice:
        outcome.result = Result::NoInterface;
        break;
    case Client::NotSeen:
        outcome.result = Result::NotSeen;
        break;
    case Client::Refused:
        outcome.result = Result::Refused;
        outcome.detail = joined.errorMessage;
        outcome.errorName = joined.errorName;
        break;
    case Client::Failed:
        outcome.result = Result::Failed;
        outcome.code = joined.reason;
        outcome.detail = QLatin1String(reasonText(joined.reason));
        break;
    case Client::Unfinished:
        outcome.result = Result::Unfinished;
        outcome.seconds = NetworkManagerClient::ActivationTimeoutMs / 1000;
        break;
    }
    return outcome;
}

} // namespace ORVIK
