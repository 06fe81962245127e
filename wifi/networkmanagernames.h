#pragma once

// NetworkManager's D-Bus names, shared by the module's WiFi scan and the host's join code: only
// constants, so including this links nothing and exports nothing.

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

} // namespace ORVIK::NetworkManagerNames
