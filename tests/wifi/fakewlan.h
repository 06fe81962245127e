#pragma once

#include "wifi/wlanplatform_p.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

namespace ORVIK {

// A scripted WLAN service for the scan's lifetime: the scenario of the stand-in wlanapi
// (windows/wlanapi.cpp), which the test program loads in place of the system's on Windows and
// installs in process as the scan's platform table elsewhere.
class FakeWlan
{
public:
    struct Network
    {
        QByteArray ssid;
        int quality = 0;
        int length = -1; // the reported SSID length; -1 means the length of ssid
        int auth = 7;    // DOT11_AUTH_ALGORITHM (Windows): RSNA_PSK, WPA2-Personal
        int cipher = 4;  // DOT11_CIPHER_ALGORITHM: CCMP
    };
    using Poll = QList<Network>;
    // The polls of one interface. Poll k is read from k seconds after the interface's scan
    // request on: only a poll window longer than a second sees a later one. An interface without
    // polls fails every list read.
    using Interface = QList<Poll>;

    explicit FakeWlan(const QList<Interface> &interfaces = {}, DWORD openResult = 0, DWORD enumResult = 0);
    ~FakeWlan();
    Q_DISABLE_COPY(FakeWlan)

    // Every call to the stand-in so far, one a line, as windows/wlanapi.cpp words them.
    QStringList log() const;
    // The log's lines that match the pattern whole: count("open"), count("list 0 flags=2").
    int count(const QString &pattern) const;
    // The log with repeats of a line in a row as one.
    QStringList calls() const;
    // Every handle closed, and the stand-in saw no misuse: the client version, the handles and the
    // memory as the service wants them, each handle's memory freed before it was closed.
    bool balanced() const
    {
        return count(QStringLiteral("open")) == count(QStringLiteral("close")) &&
               count(QStringLiteral("misuse: .*")) == 0;
    }

    // More lines of the stand-in's scenario ("listing 5", "radio-off 0", "profile 1 Cafe", "connect 42 TEXT").
    void addScenario(const QByteArray &lines);

private:
    QTemporaryDir m_dir;
#ifndef _WIN32
    const WlanFunctions *m_previous = nullptr;
#endif
};

} // namespace ORVIK
