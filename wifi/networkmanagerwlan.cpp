#include "wifi/networkmanagernames.h"
#include "wifi/networkmanagerwlan_p.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariantMap>

namespace ORVIK {

namespace {

using namespace NetworkManagerNames;

// NetworkManager answers within milliseconds; one that hangs costs a poll at most this long.
constexpr int kCallTimeoutMs = 1000;
// Any fixed namespace does: it makes an object path give the same interface GUID in every scan.
constexpr QUuid kInterfaceNamespace(0x6f1c2a57, 0x3d0e, 0x4b8a, 0x9e, 0x21, 0x5c, 0x74, 0x0b, 0xd3, 0x8f, 0x16);

bool isReply(const QDBusMessage &message)
{
    return message.type() == QDBusMessage::ReplyMessage;
}

// Replies are read field by field: QList and QMap types of D-Bus values would register meta-type
// converters, whose template instances the module would export.
QStringList objectPaths(const QDBusMessage &reply)
{
    QStringList paths;
    const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        QDBusObjectPath path;
        array >> path;
        paths.append(path.path());
    }
    array.endArray();
    return paths;
}

} // namespace

NetworkManagerWlan::NetworkManagerWlan(const QDBusConnection &bus) : m_bus(bus)
{}

NetworkManagerWlan::~NetworkManagerWlan()
{
    watchAccessPointLists(false);
}

std::unique_ptr<NetworkManagerWlan> NetworkManagerWlan::open()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!networkManagerRuns(bus, kCallTimeoutMs))
        return nullptr;
    return std::unique_ptr<NetworkManagerWlan>(new NetworkManagerWlan(bus));
}

QDBusMessage NetworkManagerWlan::call(const QString &path, const char *interface, const char *method,
                                      const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kService), path,
                                                          QString::fromLatin1(interface), QString::fromLatin1(method));
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, kCallTimeoutMs);
}

bool NetworkManagerWlan::listWifiDevices(QList<QUuid> &ids)
{
    const QDBusMessage reply = call(QString::fromLatin1(kManagerPath), kManagerInterface, "GetDevices");
    if (!isReply(reply))
        return false;
    m_devices.clear();
    for (const QString &path : objectPaths(reply)) {
        const QDBusMessage type = call(path, kPropertiesInterface, "Get",
                                       {QString::fromLatin1(kDeviceInterface), QStringLiteral("DeviceType")});
        if (!isReply(type) || type.arguments().value(0).value<QDBusVariant>().variant().toUInt() != kDeviceTypeWifi)
            continue;
        Device wifi;
        wifi.id = QUuid::createUuidV5(kInterfaceNamespace, path);
        wifi.path = path;
        m_devices.append(wifi);
        ids.append(wifi.id);
    }
    return true;
}

bool NetworkManagerWlan::requestScan(const QUuid &id)
{
    const Device *wifi = device(id);
    return wifi && isReply(call(wifi->path, kWirelessInterface, "RequestScan", {QVariantMap()}));
}

bool NetworkManagerWlan::accessPoints(const QUuid &id, QList<AccessPoint> &result)
{
    Device *wifi = device(id);
    if (!wifi)
        return false;
    if (wifi->listStale) {
        // Watching first: a change announced after this read marks the list stale again.
        watchAccessPointLists(true);
        const QDBusMessage reply = call(wifi->path, kWirelessInterface, "GetAllAccessPoints");
        if (!isReply(reply))
            return false;
        wifi->accessPoints = objectPaths(reply);
        wifi->listStale = false;
    }
    for (const QString &path : std::as_const(wifi->accessPoints))
        result.append(accessPoint(path));
    return true;
}

NetworkManagerWlan::Device *NetworkManagerWlan::device(const QUuid &id)
{
    for (Device &wifi : m_devices)
        if (wifi.id == id)
            return &wifi;
    return nullptr;
}

NetworkManagerWlan::AccessPoint NetworkManagerWlan::accessPoint(const QString &path)
{
    const auto known = m_accessPoints.constFind(path);
    if (known != m_accessPoints.constEnd())
        return *known;
    // One that cannot be read counts as hidden for the rest of the scan, so it is not asked again.
    AccessPoint read;
    const QDBusMessage reply = call(path, kPropertiesInterface, "GetAll", {QString::fromLatin1(kAccessPointInterface)});
    if (isReply(reply)) {
        const QDBusArgument properties = reply.arguments().value(0).value<QDBusArgument>();
        properties.beginMap();
        while (!properties.atEnd()) {
            QString name;
            QDBusVariant value;
            properties.beginMapEntry();
            properties >> name >> value;
            properties.endMapEntry();
            if (name == QLatin1String("Ssid"))
                read.ssid = value.variant().toByteArray();
            else if (name == QLatin1String("Strength"))
                read.strength = value.variant().toInt();
        }
        properties.endMap();
    }
    m_accessPoints.insert(path, read);
    return read;
}

void NetworkManagerWlan::watchAccessPointLists(bool watch)
{
    if (watch == m_watching)
        return;
    m_watching = watch;
    // Any sender and path: naming the service would cost a look-up of its owner.
    for (const char *change : {"AccessPointAdded", "AccessPointRemoved"}) {
        const QString interface = QString::fromLatin1(kWirelessInterface);
        const QString name = QString::fromLatin1(change);
        const char *slot = SLOT(accessPointsChanged(QDBusMessage));
        if (watch)
            m_bus.connect(QString(), QString(), interface, name, this, slot);
        else
            m_bus.disconnect(QString(), QString(), interface, name, this, slot);
    }
}

void NetworkManagerWlan::accessPointsChanged(const QDBusMessage &signal)
{
    for (Device &wifi : m_devices)
        if (wifi.path == signal.path())
            wifi.listStale = true;
}

} // namespace ORVIK
