#include "wifi/networkmanagerclient.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QMetaType>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>
#include <memory>
#include <optional>

namespace ORVIK {

namespace {

constexpr const char *kService = "org.freedesktop.NetworkManager";
constexpr const char *kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char *kManagerInterface = "org.freedesktop.NetworkManager";
constexpr const char *kDeviceInterface = "org.freedesktop.NetworkManager.Device";
constexpr const char *kWirelessInterface = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr const char *kAccessPointInterface = "org.freedesktop.NetworkManager.AccessPoint";
constexpr const char *kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr unsigned kDeviceTypeWifi = 2;
constexpr uint kActivated = 2;
constexpr uint kDeactivated = 4;

// The bus daemon answers at once; it is never NetworkManager that is waited for here.
constexpr int kBusTimeoutMs = 100;
// NetworkManager answers reads within milliseconds; a read that gets no answer is tried again later.
constexpr int kReadTimeoutMs = 1000;
// polkit may ask the user to authenticate before NetworkManager answers.
constexpr int kAddTimeoutMs = 120000;

bool isReply(const QDBusMessage &message)
{
    return message.type() == QDBusMessage::ReplyMessage;
}

// Activated, deactivating or deactivated: nothing more to wait for.
bool isFinal(uint state)
{
    return state >= kActivated;
}

// Replies are read field by field: QList and QMap types of D-Bus values would register meta-type
// converters, whose template instances the module would export.
// Anyone on the bus may send a signal, and a reply may not be what was asked for: a value of
// another type than expected reads as empty.
bool hasSignature(const QVariant &value, const char *signature)
{
    return value.metaType() == QMetaType::fromType<QDBusArgument>() &&
           value.value<QDBusArgument>().currentSignature() == QLatin1String(signature);
}

QStringList objectPaths(const QVariant &value)
{
    QStringList paths;
    if (!hasSignature(value, "ao"))
        return paths;
    const QDBusArgument array = value.value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        QDBusObjectPath path;
        array >> path;
        paths.append(path.path());
    }
    array.endArray();
    return paths;
}

// Calls visit(name, value) for each entry of an a{sv} argument.
template <typename Visit>
void forEachProperty(const QVariant &map, Visit visit)
{
    if (!hasSignature(map, "a{sv}"))
        return;
    const QDBusArgument properties = map.value<QDBusArgument>();
    properties.beginMap();
    while (!properties.atEnd()) {
        QString name;
        QDBusVariant value;
        properties.beginMapEntry();
        properties >> name >> value;
        properties.endMapEntry();
        visit(name, value.variant());
    }
    properties.endMap();
}

} // namespace

NetworkManagerClient::NetworkManagerClient(const QDBusConnection &bus) : m_bus(bus)
{}

NetworkManagerClient::~NetworkManagerClient()
{
    watch(false);
    watchActiveStates(false);
}

bool NetworkManagerClient::runs() const
{
    if (!m_bus.isConnected())
        return false;
    QDBusMessage hasOwner =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    hasOwner << QString::fromLatin1(kService);
    const QDBusMessage reply = m_bus.call(hasOwner, QDBus::Block, kBusTimeoutMs);
    return isReply(reply) && reply.arguments().value(0).toBool();
}

void NetworkManagerClient::ask(const QString &path, const char *interface, const char *method,
                               const QVariantList &arguments, int timeoutMs,
                               std::function<void(const QDBusMessage &)> onAnswer)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kService), path,
                                                          QString::fromLatin1(interface), QString::fromLatin1(method));
    message.setArguments(arguments);
    // Owned by this client: a client deleted first drops the answer with the watcher.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeoutMs), this);
    ++m_pending;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, onAnswer = std::move(onAnswer)] {
        watcher->deleteLater();
        --m_pending;
        onAnswer(watcher->reply());
        emit changed();
    });
}

void NetworkManagerClient::start()
{
    if (m_devicesPending || m_devicesRead)
        return;
    // Watching first: a change announced after a read is then never missed.
    watch(true);
    m_devicesPending = true;
    ask(QString::fromLatin1(kManagerPath), kManagerInterface, "GetDevices", {}, kReadTimeoutMs,
        [this](const QDBusMessage &reply) { devicesListed(reply); });
}

