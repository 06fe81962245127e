#include "apps/orvik/plugins/wifijoin.h"
#include "wifi/networkmanagernames.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTimer>
#include <QVariantMap>

#include <iterator>

namespace ORVIK {

namespace {

using namespace NetworkManagerNames;

using ConnectionSettings = QMap<QString, QVariantMap>;

constexpr uint kActivated = 2;
constexpr uint kDeactivated = 4;
constexpr int kCallTimeoutMs = 5000;
// polkit may ask the user to authenticate before NetworkManager answers.
constexpr int kAddTimeoutMs = 120000;
constexpr int kActivationTimeoutMs = 90000;

// NetworkManager's reasons why an active connection changed state, by number.
const char *const kReasons[] = {
    "unknown reason",
    "no reason given",
    "disconnected by the user",
    "the device disconnected",
    "the service providing the VPN stopped",
    "the IP configuration was invalid",
    "the connection attempt timed out",
    "the VPN service did not start in time",
    "the VPN service did not start",
    "no valid secrets: the password is missing or wrong",
    "the login failed",
    "the connection was removed",
    "a connection that it depends on failed",
    "the device could not be set up",
    "the device was removed",
};

const char *reasonText(uint reason)
{
    return reason < std::size(kReasons) ? kReasons[reason] : kReasons[0];
}

// Activated, deactivating or deactivated: nothing more to wait for.
bool isFinal(uint state)
{
    return state >= kActivated;
}

bool isReply(const QDBusMessage &message)
{
    return message.type() == QDBusMessage::ReplyMessage;
}

QList<QDBusObjectPath> objectPaths(const QDBusMessage &reply)
{
    return qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0));
}

} // namespace

WifiJoin::WifiJoin(QTextStream &out, QTextStream &err) : m_out(out), m_err(err), m_bus(QDBusConnection::systemBus())
{
    qDBusRegisterMetaType<ConnectionSettings>();
}

WifiJoin::~WifiJoin()
{
    if (m_watching)
        m_bus.disconnect(QString(), QString(), QString::fromLatin1(kActiveInterface), QStringLiteral("StateChanged"),
                         this, SLOT(activeStateChanged(uint, uint, QDBusMessage)));
}

QDBusMessage WifiJoin::call(const QString &path, const char *interface, const char *method,
                            const QVariantList &arguments, int timeoutMs) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kService), path,
                                                          QString::fromLatin1(interface), QString::fromLatin1(method));
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, timeoutMs < 0 ? kCallTimeoutMs : timeoutMs);
}

bool WifiJoin::networkManagerRuns() const
{
    return NetworkManagerNames::networkManagerRuns(m_bus, kCallTimeoutMs);
}

WifiJoin::Sighting WifiJoin::strongestSighting(const QByteArray &ssid) const
{
    const auto properties = [this](const QDBusObjectPath &object, const char *interface) {
        const QDBusMessage reply =
            call(object.path(), kPropertiesInterface, "GetAll", {QString::fromLatin1(interface)});
        return qdbus_cast<QVariantMap>(reply.arguments().value(0));
    };
    Sighting best;
    for (const QDBusObjectPath &device :
         objectPaths(call(QString::fromLatin1(kManagerPath), kManagerInterface, "GetDevices"))) {
        const QVariantMap deviceProperties = properties(device, kDeviceInterface);
        if (deviceProperties.value(QStringLiteral("DeviceType")).toUInt() != kDeviceTypeWifi)
            continue;
        for (const QDBusObjectPath &point :
             objectPaths(call(device.path(), kWirelessInterface, "GetAllAccessPoints"))) {
            const QVariantMap seen = properties(point, kAccessPointInterface);
            const int strength = seen.value(QStringLiteral("Strength")).toInt();
            if (seen.value(QStringLiteral("Ssid")).toByteArray() == ssid && strength > best.strength)
                best = {device.path(), deviceProperties.value(QStringLiteral("Interface")).toString(), point.path(),
                        strength};
        }
    }
    return best;
}

