#pragma once

#include "wifi/wlanplatform_p.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

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
        int auth = -1;   // DOT11_AUTH_ALGORITHM and DOT11_CIPHER_ALGORITHM (Windows); -1: WPA2-Personal
        int cipher = -1;
    };
    using Poll = QList<Network>;
    // The polls of one interface. Poll k is read from k seconds after the interface's scan
    // request on: only a poll window longer than a second sees a later one. An interface without
    // polls fails every list read.
    using Interface = QList<Poll>;

    explicit FakeWlan(const QList<Interface> &interfaces = {}, DWORD openResult = 0, DWORD enumResult = 0);
    ~FakeWlan();
    Q_DISABLE_COPY(FakeWlan)

    // What the stand-in's log says so far.
    struct Reading
    {
        int opened = 0;
        int closed = 0;
        int scans = 0;
        int reads = 0; // successful list reads
        int misuses = 0;
        // The calls in order, repeats of a call in a row as one: "open", "enum", "scan I", "list I"
        // (a read of interface I freed right after), "list I failed", "free interfaces", "close",
        // anything else as "misuse: ...".
        QStringList calls;

        bool handleOpen() const { return opened > closed; }
        // Every handle closed and every list freed once; the client version, the flags and the handles
        // as the service wants them; each interface list freed before its handle is closed.
        bool balanced() const { return opened == closed && live.isEmpty() && misuses == 0; }

        // Reads the log's next line, keeping what later lines are checked against.
        void add(const QByteArray &line);
        int lines = 0;
        QSet<QByteArray> live;
        QSet<QByteArray> handles;
        QHash<QByteArray, QByteArray> interfaceLists; // by handle
        QByteArray pendingList;
    };
    const Reading &reading() const;

    // Runs at the next event after each list read.
    std::function<void()> onRead;

    // More lines of the stand-in's scenario ("listing 5", "radio-off 0", "profile 1 Cafe", "connect 42 TEXT").
    void addScenario(const QByteArray &lines);
    QStringList log() const; // every call to the stand-in, one a line

private:
    mutable Reading m_reading;
    QTemporaryDir m_dir;
    QTimer m_readWatch;
    int m_readsSeen = 0;
#ifndef _WIN32
    const WlanFunctions *m_previous = nullptr;
#endif
};

} // namespace ORVIK