void NetworkManagerClient::devicesListed(const QDBusMessage &reply)
{
    if (!isReply(reply)) {
        m_devicesPending = false;
        return;
    }
    const QStringList paths = objectPaths(reply.arguments().value(0));
    auto unread = std::make_shared<qsizetype>(paths.size());
    const auto deviceDone = [this, unread] {
        if (--*unread == 0) {
            m_devicesPending = false;
            m_devicesRead = true;
        }
    };
    if (paths.isEmpty()) {
        m_devicesPending = false;
        m_devicesRead = true;
    }
    for (const QString &path : paths)
        ask(path, kPropertiesInterface, "GetAll", {QString::fromLatin1(kDeviceInterface)}, kReadTimeoutMs,
            [this, path, paths, deviceDone](const QDBusMessage &properties) {
                // A device that cannot be read is left out, as one that is not WiFi.
                Device wifi;
                wifi.path = path;
                bool isWifi = false;
                if (isReply(properties))
                    forEachProperty(properties.arguments().value(0), [&](const QString &name, const QVariant &value) {
                        if (name == QLatin1String("DeviceType"))
                            isWifi = value.toUInt() == kDeviceTypeWifi;
                        else if (name == QLatin1String("Interface"))
                            wifi.interfaceName = value.toString();
                    });
                // In NetworkManager's order, whatever order the answers come in: a scan reads the
                // devices in turn, and where two see a network, which one it reads last must not vary.
                if (isWifi) {
                    const qsizetype position = paths.indexOf(path);
                    const auto later = [&](const Device &listed) { return paths.indexOf(listed.path) > position; };
                    m_devices.insert(std::find_if(m_devices.begin(), m_devices.end(), later), wifi);
                }
                deviceDone();
            });
}

void NetworkManagerClient::requestScan(const QString &path)
{
    ask(path, kWirelessInterface, "RequestScan", {QVariantMap()}, kReadTimeoutMs, [](const QDBusMessage &) {});
}

QList<NetworkManagerClient::Network> NetworkManagerClient::networks(const QString &path)
{
    QList<Network> result;
    Device *wifi = device(path);
    if (!wifi)
        return result;
    if (!wifi->listRead) {
        readList(*wifi);
        return result;
    }
    QHash<QByteArray, qsizetype> bySsid;
    for (const QString &point : std::as_const(wifi->accessPoints)) {
        const AccessPoint &known = m_accessPoints[point];
        if (known.state == AccessPoint::Unread)
            readAccessPoint(point);
        if (known.state != AccessPoint::Known || known.ssid.isEmpty())
            continue;
        const auto found = bySsid.constFind(known.ssid);
        if (found == bySsid.constEnd()) {
            bySsid.insert(known.ssid, result.size());
            result.append({known.ssid, known.strength});
        } else if (result[*found].strength < known.strength) {
            result[*found].strength = known.strength;
        }
    }
    return result;
}

void NetworkManagerClient::readList(Device &wifi)
{
    if (wifi.listReading)
        return;
    wifi.listReading = true;
    const QString path = wifi.path;
    ask(path, kWirelessInterface, "GetAllAccessPoints", {}, kReadTimeoutMs, [this, path](const QDBusMessage &reply) {
        Device *answered = device(path);
        if (!answered)
            return;
        answered->listReading = false;
        if (!isReply(reply))
            return;
        answered->accessPoints = objectPaths(reply.arguments().value(0));
        answered->listRead = true;
        for (const QString &point : std::as_const(answered->accessPoints))
            readAccessPoint(point);
    });
}

void NetworkManagerClient::readAccessPoint(const QString &path)
{
    AccessPoint &point = m_accessPoints[path];
    if (point.state != AccessPoint::Unread)
        return;
    point.state = AccessPoint::Reading;
    ask(path, kPropertiesInterface, "GetAll", {QString::fromLatin1(kAccessPointInterface)}, kReadTimeoutMs,
        [this, path](const QDBusMessage &reply) {
            const auto found = m_accessPoints.find(path);
            if (found == m_accessPoints.end())
                return; // removed meanwhile
            AccessPoint &answered = *found;
            answered.state = isReply(reply) ? AccessPoint::Known : AccessPoint::Unread;
            if (isReply(reply))
                forEachProperty(reply.arguments().value(0), [&](const QString &name, const QVariant &value) {
                    if (name == QLatin1String("Ssid"))
                        answered.ssid = value.toByteArray();
                    else if (name == QLatin1String("Strength"))
                        answered.strength = value.toInt();
                });
        });
}

NetworkManagerClient::Device *NetworkManagerClient::device(const QString &path)
{
    for (Device &wifi : m_devices)
        if (wifi.path == path)
            return &wifi;
    return nullptr;
}