int WifiJoin::join(const QByteArray &ssid, const QString &password)
{
    const QString network = QLatin1Char('"') + QString::fromUtf8(ssid) + QLatin1Char('"');
    if (!networkManagerRuns()) {
        m_err << "orvik: joining a WiFi network needs NetworkManager, which is not on the system bus" << Qt::endl;
        return 1;
    }
    const Sighting best = strongestSighting(ssid);
    if (best.device.isEmpty()) {
        m_err << "orvik: no WiFi device sees " << network << Qt::endl;
        return 1;
    }

    // Watching first: NetworkManager may report the outcome before its answer arrives.
    m_watching =
        m_bus.connect(QString(), QString(), QString::fromLatin1(kActiveInterface), QStringLiteral("StateChanged"), this,
                      SLOT(activeStateChanged(uint, uint, QDBusMessage)));
    ConnectionSettings settings{{QStringLiteral("802-11-wireless"), {{QStringLiteral("ssid"), ssid}}}};
    if (!password.isEmpty())
        settings.insert(QStringLiteral("802-11-wireless-security"),
                        {{QStringLiteral("key-mgmt"), QStringLiteral("wpa-psk")}, {QStringLiteral("psk"), password}});
    const QDBusMessage reply = call(QString::fromLatin1(kManagerPath), kManagerInterface, "AddAndActivateConnection",
                                    {QVariant::fromValue(settings), QVariant::fromValue(QDBusObjectPath(best.device)),
                                     QVariant::fromValue(QDBusObjectPath(best.accessPoint))},
                                    kAddTimeoutMs);
    if (!isReply(reply)) {
        m_err << "orvik: NetworkManager did not join " << network << ": " << reply.errorMessage() << " ("
              << reply.errorName() << ")" << Qt::endl;
        return 1;
    }

    const auto [state, reason] = outcome(reply.arguments().value(1).value<QDBusObjectPath>().path());
    if (state == kActivated) {
        m_out << "joined " << network << " on " << best.interfaceName << Qt::endl;
        return 0;
    }
    if (!isFinal(state))
        m_err << "orvik: joining " << network << " did not finish within " << kActivationTimeoutMs / 1000 << " s"
              << Qt::endl;
    else
        m_err << "orvik: joining " << network << " failed: " << reasonText(reason) << " (NetworkManager reason "
              << reason << ")" << Qt::endl;
    return 1;
}

std::pair<uint, uint> WifiJoin::outcome(const QString &activeConnection)
{
    // Changes reported before or with the answer wait as posted events.
    QCoreApplication::sendPostedEvents(this);
    if (!m_states.contains(activeConnection)) {
        const QDBusMessage reply = call(activeConnection, kPropertiesInterface, "Get",
                                        {QString::fromLatin1(kActiveInterface), QStringLiteral("State")});
        // An active connection that no longer exists has ended, for a reason not known here.
        const uint state =
            isReply(reply) ? reply.arguments().value(0).value<QDBusVariant>().variant().toUInt() : kDeactivated;
        m_states.insert(activeConnection, {state, 0});
    }
    if (!isFinal(m_states.value(activeConnection).first)) {
        QTimer timeout;
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, &m_wait, &QEventLoop::quit);
        timeout.start(kActivationTimeoutMs);
        m_waitingFor = activeConnection;
        m_wait.exec();
        m_waitingFor.clear();
    }
    return m_states.value(activeConnection);
}

void WifiJoin::activeStateChanged(uint state, uint reason, const QDBusMessage &signal)
{
    // The first final state counts: deactivation follows a failure and may carry no reason.
    const auto known = m_states.constFind(signal.path());
    if (known != m_states.constEnd() && isFinal(known->first))
        return;
    m_states.insert(signal.path(), {state, reason});
    if (signal.path() == m_waitingFor && isFinal(state))
        m_wait.quit();
}

} // namespace ORVIK
