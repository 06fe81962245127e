#pragma once

#include "wifi/wlanplatform_p.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

namespace ORVIK {

// A scripted WLAN service for the scan's lifetime: the scenario of the stand-in wlanapi
// (windows/wlanapi.cpp), which the test program loads in place of the system's on Windows and
// installs in process as the scan's platform table elsewhere. It counts from the stand-in's log.
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
    // request on: only a poll window longer than a second sees a later one. An interface without
    // polls fails every list read.
    using Interface = QList<Poll>;

    explicit FakeWlan(const QList<Interface> &interfaces = {}, DWORD openResult = 0, DWORD enumResult = 0);
    ~FakeWlan();
    Q_DISABLE_COPY(FakeWlan)

    int opened() const;
    int scans() const;
    int reads() const; // successful list reads
    bool handleOpen() const;
    // Every handle closed and every list freed once; the client version, the flags and the handles
    // as the service wants them; each interface list freed before its handle is closed.
    bool balanced() const;
    // The calls in order, repeats of a call in a row as one: "open", "enum", "scan I", "list I"
    // (a read of interface I freed right after), "list I failed", "free interfaces", "close",
    // anything else as "misuse: ...".
    QStringList calls() const;

    // Runs at the next event after each list read.
    std::function<void()> onRead;

    // What the stand-in's WlanConnect reports to the registered callback (Windows): a reason and its text.
    void setConnectOutcome(DWORD reason, const QByteArray &text);
    QStringList log() const; // every call to the stand-in, one a line

private:
    // The calls read from the stand-in's log lines, fed one at a time.
    struct Reading;
    const Reading &reading() const;
    std::unique_ptr<Reading> m_reading;
    QTemporaryDir m_dir;
    QTimer m_readWatch;
    int m_readsSeen = 0;
#ifndef _WIN32
    const WlanFunctions *m_previous = nullptr;
#endif
};

} // namespace ORVIK
