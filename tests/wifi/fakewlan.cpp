#include "tests/wifi/fakewlan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ORVIK {

namespace {

constexpr DWORD kErrorInvalidHandle = 6;
FakeWlan *current = nullptr;
char handleTag = 0; // its address is the one handle the fake hands out

bool validHandle(HANDLE handle)
{
    const bool valid = handle == &handleTag && current->handleOpen();
    current->misuses += valid ? 0 : 1;
    return valid;
}

// The interface that a GUID of the fake's list names; null for a foreign handle or GUID.
FakeWlan::Interface *interfaceOf(HANDLE handle, const GUID *guid)
{
    const qsizetype index = guid ? qsizetype(guid->Data1) - 1 : -1;
    if (!validHandle(handle) || index < 0 || index >= current->interfaces.size())
        return nullptr;
    return &current->interfaces[index];
}

// A list of count items (the list type declares one item already) that the fake tracks.
template <typename List, typename Item>
List *allocate(std::size_t count)
{
    void *block = std::calloc(1, sizeof(List) + count * sizeof(Item));
    current->live.insert(block);
    auto *list = static_cast<List *>(block);
    list->dwNumberOfItems = DWORD(count);
    return list;
}

DWORD open(DWORD version, PVOID, PDWORD negotiated, PHANDLE handle)
{
    if (current->openResult != 0)
        return current->openResult;
    ++current->opened;
    *negotiated = version;
    *handle = &handleTag;
    return 0;
}

DWORD enumInterfaces(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST *result)
{
    if (!validHandle(handle))
        return kErrorInvalidHandle;
    if (current->enumResult != 0)
        return current->enumResult;
    *result = allocate<WLAN_INTERFACE_INFO_LIST, WLAN_INTERFACE_INFO>(std::size_t(current->interfaces.size()));
    for (DWORD i = 0; i < (*result)->dwNumberOfItems; ++i)
        (*result)->InterfaceInfo[i].InterfaceGuid.Data1 = i + 1;
    return 0;
}

DWORD scan(HANDLE handle, const GUID *guid, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    current->scans += interfaceOf(handle, guid) ? 1 : 0;
    return 0;
}

DWORD list(HANDLE handle, const GUID *guid, DWORD, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *result)
{
    FakeWlan::Interface *interface = interfaceOf(handle, guid);
    if (!interface || interface->polls.isEmpty())
        return kErrorInvalidHandle;
    if (current->onRead)
        current->onRead();
    const auto poll = interface->polls.at(std::min<qsizetype>(interface->reads++, interface->polls.size() - 1));
    *result = allocate<WLAN_AVAILABLE_NETWORK_LIST, WLAN_AVAILABLE_NETWORK>(std::size_t(poll.size()));
    for (qsizetype i = 0; i < poll.size(); ++i) {
        WLAN_AVAILABLE_NETWORK &network = (*result)->Network[i];
        const QByteArray &ssid = poll[i].ssid;
        std::memcpy(network.dot11Ssid.ucSSID, ssid.constData(),
                    std::min<std::size_t>(ssid.size(), DOT11_SSID_MAX_LENGTH));
        network.dot11Ssid.uSSIDLength = ULONG(poll[i].length < 0 ? ssid.size() : poll[i].length);
        network.wlanSignalQuality = WLAN_SIGNAL_QUALITY(poll[i].quality);
    }
    return 0;
}

void freeMemory(PVOID memory)
{
    if (current->live.erase(memory) != 0)
        std::free(memory);
    else
        ++current->misuses;
}

DWORD close(HANDLE handle, PVOID)
{
    current->closed += validHandle(handle) ? 1 : 0;
    return 0;
}

} // namespace

FakeWlan::FakeWlan()
    : m_functions{&open, &enumInterfaces, &scan, &list, &freeMemory, &close},
      m_previous(installWlanFunctions(&m_functions))
{
    current = this;
}

FakeWlan::~FakeWlan()
{
    installWlanFunctions(m_previous);
    current = nullptr;
    for (void *block : live)
        std::free(block);
}

} // namespace ORVIK
