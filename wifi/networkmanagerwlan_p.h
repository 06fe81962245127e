#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariantList>

#include <memory>

class QDBusMessage;

namespace ORVIK {

// NetworkManager's WiFi devices and access points, read over the system bus. One object serves
// one WLAN handle, that is one scan: it reads each access point's properties once, and reads a
// device's list of access points again only after NetworkManager has announced a change, so the
// scan's continuous polling costs no D-Bus traffic while nothing changes.
class NetworkManagerWlan : public QObject
{
    Q_OBJECT
public:
    struct AccessPoint
    {
        QByteArray ssid; // raw bytes; empty for a hidden network
        int strength = 0;
    };

    // Null when the system bus is unreachable or NetworkManager has no owner on it.
    static std::unique_ptr<NetworkManagerWlan> open();
    ~NetworkManagerWlan() override;

    // Appends the id of every WiFi device, derived from its object path; false when
    // NetworkManager does not list its devices.
    bool listWifiDevices(QList<QUuid> &ids);
    // Asks a device listed before to scan; false when it is unknown or NetworkManager refuses.
    bool requestScan(const QUuid &id);
    // Appends what a device listed before sees; false when it is unknown or its list cannot be read.
    bool accessPoints(const QUuid &id, QList<AccessPoint> &result);

private Q_SLOTS:
    void accessPointsChanged(const QDBusMessage &signal);

private:
    struct Device
    {
        QUuid id;
        QString path;
        bool listStale = true;
        QStringList accessPoints; // object paths
    };

    explicit NetworkManagerWlan(const QDBusConnection &bus);
    QDBusMessage call(const QString &path, const char *interface, const char *method,
                      const QVariantList &arguments = {}) const;
    Device *device(const QUuid &id);
    AccessPoint accessPoint(const QString &path);
    void watchAccessPointLists(bool watch);

    QDBusConnection m_bus;
    bool m_watching = false;
    QList<Device> m_devices;
    QHash<QString, AccessPoint> m_accessPoints; // by object path
};

} // namespace ORVIK
