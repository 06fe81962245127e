#pragma once

#include "wifi/wlanplatform_p.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <set>

namespace ORVIK {

// A scripted WLAN service installed as the scan's platform table for its lifetime. It counts
// handles and lists so that a test can check that everything handed out came back.
class FakeWlan
{
public:
    struct Network
    {
        QByteArray ssid;
        int quality = 0;
        // The reported SSID length; -1 means the length of ssid.
        int length = -1;
    };
    struct Poll
    {
        bool fails = false;
        QList<Network> networks;
    };
    struct Interface
    {
        // Read in turn; the last one is repeated for every later read.
        QList<Poll> polls;
        int reads = 0;
    };

    FakeWlan();
    ~FakeWlan();
    FakeWlan(const FakeWlan &) = delete;
    FakeWlan &operator=(const FakeWlan &) = delete;

    DWORD openResult = 0;
    DWORD enumResult = 0;
    DWORD scanResult = 0;
    QList<Interface> interfaces;
    // Runs inside every network-list read, before the list is handed out.
    std::function<void()> onRead;

    int openCalls = 0; // refused ones included
    int opened = 0;
    int closed = 0;
    int allocated = 0;
    int freed = 0;
    int badCalls = 0; // unknown handles or pointers, reads without an open handle
    QList<int> scannedInterfaces;
    DWORD lastClientVersion = 0;
    DWORD lastListFlags = 0;

    bool handleOpen() const { return m_openHandles > 0; }
    // Every handle closed, every list freed, nothing misused.
    bool balanced() const { return opened == closed && allocated == freed && badCalls == 0; }

    static GUID guidOf(int index);

private:
    static DWORD open(DWORD, PVOID, PDWORD, PHANDLE);
    static DWORD enumInterfaces(HANDLE, PVOID, PWLAN_INTERFACE_INFO_LIST *);
    static DWORD scan(HANDLE, const GUID *, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID);
    static DWORD list(HANDLE, const GUID *, DWORD, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *);
    static void freeMemory(PVOID);
    static DWORD close(HANDLE, PVOID);

    void *allocate(std::size_t bytes);
    bool knownHandle(HANDLE handle) const;
    int interfaceIndex(const GUID *guid) const;

    static FakeWlan *s_current;
    WlanFunctions m_functions;
    const WlanFunctions *m_previous;
    std::set<void *> m_live;
    int m_openHandles = 0;
    char m_handleTag = 0;
};

} // namespace ORVIK
