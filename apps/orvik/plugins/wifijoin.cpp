#include "apps/orvik/plugins/wifijoin.h"

#include "apps/orvik/cli/errorline.h"

namespace ORVIK {

QString joinMessage(const QByteArray &ssid, const WifiJoinOutcome &outcome)
{
    using Result = WifiJoinOutcome::Result;
    const QString network = QLatin1Char('"') + QString::fromUtf8(ssid) + QLatin1Char('"');
    const bool nm = outcome.service == WifiJoinOutcome::Service::NetworkManager;
    const QString code = QString::number(outcome.code);
    switch (outcome.result) {
    case Result::Joined:
        break;
    case Result::NotAName:
        return network + QStringLiteral(" is not a WiFi network name (1 to 32 bytes)");
    case Result::NoService:
        return nm ? QStringLiteral("joining a WiFi network needs NetworkManager, which is not on the system bus")
                  : QStringLiteral("joining a WiFi network needs the WLAN API, which this Windows lacks "
                                   "(Wireless LAN feature)");
    case Result::ServiceNotOpened:
        return QStringLiteral("joining a WiFi network needs the WLAN AutoConfig service (WlanOpenHandle: error %1)")
            .arg(code);
    case Result::InterfacesNotListed:
        return nm ? QStringLiteral("NetworkManager did not list its devices; %1 was not joined").arg(network)
                  : QStringLiteral("the WLAN service did not list its interfaces (error %1); %2 was not joined")
                        .arg(code, network);
    case Result::NoInterface:
        return nm ? QStringLiteral("NetworkManager has no WiFi device to join %1 on").arg(network)
                  : QStringLiteral("there is no WiFi interface to join %1 on").arg(network);
    case Result::NotFollowed:
        return QStringLiteral("cannot follow the WLAN service's notifications (error %1); %2 was not joined")
            .arg(code, network);
    case Result::LocationOff:
        return QLatin1String(kLocationAccessOff);
    case Result::RadioOff:
        return QStringLiteral("the WiFi radio is switched off; %1 was not joined").arg(network);
    case Result::NotSeen:
        return QStringLiteral("no WiFi device sees %1; if it is hidden, add --hidden").arg(network);
    case Result::UsesWep:
        return QStringLiteral("%1 was not joined: it uses WEP, which is broken and which this program does not set up")
            .arg(network);
    case Result::Enterprise:
        return QStringLiteral("%1 was not joined: it is an enterprise (802.1X) network, whose sign-in a password "
                              "alone cannot make: join it in Windows' settings")
            .arg(network);
    case Result::ProfileRefused:
        return QStringLiteral("the WLAN service refused a profile for %1: %2").arg(network, outcome.detail);
    case Result::Refused:
        return nm ? QStringLiteral("NetworkManager did not join %1: %2 (%3)")
                        .arg(network, outcome.detail, outcome.errorName)
                  : QStringLiteral("the WLAN service did not join %1 (error %2)").arg(network, code);
    case Result::Failed:
        return QStringLiteral("joining %1 failed: %2 (%3 reason %4)")
            .arg(network, outcome.detail, nm ? QStringLiteral("NetworkManager") : QStringLiteral("WLAN"), code);
    case Result::Unfinished:
        return QStringLiteral("joining %1 did not finish within %2 s").arg(network, QString::number(outcome.seconds));
    }
    return QString();
}

int joinWifiNetwork(const QByteArray &ssid, const QString &password, bool hidden, QTextStream &out, QTextStream &err)
{
    const WifiJoinOutcome outcome = joinWifi(ssid, password, hidden);
    if (outcome.result == WifiJoinOutcome::Result::Joined) {
        out << "joined \"" << QString::fromUtf8(ssid) << "\" on " << outcome.interfaceName << Qt::endl;
        return 0;
    }
    ErrorLine::print(err, joinMessage(ssid, outcome));
    return 1;
}

} // namespace ORVIK
