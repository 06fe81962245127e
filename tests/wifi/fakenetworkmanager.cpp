#include "tests/wifi/fakenetworkmanager.h"

#include "tests/testprocess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QFile>
#include <QTest>

namespace ORVIK {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kTemplateObject = QStringLiteral("/org/freedesktop");
constexpr int kStartMs = 30000;

bool networkManagerOnBus()
{
    return QDBusConnection::systemBus().interface()->isServiceRegistered(kService);
}

} // namespace

PrivateSystemBus::PrivateSystemBus()
{
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(kStartMs))
        return;
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(kStartMs)) {
    }
    const QByteArray address = m_daemon.readLine().trimmed();
    m_valid = !address.isEmpty();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
}

PrivateSystemBus::~PrivateSystemBus()
{
    endProcess(m_daemon, kStartMs);
}

FakeNetworkManager::FakeNetworkManager(const QList<Networks> &radios)
{
    const QString log = m_dir.filePath(QStringLiteral("mock.log"));
    // Debian's interpreter, where python3-dbusmock is installed, not another one on PATH.
    m_mock.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                  QStringLiteral("networkmanager"), QStringLiteral("--logfile"), log});
    // The mock claims the name on its own time, or exits when python3-dbusmock is missing.
    m_valid =
        m_dir.isValid() && m_mock.waitForStarted(kStartMs) &&
        QTest::qWaitFor([this] { return m_mock.state() != QProcess::Running || networkManagerOnBus(); }, kStartMs) &&
        networkManagerOnBus();
    if (!m_valid)
        return;
    callMock(kTemplateObject, "AddEthernetDevice", {QStringLiteral("eth0"), QStringLiteral("eth0"), 100});
    for (const Networks &networks : radios) {
        const QString wlan = QStringLiteral("wlan%1").arg(m_radios.size());
        m_radios.append(callMock(kTemplateObject, "AddWiFiDevice", {wlan, wlan, 100}).arguments().value(0).toString());
        for (const Network &network : networks)
            addAccessPoint(m_radios.last(), network);
    }
}

FakeNetworkManager::~FakeNetworkManager()
{
    endProcess(m_mock, kStartMs);
    // The next test may want a bus without NetworkManager.
    if (!QTest::qWaitFor([] { return !networkManagerOnBus(); }, kStartMs))
        qWarning("the NetworkManager stand-in is still on the bus");
}

QDBusMessage FakeNetworkManager::callMock(const QString &path, const char *method, const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, kMockInterface, QString::fromLatin1(method));
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, kStartMs);
}

void FakeNetworkManager::addAccessPoint(const QString &device, const Network &network)
{
    const QString name = QStringLiteral("ap%1").arg(++m_accessPoints);
    const QString text = QString::fromUtf8(network.ssid);
    const QDBusMessage reply = callMock(kTemplateObject, "AddAccessPoint",
                                        {device, name, text, QStringLiteral("00:11:22:33:44:55"), 2u, 2412u, 54000u,
                                         QVariant::fromValue(uchar(network.strength)), 0u});
    const QString path = reply.arguments().value(0).toString();
    // The template takes text; other bytes are set as they are.
    if (text.toUtf8() != network.ssid)
        callMock(kTemplateObject, "SetProperty",
                 {path, QStringLiteral("org.freedesktop.NetworkManager.AccessPoint"), QStringLiteral("Ssid"),
                  QVariant::fromValue(QDBusVariant(network.ssid))});
}

void FakeNetworkManager::answerScans(bool refuse, const Network &found, bool readableLate)
{
    for (const QString &device : std::as_const(m_radios)) {
        // A new access point is added at 300 ms and then announced, or announced at once when readable late.
        // Its functions take what they use as defaults: the mock runs the code with locals of its own.
        QString code =
            QStringLiteral(
                "from gi.repository import GLib\n"
                "dev, path, ssid, strength = objects['%1'], '%2', b'%3', dbus.Byte(%4)\n"
                "seen = [ap for ap in dev.access_points if bytes(objects[ap].props['%5']['Ssid']) == b'%3']\n"
                "def announce(dev=dev, path=path):\n"
                "    dev.access_points.append(path)\n"
                "    dev.EmitSignal('%6', 'AccessPointAdded', 'o', [dbus.ObjectPath(path)])\n"
                "def later(dev=dev, path=path, ssid=ssid, strength=strength, seen=seen, announce=announce):\n"
                "    for ap in seen:\n"
                "        objects['%7'].SetProperty(ap, '%5', 'Strength', strength)\n"
                "    if not seen:\n"
                "        dev.AddObject(path, '%5', {'Ssid': dbus.ByteArray(ssid), 'Strength': strength}, [])\n"
                "    if not seen and not %8:\n"
                "        announce()\n"
                "if not seen and %8:\n"
                "    announce()\n"
                "GLib.timeout_add(300, later)\n")
                .arg(device, QStringLiteral("/org/freedesktop/NetworkManager/AccessPoint/ap%1").arg(++m_accessPoints),
                     QString::fromUtf8(found.ssid), QString::number(found.strength),
                     QStringLiteral("org.freedesktop.NetworkManager.AccessPoint"),
                     QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless"), kTemplateObject,
                     QLatin1String(readableLate ? "True" : "False"));
        if (found.ssid.isEmpty())
            code.clear();
        if (refuse)
            code += QStringLiteral("raise dbus.exceptions.DBusException('Scanning not allowed while already scanning', "
                                   "name='org.freedesktop.NetworkManager.Device.NotAllowed')\n");
        callMock(device, "AddMethod",
                 {QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless"), QStringLiteral("RequestScan"),
                  QStringLiteral("a{sv}"), QString(), code});
    }
}

void FakeNetworkManager::scriptActivations(uint reason)
{
    const QString active = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/scripted");
    const QString code =
        QStringLiteral("self.AddObject('%1', 'org.freedesktop.NetworkManager.Connection.Active', "
                       "{'State': dbus.UInt32(1)}, [])\n"
                       "from gi.repository import GLib\n"
                       "GLib.timeout_add(200, lambda: objects['%1'].EmitSignal('org.freedesktop.NetworkManager."
                       "Connection.Active', 'StateChanged', 'uu', [dbus.UInt32(%2), dbus.UInt32(%3)]) and False)\n"
                       "ret = (dbus.ObjectPath('/'), dbus.ObjectPath('%1'))")
            .arg(active)
            .arg(reason == 0 ? 2 : 4)
            .arg(reason);
    callMock(QStringLiteral("/org/freedesktop/NetworkManager"), "AddMethod",
             {kService, QStringLiteral("AddAndActivateConnection"), QStringLiteral("a{sa{sv}}oo"), QStringLiteral("oo"),
              code});
}

void FakeNetworkManager::hang()
{
    // The devices' list is what a scan asks first; the mock answers nothing more while it sleeps.
    callMock(QStringLiteral("/org/freedesktop/NetworkManager"), "AddMethod",
             {kService, QStringLiteral("GetDevices"), QString(), QStringLiteral("ao"),
              QStringLiteral("import time\ntime.sleep(3600)")});
}

QStringList FakeNetworkManager::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("mock.log")));
    QStringList lines;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const qsizetype space = line.indexOf(' '); space > 0)
                lines.append(QString::fromUtf8(line.mid(space + 1)));
    return lines;
}

} // namespace ORVIK
