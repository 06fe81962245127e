#pragma once

// The WLAN client operations that the WiFi scan uses, as one table with the Windows API's
// shapes. On Windows the table is wlanapi itself; elsewhere the structures that the scan
// reads are declared with Windows' field names and the table talks to NetworkManager.
// Tests install a table of their own. Free of Qt, so that the Windows side can be checked
// with a cross compiler.

// The platform's WLAN types, picked by CMake: wlantypes_win.h or wlantypes_unix.h.
#include "wifi/wlantypes_p.h"

namespace ORVIK {

// The six operations, with the signatures of wlanapi.
struct WlanFunctions
{
    DWORD(ORVIK_WLAN_CALL *WlanOpenHandle)
    (DWORD clientVersion, PVOID reserved, PDWORD negotiatedVersion, PHANDLE clientHandle);
    DWORD(ORVIK_WLAN_CALL *WlanEnumInterfaces)
    (HANDLE clientHandle, PVOID reserved, PWLAN_INTERFACE_INFO_LIST *interfaceList);
    DWORD(ORVIK_WLAN_CALL *WlanScan)
    (HANDLE clientHandle, const GUID *interfaceGuid, const PDOT11_SSID ssid, const PWLAN_RAW_DATA ieData,
     PVOID reserved);
    DWORD(ORVIK_WLAN_CALL *WlanGetAvailableNetworkList)
    (HANDLE clientHandle, const GUID *interfaceGuid, DWORD flags, PVOID reserved,
     PWLAN_AVAILABLE_NETWORK_LIST *networkList);
    void(ORVIK_WLAN_CALL *WlanFreeMemory)(PVOID memory);
    DWORD(ORVIK_WLAN_CALL *WlanCloseHandle)(HANDLE clientHandle, PVOID reserved);
};

// The platform's own table: wlanapi on Windows, NetworkManager elsewhere.
const WlanFunctions &platformWlanFunctions();

// The table that scans use: the platform's, unless one has been installed.
const WlanFunctions &wlanFunctions();
// Installs a table for every later scan (null restores the platform's) and returns the one
// that was in force. The table must outlive its use.
const WlanFunctions *installWlanFunctions(const WlanFunctions *functions);

} // namespace ORVIK
