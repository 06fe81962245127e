#include "apps/orvik/plugins/wifiservice.h"

#include "apps/orvik/plugins/wifijoin.h"
#include "wifi/wlanlibrary_win.h"

namespace ORVIK {

namespace {

// WLAN_AVAILABLE_NETWORK_INCLUDE_ALL_MANUAL_HIDDEN_PROFILES, which MinGW's headers lack: the flags the scan lists with.
constexpr DWORD kIncludeAllManualHiddenProfiles = 2;

} // namespace

QString wifiServiceProblem(bool *locationDenied)
{
    *locationDenied = false;
    const WlanLibrary *api = WlanLibrary::get();
    if (!api)
        return QStringLiteral("this Windows has no WLAN service (no wlanapi.dll: the Wireless LAN feature is not "
                              "installed)");
    HANDLE handle = nullptr;
    DWORD version = 0;
    if (const DWORD error = api->WlanOpenHandle(2, nullptr, &version, &handle); error != ERROR_SUCCESS)
        return QStringLiteral("the WLAN AutoConfig service is not running (WlanOpenHandle: error %1)").arg(error);
    PWLAN_INTERFACE_INFO_LIST interfaces = nullptr;
    const DWORD error = api->WlanEnumInterfaces(handle, nullptr, &interfaces);
    const DWORD count = error == ERROR_SUCCESS && interfaces ? interfaces->dwNumberOfItems : 0;
    // Windows 11 (24H2 on) refuses the list with ERROR_ACCESS_DENIED while location access is off.
    for (DWORD i = 0; i < count && !*locationDenied; ++i) {
        PWLAN_AVAILABLE_NETWORK_LIST networks = nullptr;
        *locationDenied = api->WlanGetAvailableNetworkList(handle, &interfaces->InterfaceInfo[i].InterfaceGuid,
                                                           kIncludeAllManualHiddenProfiles, nullptr,
                                                           &networks) == ERROR_ACCESS_DENIED;
        if (networks)
            api->WlanFreeMemory(networks);
    }
    if (interfaces)
        api->WlanFreeMemory(interfaces);
    api->WlanCloseHandle(handle, nullptr);
    if (*locationDenied)
        return QLatin1String(kLocationAccessOff);
    if (error != ERROR_SUCCESS)
        return QStringLiteral("the WLAN service did not list its interfaces (error %1)").arg(error);
    return count == 0 ? QStringLiteral("the WLAN service has no WiFi interface") : QString();
}

} // namespace ORVIK
