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
    addDevice(QStringLiteral("eth0"), false);
    for (const Networks &networks : radios) {
        m_radios.append(addDevice(QStringLiteral("wlan%1").arg(m_radios.size()), true));
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

QString FakeNetworkManager::addDevice(const QString &interface, bool wifi)
{
    const char *method = wifi ? "AddWiFiDevice" : "AddEthernetDevice";
    const QDBusMessage reply = callMock(kTemplateObject, method, {interface, interface, 100});
    return reply.arguments().value(0).toString();
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
        QString code = QStringLiteral("from gi.repository import GLib\n");
        if (readableLate)
            code += QStringLiteral("path = '/org/freedesktop/NetworkManager/AccessPoint/%2'\n"
                                   "objects['%1'].access_points.append(path)\n"
                                   "objects['%1'].EmitSignal('org.freedesktop.NetworkManager.Device.Wireless', "
                                   "'AccessPointAdded', 'o', [dbus.ObjectPath(path)])\n"
                                   "GLib.timeout_add(300, lambda: objects['%1'].AddObject('/org/freedesktop/"
                                   "NetworkManager/AccessPoint/%2', 'org.freedesktop.NetworkManager.AccessPoint', "
                                   "{'Ssid': dbus.ByteArray(b'%3'), 'Strength': dbus.Byte(%4)}, []) and False)\n")
                        .arg(device, QStringLiteral("ap%1").arg(++m_accessPoints), QString::fromUtf8(found.ssid))
                        .arg(found.strength);
        else if (!found.ssid.isEmpty())
            code += QStringLiteral("def later():\n"
                                   "    changed = False\n"
                                   "    for ap in objects['%2'].access_points:\n"
                                   "        if bytes(objects[ap].props['%6']['Ssid']) == b'%4':\n"
                                   "            objects['%1'].SetProperty(ap, '%6', 'Strength', dbus.Byte(%5))\n"
                                   "            changed = True\n"
                                   "    if not changed:\n"
                                   "        objects['%1'].AddAccessPoint('%2', '%3', '%4', '00:11:22:33:44:66', 2, "
                                   "2412, 54000, %5, 0)\n"
                                   "    return False\n"
                                   "GLib.timeout_add(300, later)\n")
                        .arg(kTemplateObject, device, QStringLiteral("ap%1").arg(++m_accessPoints),
                             QString::fromUtf8(found.ssid))
                        .arg(found.strength)
                        .arg(QStringLiteral("org.freedesktop.NetworkManager.AccessPoint"));
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
