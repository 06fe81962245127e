#include "tests/wifi/fakewlan.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace ORVIK {

namespace {

constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorNotFound = 1168;

} // namespace

FakeWlan *FakeWlan::s_current = nullptr;

FakeWlan::FakeWlan()
    : m_functions{&FakeWlan::open, &FakeWlan::enumInterfaces, &FakeWlan::scan,
                  &FakeWlan::list, &FakeWlan::freeMemory,     &FakeWlan::close},
      m_previous(installWlanFunctions(&m_functions))
{
    s_current = this;
}

FakeWlan::~FakeWlan()
{
    installWlanFunctions(m_previous);
    s_current = nullptr;
    for (void *block : m_live)
        std::free(block);
}

GUID FakeWlan::guidOf(int index)
{
    GUID guid{};
    guid.Data1 = 0x5EED0000u + static_cast<unsigned>(index);
    guid.Data4[7] = static_cast<unsigned char>(index);
    return guid;
}

void *FakeWlan::allocate(std::size_t bytes)
{
    void *block = std::calloc(1, bytes);
    if (!block)
        throw std::bad_alloc();
    m_live.insert(block);
    ++allocated;
    return block;
}

bool FakeWlan::knownHandle(HANDLE handle) const
{
    return m_openHandles > 0 && handle == &m_handleTag;
}

int FakeWlan::interfaceIndex(const GUID *guid) const
{
    for (int i = 0; i < interfaces.size(); ++i) {
        const GUID expected = guidOf(i);
        if (guid && std::memcmp(guid, &expected, sizeof expected) == 0)
            return i;
    }
    return -1;
}

DWORD FakeWlan::open(DWORD clientVersion, PVOID, PDWORD negotiated, PHANDLE handle)
{
    FakeWlan &self = *s_current;
    self.lastClientVersion = clientVersion;
    ++self.openCalls;
    if (self.openResult != 0)
        return self.openResult;
    ++self.opened;
    ++self.m_openHandles;
    *negotiated = clientVersion;
    *handle = &self.m_handleTag;
    return 0;
}

DWORD FakeWlan::enumInterfaces(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST *result)
{
    FakeWlan &self = *s_current;
    if (!self.knownHandle(handle)) {
        ++self.badCalls;
        return kErrorInvalidHandle;
    }
    if (self.enumResult != 0)
        return self.enumResult;
    const std::size_t count = static_cast<std::size_t>(self.interfaces.size());
    const std::size_t bytes = sizeof(WLAN_INTERFACE_INFO_LIST) + (count ? count - 1 : 0) * sizeof(WLAN_INTERFACE_INFO);
    auto *list = static_cast<WLAN_INTERFACE_INFO_LIST *>(self.allocate(bytes));
    list->dwNumberOfItems = static_cast<DWORD>(count);
    for (std::size_t i = 0; i < count; ++i)
        list->InterfaceInfo[i].InterfaceGuid = guidOf(static_cast<int>(i));
    *result = list;
    return 0;
}

DWORD FakeWlan::scan(HANDLE handle, const GUID *guid, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    FakeWlan &self = *s_current;
    if (!self.knownHandle(handle))
        ++self.badCalls;
    self.scannedInterfaces.append(self.interfaceIndex(guid));
    return self.scanResult;
}

DWORD FakeWlan::list(HANDLE handle, const GUID *guid, DWORD flags, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *result)
{
    FakeWlan &self = *s_current;
    self.lastListFlags = flags;
    const int index = self.interfaceIndex(guid);
    if (!self.knownHandle(handle) || index < 0) {
        ++self.badCalls;
        return kErrorInvalidHandle;
    }
    if (self.onRead)
        self.onRead();
    Interface &interface = self.interfaces[index];
    if (interface.polls.isEmpty())
        return kErrorNotFound;
    const Poll poll = interface.polls.at(std::min<int>(interface.reads, interface.polls.size() - 1));
    ++interface.reads;
    if (poll.fails)
        return kErrorNotFound;
    const std::size_t count = static_cast<std::size_t>(poll.networks.size());
    const std::size_t bytes =
        sizeof(WLAN_AVAILABLE_NETWORK_LIST) + (count ? count - 1 : 0) * sizeof(WLAN_AVAILABLE_NETWORK);
    auto *list = static_cast<WLAN_AVAILABLE_NETWORK_LIST *>(self.allocate(bytes));
    list->dwNumberOfItems = static_cast<DWORD>(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Network &network = poll.networks.at(static_cast<qsizetype>(i));
        WLAN_AVAILABLE_NETWORK &entry = list->Network[i];
        const std::size_t stored = std::min<std::size_t>(network.ssid.size(), sizeof entry.dot11Ssid.ucSSID);
        std::memcpy(entry.dot11Ssid.ucSSID, network.ssid.constData(), stored);
        entry.dot11Ssid.uSSIDLength = static_cast<ULONG>(network.length < 0 ? stored : network.length);
        entry.wlanSignalQuality = static_cast<WLAN_SIGNAL_QUALITY>(network.quality);
    }
    *result = list;
    return 0;
}

void FakeWlan::freeMemory(PVOID memory)
{
    FakeWlan &self = *s_current;
    if (self.m_live.erase(memory) == 0) {
        ++self.badCalls;
        return;
    }
    ++self.freed;
    std::free(memory);
}

DWORD FakeWlan::close(HANDLE handle, PVOID)
{
    FakeWlan &self = *s_current;
    if (!self.knownHandle(handle)) {
        ++self.badCalls;
        return kErrorInvalidHandle;
    }
    ++self.closed;
    --self.m_openHandles;
    return 0;
}

} // namespace ORVIK
