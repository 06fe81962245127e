#include "tests/wifi/fakewlan.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ORVIK {

namespace {

constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kClientVersion = 2;
constexpr DWORD kIncludeAllManualHiddenProfiles = 2;
constexpr qint64 kPollPeriodMs = 1000;
FakeWlan *current = nullptr;
char handleTag = 0; // its address is the one handle the fake hands out

bool validHandle(HANDLE handle)
{
    const bool valid = handle == &handleTag && current->handleOpen();
    current->misuses += valid ? 0 : 1;
    return valid;
}

// The index of the interface that a GUID of the fake's list names; -1 for a foreign handle or GUID.
qsizetype interfaceOf(HANDLE handle, const GUID *guid)
{
    const qsizetype index = guid ? qsizetype(guid->Data1) - 1 : -1;
    return validHandle(handle) && index >= 0 && index < current->interfaces.size() ? index : -1;
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
    current->misuses += version == kClientVersion ? 0 : 1;
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
    current->interfaceList = *result;
    for (DWORD i = 0; i < (*result)->dwNumberOfItems; ++i)
        (*result)->InterfaceInfo[i].InterfaceGuid.Data1 = i + 1;
    return 0;
}

DWORD scan(HANDLE handle, const GUID *guid, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    if (const qsizetype index = interfaceOf(handle, guid); index >= 0) {
        ++current->scans;
        current->sinceScan[index].start();
    }
    return 0;
}

DWORD list(HANDLE handle, const GUID *guid, DWORD flags, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *result)
{
    current->misuses += flags == kIncludeAllManualHiddenProfiles ? 0 : 1;
    const qsizetype index = interfaceOf(handle, guid);
    if (index < 0 || current->interfaces[index].isEmpty())
        return kErrorInvalidHandle;
    if (current->onRead)
        current->onRead();
    ++current->reads;
    const QElapsedTimer &sinceScan = current->sinceScan[index];
    const qint64 period = sinceScan.isValid() ? sinceScan.elapsed() / kPollPeriodMs : 0;
    const FakeWlan::Interface &polls = current->interfaces[index];
    const FakeWlan::Poll &poll = polls.at(std::min<qsizetype>(period, polls.size() - 1));
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
    // The interface list is freed before the handle that it came from is closed.
    current->misuses += int(current->live.count(current->interfaceList));
    current->closed += validHandle(handle) ? 1 : 0;
    return 0;
}

} // namespace

FakeWlan::FakeWlan(const QList<Interface> &interfaces, DWORD openResult, DWORD enumResult)
    : interfaces(interfaces), openResult(openResult), enumResult(enumResult),
      sinceScan(interfaces.size()), m_functions{&open, &enumInterfaces, &scan, &list, &freeMemory, &close},
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