const NetworkManagerClient::Device *NetworkManagerClient::bestLink() const
{
    const Device *best = nullptr;
    int bestStrength = -2;
    for (const Device &wifi : m_devices) {
        int strongest = -1;
        for (const QString &point : wifi.accessPoints) {
            const AccessPoint known = m_accessPoints.value(point);
            if (known.state == AccessPoint::Known)
                strongest = std::max(strongest, known.strength);
        }
        if (strongest > bestStrength) {
            best = &wifi;
            bestStrength = strongest;
        }
    }
    return best;
}

bool NetworkManagerClient::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &NetworkManagerClient::changed, &loop, [&] {
        if (done())
            loop.quit();
    });
    deadline.start(timeoutMs);
    // A handler may delete this client meanwhile; the loop then ends with its connection.
    const QPointer<NetworkManagerClient> self(this);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
    return self && done();
}

void NetworkManagerClient::accessPointChanged(const QDBusMessage &signal)
{
    const auto found = m_accessPoints.find(signal.path());
    // A read under way or still to come brings the current values anyway.
    if (found == m_accessPoints.end() || found->state != AccessPoint::Known ||
        signal.arguments().value(0).toString() != QLatin1String(kAccessPointInterface))
        return;
    forEachProperty(signal.arguments().value(1), [&](const QString &name, const QVariant &value) {
        if (name == QLatin1String("Strength"))
            found->strength = value.toInt();
        else if (name == QLatin1String("Ssid"))
            found->ssid = value.toByteArray();
    });
    emit changed();
}

void NetworkManagerClient::accessPointListChanged(const QDBusMessage &signal)
{
    Device *wifi = device(signal.path());
    // A list not read yet is read whole later; one being read includes what was announced before.
    if (!wifi || !wifi->listRead || signal.signature() != QLatin1String("o"))
        return;
    const QString point = signal.arguments().value(0).value<QDBusObjectPath>().path();
    if (signal.member() == QLatin1String("AccessPointAdded")) {
        if (!wifi->accessPoints.contains(point))
            wifi->accessPoints.append(point);
        readAccessPoint(point);
    } else {
        wifi->accessPoints.removeAll(point);
        m_accessPoints.remove(point);
    }
    emit changed();
}

void NetworkManagerClient::activeStateChanged(uint state, uint reason, const QDBusMessage &signal)
{
    // The first final state counts: deactivation follows a failure and may carry no reason.
    const auto known = m_activeStates.constFind(signal.path());
    if (known != m_activeStates.constEnd() && isFinal(known->first))
        return;
    m_activeStates.insert(signal.path(), {state, reason});
    emit changed();
}

void NetworkManagerClient::watch(bool on)
{
    if (on == m_watching)
        return;
    m_watching = on;
    // Any sender: naming the service would cost a look-up of its owner.
    const QString properties = QString::fromLatin1(kPropertiesInterface);
    const QString changedName = QStringLiteral("PropertiesChanged");
    const QStringList onlyAccessPoints = {QString::fromLatin1(kAccessPointInterface)};
    const char *changedSlot = SLOT(accessPointChanged(QDBusMessage));
    const QString wireless = QString::fromLatin1(kWirelessInterface);
    const char *listSlot = SLOT(accessPointListChanged(QDBusMessage));
    if (on) {
        m_bus.connect(QString(), QString(), properties, changedName, onlyAccessPoints, QString(), this, changedSlot);
        for (const char *member : {"AccessPointAdded", "AccessPointRemoved"})
            m_bus.connect(QString(), QString(), wireless, QString::fromLatin1(member), this, listSlot);
    } else {
        m_bus.disconnect(QString(), QString(), properties, changedName, onlyAccessPoints, QString(), this, changedSlot);
        for (const char *member : {"AccessPointAdded", "AccessPointRemoved"})
            m_bus.disconnect(QString(), QString(), wireless, QString::fromLatin1(member), this, listSlot);
    }
}

void NetworkManagerClient::watchActiveStates(bool on)
{
    if (on == m_watchingActive)
        return;
    m_watchingActive = on;
    const QString interface = QString::fromLatin1(kActiveInterface);
    const QString name = QStringLiteral("StateChanged");
    const char *slot = SLOT(activeStateChanged(uint, uint, QDBusMessage));
    if (on)
        m_bus.connect(QString(), QString(), interface, name, this, slot);
    else
        m_bus.disconnect(QString(), QString(), interface, name, this, slot);
}

