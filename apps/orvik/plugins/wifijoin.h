#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

namespace ORVIK {

// How a join ended, on either system: what went wrong as a code, with the details that its text
// names. Each system's join returns the codes that it can meet; joinMessage() writes every text.
struct WifiJoinOutcome
{
    enum class Result {
        Joined,              // on `interfaceName`
        NotAName,            // the name is empty or longer than 32 bytes
        NoService,           // NetworkManager is not on the system bus; Windows has no WLAN API
        ServiceNotOpened,    // the WLAN service refused a handle (`code`)
        InterfacesNotListed, // the service did not list its devices (`code` on Windows)
        NoInterface,         // no WiFi device or interface
        NotFollowed,         // the WLAN service's notifications cannot be followed (`code`)
        LocationOff,         // Windows withholds what the radio sees
        RadioOff,            // every WiFi radio is switched off
        NotSeen,             // no device lists the network, which is not marked hidden
        UsesWep,             // a network of broken security, never set up here
        Enterprise,          // an 802.1X network, which a password alone cannot join
        ProfileRefused,      // the WLAN service refused the profile (`detail`: why)
        Refused,             // the service refused the join (`code`; NetworkManager: `detail`, `errorName`)
        Failed,              // the attempt failed for reason `code`, told as `detail`
        Unfinished,          // no end within `seconds`
    };
    // Which system's service answered: the texts name it.
    enum class Service { NetworkManager, Wlan };

    Service service = Service::NetworkManager;
    Result result = Result::NoService;
    QString interfaceName;
    QString detail;
    QString errorName;
    quint32 code = 0;
    int seconds = 0;
};

// What Windows 11 (24H2 on) means when it refuses a desktop program the list of networks.
constexpr const char *kLocationAccessOff = "Location access is off for desktop apps: Settings > Privacy & security > "
                                           "Location > Let desktop apps access your location";

// Joins a WiFi network through the system's service: NetworkManager on the system bus, or the WLAN
// API on Windows. With a password the network is joined with WPA-PSK (WPA3-SAE where Windows
// reports it), without one as an open network; marked hidden, a network that no device lists is
// joined on the device with the best link. Whether the user may join is the system's decision
// (polkit's), reported as a refusal. One file per system implements it.
WifiJoinOutcome joinWifi(const QByteArray &ssid, const QString &password, bool hidden);

// The one text of an outcome other than Joined, naming the network as `"ssid"`.
QString joinMessage(const QByteArray &ssid, const WifiJoinOutcome &outcome);

// Joins, prints the outcome (the interface on `out`, a failure through ErrorLine on `err`) and
// returns the exit code: 0 once joined, else 1.
int joinWifiNetwork(const QByteArray &ssid, const QString &password, bool hidden, QTextStream &out, QTextStream &err);

} // namespace ORVIK
