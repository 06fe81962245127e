#pragma once

// The WLAN client operations that the WiFi scan uses, as one table with the Windows API's
// shapes. On Windows the table is wlanapi itself; elsewhere the structures that the scan
// reads are declared here with Windows' field names and the table talks to NetworkManager.
// Tests install a table of their own. Free of Qt, so that the Windows side can be checked
// with a cross compiler.

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
// windows.h first: wlanapi.h relies on its types.
#include <wlanapi.h>
#define ORVIK_WLAN_CALL WINAPI
#else
#define ORVIK_WLAN_CALL

using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UCHAR = unsigned char;
using WCHAR = char16_t;
using BOOL = int;
using HANDLE = void *;
using PVOID = void *;
using PDWORD = DWORD *;
using PHANDLE = HANDLE *;
using WLAN_SIGNAL_QUALITY = ULONG;

struct GUID
{
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    unsigned char Data4[8];
};

constexpr ULONG DOT11_SSID_MAX_LENGTH = 32;

struct DOT11_SSID
{
    ULONG uSSIDLength;
    UCHAR ucSSID[DOT11_SSID_MAX_LENGTH];
};
using PDOT11_SSID = DOT11_SSID *;

struct WLAN_RAW_DATA
{
    DWORD dwDataSize;
    unsigned char DataBlob[1];
};
using PWLAN_RAW_DATA = WLAN_RAW_DATA *;

struct WLAN_INTERFACE_INFO
{
    GUID InterfaceGuid;
    WCHAR strInterfaceDescription[256];
    DWORD isState;
};

// Variable-length lists: the platform allocates as many items as dwNumberOfItems says.
struct WLAN_INTERFACE_INFO_LIST
{
    DWORD dwNumberOfItems;
    DWORD dwIndex;
    WLAN_INTERFACE_INFO InterfaceInfo[1];
};
using PWLAN_INTERFACE_INFO_LIST = WLAN_INTERFACE_INFO_LIST *;

struct WLAN_AVAILABLE_NETWORK
{
    WCHAR strProfileName[256];
    DOT11_SSID dot11Ssid;
    DWORD dot11BssType;
    ULONG uNumberOfBssids;
    BOOL bNetworkConnectable;
    DWORD wlanNotConnectableReason;
    ULONG uNumberOfPhyTypes;
    DWORD dot11PhyTypes[8];
    BOOL bMorePhyTypes;
    WLAN_SIGNAL_QUALITY wlanSignalQuality;
    BOOL bSecurityEnabled;
    DWORD dot11DefaultAuthAlgorithm;
    DWORD dot11DefaultCipherAlgorithm;
    DWORD dwFlags;
    DWORD dwReserved;
};

struct WLAN_AVAILABLE_NETWORK_LIST
{
    DWORD dwNumberOfItems;
    DWORD dwIndex;
    WLAN_AVAILABLE_NETWORK Network[1];
};
using PWLAN_AVAILABLE_NETWORK_LIST = WLAN_AVAILABLE_NETWORK_LIST *;
#endif

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
