#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class QDBusMessage;

namespace ORVIK {

// NetworkManager's WiFi devices and access points, and joining a network, over one bus connection.
// Nothing waits for NetworkManager on the caller's stack: every call is asynchronous, answers and
// NetworkManager's signals keep the state that the accessors read, and waitUntil handles the
// thread's events meanwhile, so a NetworkManager that hangs never freezes the caller's thread.
class NetworkManagerClient : public QObject
{
    Q_OBJECT
public:
    struct Device
    {
        QString path;
        QString interfaceName;
        bool listRead = false;    // accessPoints holds NetworkManager's list
        bool listReading = false; // a read of the list is under way
        QStringList accessPoints; // object paths
    };
    struct Network
    {
        QByteArray ssid; // raw bytes, never empty
        int strength = 0;
    };
    struct JoinOutcome
    {
        enum Result { NotRunning, NoAnswer, NoDevice, NotSeen, Refused, Activated, Failed, Unfinished };
        Result result = NotRunning;
        QString interfaceName; // of the device asked to join
        QString errorName;     // of a refusal
        QString errorMessage;
        uint reason = 0; // NetworkManager's reason of a failure
    };

    // How long join waits for an activation to end.
    static constexpr int ActivationTimeoutMs = 90000;

    explicit NetworkManagerClient(const QDBusConnection &bus);
    ~NetworkManagerClient() override;

    // Whether NetworkManager has an owner; the bus answers that, not NetworkManager, within 100 ms.
    bool runs() const;
    // Watches access point changes, then starts reading the WiFi devices.
    void start();
    // Whether start's reading is under way, and once it has ended, whether it succeeded.
    bool devicesPending() const noexcept { return m_devicesPending; }
    bool devicesRead() const noexcept { return m_devicesRead; }
    const QList<Device> &wifiDevices() const noexcept { return m_devices; }
    // No call of this client awaits its answer.
    bool idle() const noexcept { return m_pending == 0; }

    // Asks a device to scan; the answer is not looked at.
    void requestScan(const QString &device);
    // The device's networks as known now: one per SSID, with its strongest access point's
    // strength. Starts reading what is not known yet, a failed read included.
    QList<Network> networks(const QString &device);

    // Handles events until done() holds or timeoutMs have passed; returns done().
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);

    // Adds and activates a connection for the SSID on the device that sees it most strongly, or
    // for a hidden one on the device with the best link, then waits for its final state.
    JoinOutcome join(const QByteArray &ssid, const QString &password, bool hidden);

Q_SIGNALS:
    // An answer or a signal changed the state.
    void changed();

private Q_SLOTS:
    void accessPointChanged(const QDBusMessage &signal);
    void accessPointListChanged(const QDBusMessage &signal);
    void activeStateChanged(uint state, uint reason, const QDBusMessage &signal);

private:
    struct AccessPoint
    {
        enum State { Unread, Reading, Known };
        State state = Unread;
        QByteArray ssid;
        int strength = 0;
    };

    void ask(const QString &path, const char *interface, const char *method, const QVariantList &arguments,
             int timeoutMs, std::function<void(const QDBusMessage &)> onAnswer);
    void devicesListed(const QDBusMessage &reply);
    void readDevice(const QString &path);
    void readList(Device &device);
    void readAccessPoint(const QString &path);
    Device *device(const QString &path);
    const Device *bestLink() const;
    void watch(bool on);
    void watchActiveStates(bool on);

    QDBusConnection m_bus;
    bool m_watching = false;
    bool m_watchingActive = false;
    bool m_devicesPending = false;
    bool m_devicesRead = false;
    int m_pending = 0;
    QList<Device> m_devices;                              // WiFi devices only
    QHash<QString, AccessPoint> m_accessPoints;           // by object path
    QHash<QString, std::pair<uint, uint>> m_activeStates; // first final state and reason, by path
};

} // namespace ORVIK
