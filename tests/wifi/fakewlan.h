#pragma once

#include "wifi/wlanplatform_p.h"

#include <QByteArray>
#include <QElapsedTimer>
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
        int length = -1; // the reported SSID length; -1 means the length of ssid
    };
    using Poll = QList<Network>;
    // The polls of one interface. Poll k is read from k seconds after the interface's scan
    // request on: only a poll window longer than a second sees a later one.
    using Interface = QList<Poll>;

    explicit FakeWlan(const QList<Interface> &interfaces = {}, DWORD openResult = 0, DWORD enumResult = 0);
    ~FakeWlan();
    FakeWlan(const FakeWlan &) = delete;
    FakeWlan &operator=(const FakeWlan &) = delete;

    bool handleOpen() const { return opened > closed; }
    bool balanced() const { return opened == closed && live.empty() && misuses == 0; }

    const QList<Interface> interfaces;
    const DWORD openResult;
    const DWORD enumResult;
    std::function<void()> onRead; // runs inside every list read, before the list is handed out

    int opened = 0;
    int closed = 0;
    int scans = 0;
    int reads = 0;
    int misuses = 0;                // unknown handles or lists, other client versions or flags, closing before freeing
    QList<QElapsedTimer> sinceScan; // one per interface
    std::set<void *> live;          // lists handed out and not freed yet
    void *interfaceList = nullptr;

private:
    WlanFunctions m_functions;
    const WlanFunctions *m_previous;
};

} // namespace ORVIK
