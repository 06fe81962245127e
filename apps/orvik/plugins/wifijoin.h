#pragma once

#include <QByteArray>
#include <QString>
#include <QTextStream>

namespace ORVIK {

// What Windows 11 (24H2 on) means when it refuses a desktop program the list of networks.
constexpr const char *kLocationAccessOff = "Location access is off for desktop apps: Settings > Privacy & security > "
                                           "Location > Let desktop apps access your location";

// Joins a WiFi network through NetworkManager on the system bus, with WPA-PSK when a password is
// given, and marked hidden when asked: then a network that no device lists is joined on the WiFi
// device with the best link. Prints the outcome and returns the exit code: 0 once activated, else
// 1. Whether the user may join is polkit's decision, which NetworkManager reports as an error.
int joinWifiNetwork(const QByteArray &ssid, const QString &password, bool hidden, QTextStream &out, QTextStream &err);

} // namespace ORVIK
