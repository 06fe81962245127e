#pragma once

#include <QByteArray>
#include <QDBusMessage>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace ORVIK {

// A dbus-daemon of the test's own as the system bus of this process and of the programs that it
// starts (DBUS_SYSTEM_BUS_ADDRESS). Create it before anything in the process uses the system bus.
class PrivateSystemBus
{
public:
    PrivateSystemBus();
    ~PrivateSystemBus();
    Q_DISABLE_COPY(PrivateSystemBus)
    bool isValid() const { return m_valid; }

private:
    QProcess m_daemon;
    bool m_valid = false;
};

// NetworkManager played by python3-dbusmock's template on the system bus, with a wired device eth0
// and a WiFi device wlan0, wlan1, ... for each list of networks that it is given.
class FakeNetworkManager
{
public:
    struct Network
    {
        QByteArray ssid; // any bytes
        int strength = 0;
    };
    using Networks = QList<Network>;

    explicit FakeNetworkManager(const QList<Networks> &radios);
    ~FakeNetworkManager();
    Q_DISABLE_COPY(FakeNetworkManager)

    // False when python3-dbusmock is not installed or did not start.
    bool isValid() const { return m_valid; }
    // Every WiFi device answers a scan request so: 300 ms later it finds the network (if named),
    // or, if it already sees that SSID, announces the new strength of those access points; and it
    // refuses the request if told to, as NetworkManager does while it scans. A network readable
    // late is announced at once but can be read only 300 ms later.
    void answerScans(bool refuse, const Network &found, bool readableLate = false);
    // Every activation starts and then ends: activated for reason 0, else failed with that reason.
    void scriptActivations(uint reason);
    // From the next call on, NetworkManager keeps its name and never answers: busy, hung, or
    // waiting for polkit.
    void hang();
    // What the stand-in logged since it started: calls, property reads and signals, without times.
    QStringList log() const;

private:
    QDBusMessage callMock(const QString &path, const char *method, const QVariantList &arguments) const;
    void addAccessPoint(const QString &device, const Network &network);

    QTemporaryDir m_dir;
    QProcess m_mock;
    bool m_valid = false;
    QStringList m_radios;
    int m_accessPoints = 0;
};

} // namespace ORVIK
