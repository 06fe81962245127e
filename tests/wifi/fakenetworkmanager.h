#pragma once

#include <QByteArray>
#include <QDBusMessage>
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
    PrivateSystemBus(const PrivateSystemBus &) = delete;
    PrivateSystemBus &operator=(const PrivateSystemBus &) = delete;
    bool isValid() const { return m_valid; }

private:
    QProcess m_daemon;
    bool m_valid = false;
};

// NetworkManager played by python3-dbusmock's template on the system bus, without devices at first.
class FakeNetworkManager
{
public:
    struct Network
    {
        QByteArray ssid; // any bytes
        int strength = 0;
    };

    FakeNetworkManager();
    ~FakeNetworkManager();
    FakeNetworkManager(const FakeNetworkManager &) = delete;
    FakeNetworkManager &operator=(const FakeNetworkManager &) = delete;

    // False when python3-dbusmock is not installed or did not start.
    bool isValid() const { return m_valid; }
    // Adds a device named after its interface and returns its object path.
    QString addDevice(const QString &interface, bool wifi = true);
    QString addAccessPoint(const QString &device, const Network &network);
    // The device's scan requests are refused, as NetworkManager does right after a scan.
    void refuseScans(const QString &device);
    // A scan request of the device finds the network 300 ms later.
    void findOnScan(const QString &device, const Network &network);
    // Every activation starts and then fails with this NetworkManager reason.
    void failActivations(uint reason);
    // What the stand-in logged since it started: calls, property reads and signals, without times.
    QStringList log() const;

private:
    QDBusMessage callMock(const QString &path, const char *method, const QVariantList &arguments) const;
    // Replaces the device's RequestScan with Python code run by the stand-in.
    void onScanRequest(const QString &device, const QString &code);

    QTemporaryDir m_dir;
    QProcess m_mock;
    bool m_valid = false;
    int m_accessPoints = 0;
};

} // namespace ORVIK