NetworkManagerClient::JoinOutcome NetworkManagerClient::join(const QByteArray &ssid, const QString &password,
                                                             bool hidden)
{
    JoinOutcome outcome;
    if (!runs())
        return outcome;
    start();
    if (!waitUntil([this] { return !m_devicesPending; }, 4 * kReadTimeoutMs) || !m_devicesRead) {
        outcome.result = JoinOutcome::NoAnswer;
        return outcome;
    }
    for (Device &wifi : m_devices)
        readList(wifi);
    waitUntil([this] { return m_pending == 0; }, 4 * kReadTimeoutMs);

    const Device *chosen = nullptr;
    QString accessPoint = QStringLiteral("/");
    int strongest = -1;
    for (const Device &wifi : std::as_const(m_devices))
        for (const QString &point : wifi.accessPoints) {
            const AccessPoint seen = m_accessPoints.value(point);
            if (seen.state == AccessPoint::Known && seen.ssid == ssid && seen.strength > strongest) {
                chosen = &wifi;
                accessPoint = point;
                strongest = seen.strength;
            }
        }
    if (!chosen && hidden)
        chosen = bestLink();
    if (!chosen) {
        outcome.result = hidden || m_devices.isEmpty() ? JoinOutcome::NoDevice : JoinOutcome::NotSeen;
        return outcome;
    }
    outcome.interfaceName = chosen->interfaceName;

    QVariantMap wireless{{QStringLiteral("ssid"), ssid}};
    if (hidden)
        wireless.insert(QStringLiteral("hidden"), true);
    // a{sa{sv}} built by hand: no meta-type for the nested map gets registered.
    QDBusArgument settings;
    settings.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QVariantMap>());
    const auto addSetting = [&settings](const QString &name, const QVariantMap &values) {
        settings.beginMapEntry();
        settings << name << values;
        settings.endMapEntry();
    };
    addSetting(QStringLiteral("802-11-wireless"), wireless);
    if (!password.isEmpty())
        addSetting(QStringLiteral("802-11-wireless-security"),
                   {{QStringLiteral("key-mgmt"), QStringLiteral("wpa-psk")}, {QStringLiteral("psk"), password}});
    settings.endMap();

    // Watching first: NetworkManager may report the outcome before its answer arrives.
    watchActiveStates(true);
    // Shared with the handler, which may outlive this call.
    const auto answer = std::make_shared<std::optional<QDBusMessage>>();
    ask(QString::fromLatin1(kManagerPath), kManagerInterface, "AddAndActivateConnection",
        {QVariant::fromValue(settings), QVariant::fromValue(QDBusObjectPath(chosen->path)),
         QVariant::fromValue(QDBusObjectPath(accessPoint))},
        kAddTimeoutMs, [answer](const QDBusMessage &reply) { *answer = reply; });
    waitUntil([&answer] { return answer->has_value(); }, kAddTimeoutMs + kReadTimeoutMs);
    const std::optional<QDBusMessage> &added = *answer;
    if (!added || !isReply(*added)) {
        outcome.result = JoinOutcome::Refused;
        if (added) {
            outcome.errorName = added->errorName();
            outcome.errorMessage = added->errorMessage();
        }
        return outcome;
    }

    const QString active = added->arguments().value(1).value<QDBusObjectPath>().path();
    if (!m_activeStates.contains(active))
        ask(active, kPropertiesInterface, "Get", {QString::fromLatin1(kActiveInterface), QStringLiteral("State")},
            kReadTimeoutMs, [this, active](const QDBusMessage &reply) {
                // An active connection that no longer exists has ended, for a reason not known here.
                const uint state =
                    isReply(reply) ? reply.arguments().value(0).value<QDBusVariant>().variant().toUInt() : kDeactivated;
                if (!m_activeStates.contains(active) || !isFinal(m_activeStates.value(active).first))
                    m_activeStates.insert(active, {state, 0});
            });
    waitUntil(
        [this, &active] { return m_activeStates.contains(active) && isFinal(m_activeStates.value(active).first); },
        ActivationTimeoutMs);
    const auto [state, reason] = m_activeStates.value(active, {0, 0});
    outcome.result = state == kActivated ? JoinOutcome::Activated
                     : isFinal(state)    ? JoinOutcome::Failed
                                         : JoinOutcome::Unfinished;
    outcome.reason = reason;
    return outcome;
}

} // namespace ORVIK
