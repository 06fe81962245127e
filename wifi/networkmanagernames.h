#pragma once

// NetworkManager's D-Bus names, shared by the module's WiFi scan and the host's join code: constants
// and one inline question, so including this exports nothing.

#include <QDBusConnection>
#include <QDBusMessage>

namespace ORVIK::NetworkManagerNames {

inline constexpr const char *kService = "org.freedesktop.NetworkManager";
inline constexpr const char *kManagerPath = "/org/freedesktop/NetworkManager";
inline constexpr const char *kManagerInterface = "org.freedesktop.NetworkManager";
inline constexpr const char *kDeviceInterface = "org.freedesktop.NetworkManager.Device";
inline constexpr const char *kWirelessInterface = "org.freedesktop.NetworkManager.Device.Wireless";
inline constexpr const char *kAccessPointInterface = "org.freedesktop.NetworkManager.AccessPoint";
inline constexpr const char *kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
inline constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";
// The DeviceType of a WiFi device.
inline constexpr unsigned kDeviceTypeWifi = 2;

// Whether NetworkManager has an owner on the bus; a bus that does not answer in time says no.
inline bool networkManagerRuns(const QDBusConnection &bus, int timeoutMs)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage hasOwner =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    hasOwner << QString::fromLatin1(kService);
    const QDBusMessage reply = bus.call(hasOwner, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

} // namespace ORVIK::NetworkManagerNames
