#pragma once

// The WLAN types outside Windows: the structures that the scan reads, with the Windows API's names,
// shapes and field names, so that the scan's code is one for both.

#include <cstdint>

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
