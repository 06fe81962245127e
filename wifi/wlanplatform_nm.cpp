// The table outside Windows: NetworkManager over the system bus, in the shapes of wlanapi. A
// handle is one NetworkManagerWlan; lists are single blocks that WlanFreeMemory frees.
#include "wifi/networkmanagerwlan_p.h"
#include "wifi/wlanplatform_p.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ORVIK {

namespace {

constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorServiceNotActive = 1062;

NetworkManagerWlan *wlanOf(HANDLE handle)
{
    return static_cast<NetworkManagerWlan *>(handle);
}

GUID guidOf(const QUuid &id)
{
    GUID guid{id.data1, id.data2, id.data3, {}};
    std::copy(std::begin(id.data4), std::end(id.data4), std::begin(guid.Data4));
    return guid;
}

QUuid uuidOf(const GUID &guid)
{
    const unsigned char *b = guid.Data4;
    return QUuid(guid.Data1, guid.Data2, guid.Data3, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
}

// A list whose header declares one item already, with room for count items.
template <typename List, typename Item>
List *allocateList(qsizetype count)
{
    auto *list = static_cast<List *>(std::calloc(1, sizeof(List) + std::size_t(count) * sizeof(Item)));
    if (list)
        list->dwNumberOfItems = DWORD(count);
    return list;
}

DWORD openHandle(DWORD clientVersion, PVOID, PDWORD negotiatedVersion, PHANDLE clientHandle)
{
    if (!clientHandle)
        return kErrorInvalidParameter;
    std::unique_ptr<NetworkManagerWlan> wlan = NetworkManagerWlan::open();
    if (!wlan)
        return kErrorServiceNotActive;
    if (negotiatedVersion)
        *negotiatedVersion = clientVersion;
    // Owned by the caller until WlanCloseHandle.
    *clientHandle = wlan.release();
    return 0;
}

DWORD enumInterfaces(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST *interfaceList)
{
    QList<QUuid> ids;
    if (!handle || !interfaceList)
        return kErrorInvalidParameter;
    if (!wlanOf(handle)->listWifiDevices(ids))
        return kErrorGenFailure;
    auto *list = allocateList<WLAN_INTERFACE_INFO_LIST, WLAN_INTERFACE_INFO>(ids.size());
    if (!list)
        return kErrorNotEnoughMemory;
    for (qsizetype i = 0; i < ids.size(); ++i)
        list->InterfaceInfo[i].InterfaceGuid = guidOf(ids[i]);
    *interfaceList = list;
    return 0;
}

DWORD scan(HANDLE handle, const GUID *interfaceGuid, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    if (!handle || !interfaceGuid)
        return kErrorInvalidParameter;
    // Refused while a scan is running or too soon after one, or by polkit.
    return wlanOf(handle)->requestScan(uuidOf(*interfaceGuid)) ? 0 : kErrorGenFailure;
}

DWORD networkList(HANDLE handle, const GUID *interfaceGuid, DWORD, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *networkList)
{
    QList<NetworkManagerWlan::AccessPoint> seen;
    if (!handle || !interfaceGuid || !networkList)
        return kErrorInvalidParameter;
    if (!wlanOf(handle)->accessPoints(uuidOf(*interfaceGuid), seen))
        return kErrorGenFailure;
    auto *list = allocateList<WLAN_AVAILABLE_NETWORK_LIST, WLAN_AVAILABLE_NETWORK>(seen.size());
    if (!list)
        return kErrorNotEnoughMemory;
    for (qsizetype i = 0; i < seen.size(); ++i) {
        DOT11_SSID &ssid = list->Network[i].dot11Ssid;
        ssid.uSSIDLength = ULONG(std::min<qsizetype>(seen[i].ssid.size(), DOT11_SSID_MAX_LENGTH));
        std::memcpy(ssid.ucSSID, seen[i].ssid.constData(), ssid.uSSIDLength);
        list->Network[i].wlanSignalQuality = WLAN_SIGNAL_QUALITY(seen[i].strength);
    }
    *networkList = list;
    return 0;
}

void freeMemory(PVOID memory)
{
    std::free(memory);
}

DWORD closeHandle(HANDLE handle, PVOID)
{
    if (!handle)
        return kErrorInvalidParameter;
    delete wlanOf(handle);
    return 0;
}

const WlanFunctions kNetworkManager = {&openHandle, &enumInterfaces, &scan, &networkList, &freeMemory, &closeHandle};

} // namespace

const WlanFunctions &platformWlanFunctions()
{
    return kNetworkManager;
}

} // namespace ORVIK
