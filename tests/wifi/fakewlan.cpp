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

} // namespace

// The table's operations, with access to the fake's counters.
struct FakeWlanTable
{
    static void record(const QString &call)
    {
        if (current->m_calls.isEmpty() || current->m_calls.last() != call)
            current->m_calls.append(call);
    }

    static bool validHandle(HANDLE handle)
    {
        const bool valid = handle == &handleTag && current->handleOpen();
        current->m_misuses += valid ? 0 : 1;
        return valid;
    }

    // The index of the interface that a GUID of the fake's list names; -1 for a foreign handle or GUID.
    static qsizetype interfaceOf(HANDLE handle, const GUID *guid)
    {
        const qsizetype index = guid ? qsizetype(guid->Data1) - 1 : -1;
        return validHandle(handle) && index >= 0 && index < current->interfaces.size() ? index : -1;
    }

    // A list of count items (the list type declares one item already) that the fake tracks.
    template <typename List, typename Item>
    static List *allocate(std::size_t count)
    {
        void *block = std::calloc(1, sizeof(List) + count * sizeof(Item));
        current->m_live.insert(block);
        auto *list = static_cast<List *>(block);
        list->dwNumberOfItems = DWORD(count);
        return list;
    }

    static DWORD open(DWORD version, PVOID, PDWORD negotiated, PHANDLE handle)
    {
        current->m_misuses += version == kClientVersion ? 0 : 1;
        record(QStringLiteral("open"));
        if (current->openResult != 0)
            return current->openResult;
        ++current->m_opened;
        *negotiated = version;
        *handle = &handleTag;
        return 0;
    }

    static DWORD enumInterfaces(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST *result)
    {
        record(QStringLiteral("enum"));
        if (!validHandle(handle))
            return kErrorInvalidHandle;
        if (current->enumResult != 0)
            return current->enumResult;
        *result = allocate<WLAN_INTERFACE_INFO_LIST, WLAN_INTERFACE_INFO>(std::size_t(current->interfaces.size()));
        current->m_interfaceList = *result;
        for (DWORD i = 0; i < (*result)->dwNumberOfItems; ++i)
            (*result)->InterfaceInfo[i].InterfaceGuid.Data1 = i + 1;
        return 0;
    }

    static DWORD scan(HANDLE handle, const GUID *guid, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
    {
        const qsizetype index = interfaceOf(handle, guid);
        record(QStringLiteral("scan %1").arg(index));
        if (index >= 0) {
            ++current->m_scans;
            current->m_sinceScan[index].start();
        }
        return 0;
    }

    static DWORD list(HANDLE handle, const GUID *guid, DWORD flags, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *result)
    {
        current->m_misuses += flags == kIncludeAllManualHiddenProfiles ? 0 : 1;
        const qsizetype index = interfaceOf(handle, guid);
        if (index < 0 || current->interfaces[index].isEmpty()) {
            record(QStringLiteral("list %1 failed").arg(index));
            return kErrorInvalidHandle;
        }
        ++current->m_reads;
        const QElapsedTimer &sinceScan = current->m_sinceScan[index];
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
        // A list freed right after its read is recorded as the read alone.
        record(QStringLiteral("list %1 unfreed").arg(index));
        if (current->onRead)
            current->onRead();
        return 0;
    }

    static void freeMemory(PVOID memory)
    {
        QStringList &calls = current->m_calls;
        if (memory == current->m_interfaceList)
            record(QStringLiteral("free interfaces"));
        else if (!calls.isEmpty() && calls.last().endsWith(QLatin1String(" unfreed")))
            calls.last().chop(8);
        else
            record(QStringLiteral("misuse: free"));
        if (current->m_live.erase(memory) != 0)
            std::free(memory);
        else
            ++current->m_misuses;
        // Consecutive reads of one interface are one entry.
        if (calls.size() > 1 && calls.last() == calls.at(calls.size() - 2))
            calls.removeLast();
    }

    static DWORD close(HANDLE handle, PVOID)
    {
        record(QStringLiteral("close"));
        // The interface list is freed before the handle that it came from is closed.
        current->m_misuses += int(current->m_live.count(current->m_interfaceList));
        current->m_closed += validHandle(handle) ? 1 : 0;
        return 0;
    }
};

FakeWlan::FakeWlan(const QList<Interface> &interfaces, DWORD openResult, DWORD enumResult)
    : interfaces(interfaces), openResult(openResult), enumResult(enumResult),
      m_sinceScan(interfaces.size()), m_functions{&FakeWlanTable::open,       &FakeWlanTable::enumInterfaces,
                                                  &FakeWlanTable::scan,       &FakeWlanTable::list,
                                                  &FakeWlanTable::freeMemory, &FakeWlanTable::close},
      m_previous(installWlanFunctions(&m_functions))
{
    current = this;
}

FakeWlan::~FakeWlan()
{
    installWlanFunctions(m_previous);
    current = nullptr;
    for (void *block : m_live)
        std::free(block);
}

int FakeWlan::opened() const
{
    return m_opened;
}

int FakeWlan::closed() const
{
    return m_closed;
}

int FakeWlan::scans() const
{
    return m_scans;
}

int FakeWlan::reads() const
{
    return m_reads;
}

bool FakeWlan::balanced() const
{
    return m_opened == m_closed && m_live.empty() && m_misuses == 0;
}

QStringList FakeWlan::calls() const
{
    return m_calls;
}

} // namespace ORVIK
