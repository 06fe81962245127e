// The table outside Windows: NetworkManager over the system bus, in the shapes of wlanapi. A
// handle is one NetworkManagerClient; lists are single blocks that WlanFreeMemory frees. Only the
// interface listing waits for NetworkManager, handling events meanwhile; a network list is what
// the client knows at that moment, so a poll never waits at all.
#include "wifi/networkmanagerclient.h"
#include "wifi/wlanplatform_p.h"

#include <QUuid>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace ORVIK {

namespace {

constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorServiceNotActive = 1062;
// Device listing and reading each device: two answers in turn, each with its own time-out.
constexpr int kDevicesWaitMs = 2500;
// Any fixed namespace does: it makes an object path give the same interface GUID in every scan.
constexpr QUuid kInterfaceNamespace(0x6f1c2a57, 0x3d0e, 0x4b8a, 0x9e, 0x21, 0x5c, 0x74, 0x0b, 0xd3, 0x8f, 0x16);

NetworkManagerClient *clientOf(HANDLE handle)
{
    return static_cast<NetworkManagerClient *>(handle);
}

QUuid idOf(const QString &devicePath)
{
    return QUuid::createUuidV5(kInterfaceNamespace, devicePath);
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

// The object path of the device with this GUID; empty when the client lists none.
QString deviceOf(HANDLE handle, const GUID &guid)
{
    const QUuid id = uuidOf(guid);
    for (const NetworkManagerClient::Device &wifi : clientOf(handle)->wifiDevices())
        if (idOf(wifi.path) == id)
            return wifi.path;
    return QString();
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
    auto client = std::make_unique<NetworkManagerClient>(QDBusConnection::systemBus());
    if (!client->runs())
        return kErrorServiceNotActive;
    client->start();
    if (negotiatedVersion)
        *negotiatedVersion = clientVersion;
    // Owned by the caller until WlanCloseHandle.
    *clientHandle = client.release();
    return 0;
}

DWORD enumInterfaces(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST *interfaceList)
{
    if (!handle || !interfaceList)
        return kErrorInvalidParameter;
    NetworkManagerClient *client = clientOf(handle);
    // A NetworkManager that does not answer fails this, and the scan falls back.
    client->waitUntil([client] { return !client->devicesPending(); }, kDevicesWaitMs);
    if (!client->devicesRead())
        return kErrorGenFailure;
    const QList<NetworkManagerClient::Device> &devices = client->wifiDevices();
    auto *list = allocateList<WLAN_INTERFACE_INFO_LIST, WLAN_INTERFACE_INFO>(devices.size());
    if (!list)
        return kErrorNotEnoughMemory;
    for (qsizetype i = 0; i < devices.size(); ++i)
        list->InterfaceInfo[i].InterfaceGuid = guidOf(idOf(devices[i].path));
    *interfaceList = list;
    return 0;
}

DWORD scan(HANDLE handle, const GUID *interfaceGuid, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    if (!handle || !interfaceGuid)
        return kErrorInvalidParameter;
    const QString device = deviceOf(handle, *interfaceGuid);
    if (device.isEmpty())
        return kErrorInvalidParameter;
    // Answered later, if at all: a refusal (a scan running, too soon after one, polkit) changes nothing.
    clientOf(handle)->requestScan(device);
    return 0;
}

DWORD networkList(HANDLE handle, const GUID *interfaceGuid, DWORD, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *networkList)
{
    if (!handle || !interfaceGuid || !networkList)
        return kErrorInvalidParameter;
    const QString device = deviceOf(handle, *interfaceGuid);
    if (device.isEmpty())
        return kErrorInvalidParameter;
    // One entry per network, as Windows lists them, with its strongest access point's quality.
    const QList<NetworkManagerClient::Network> seen = clientOf(handle)->networks(device);
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
    delete clientOf(handle);
    return 0;
}

const WlanFunctions kNetworkManager = {&openHandle, &enumInterfaces, &scan, &networkList, &freeMemory, &closeHandle};

} // namespace

const WlanFunctions &platformWlanFunctions()
{
    return kNetworkManager;
}

} // namespace ORVIK
