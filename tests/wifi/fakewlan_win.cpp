#include "tests/wifi/fakewlan.h"

#include <QFile>
#include <QHash>
#include <QSet>

namespace ORVIK {

namespace {

constexpr int kReadWatchMs = 5;

// What the stand-in's log says, with the calls in the vocabulary of FakeWlan::calls.
struct Reading
{
    int opened = 0;
    int closed = 0;
    int scans = 0;
    int reads = 0;
    int misuses = 0;
    QStringList calls;
    QSet<QByteArray> live;
    QHash<QByteArray, QByteArray> interfaceLists; // by handle
};

QByteArray field(const QByteArray &line, const QByteArray &name)
{
    const qsizetype start = line.indexOf(' ' + name + '=');
    if (start < 0)
        return {};
    const qsizetype from = start + name.size() + 2;
    const qsizetype end = line.indexOf(' ', from);
    return line.mid(from, end < 0 ? -1 : end - from);
}

// The stand-in's interface I has a GUID whose first part is 0x1000 + I.
int interfaceIndex(const QByteArray &line)
{
    bool ok = false;
    const int data1 = field(line, "interface").left(8).toInt(&ok, 16);
    return ok ? data1 - 0x1000 : -1;
}

void record(Reading &r, const QString &call)
{
    if (r.calls.isEmpty() || r.calls.last() != call)
        r.calls.append(call);
}

Reading read(const QStringList &log)
{
    Reading r;
    QSet<QByteArray> handles;
    QByteArray pendingList;
    const auto misuse = [&r](const QByteArray &line) {
        ++r.misuses;
        r.calls.append(QStringLiteral("misuse: ") + QString::fromLatin1(line));
    };
    for (const QString &entry : log) {
        const QByteArray line = entry.toLatin1();
        const QByteArray handle = field(line, "handle");
        const bool known = handles.contains(handle);
        const bool succeeded = field(line, "result") == "0";
        if (line.startsWith("WlanOpenHandle ")) {
            record(r, QStringLiteral("open"));
            if (field(line, "version") != "2")
                misuse(line);
        } else if (line.startsWith("handle ")) {
            handles.insert(line.mid(7));
            ++r.opened;
        } else if (line.startsWith("WlanEnumInterfaces ")) {
            record(r, QStringLiteral("enum"));
            if (!known)
                misuse(line);
            if (succeeded) {
                r.interfaceLists.insert(handle, field(line, "list"));
                r.live.insert(field(line, "list"));
            }
        } else if (line.startsWith("WlanScan ")) {
            record(r, QStringLiteral("scan %1").arg(interfaceIndex(line)));
            r.scans += known ? 1 : 0;
            if (!known)
                misuse(line);
        } else if (line.startsWith("WlanGetAvailableNetworkList ")) {
            if (!known || field(line, "flags") != "2")
                misuse(line);
            const int index = interfaceIndex(line);
            if (!succeeded) {
                record(r, QStringLiteral("list %1 failed").arg(index));
                continue;
            }
            ++r.reads;
            pendingList = field(line, "list");
            r.live.insert(pendingList);
            record(r, QStringLiteral("list %1 unfreed").arg(index));
        } else if (line.startsWith("WlanFreeMemory ")) {
            const QByteArray list = line.mid(15);
            if (!r.live.remove(list))
                misuse(line);
            else if (r.interfaceLists.values().contains(list))
                record(r, QStringLiteral("free interfaces"));
            else if (list == pendingList && r.calls.last().endsWith(QLatin1String(" unfreed")))
                r.calls.last().chop(8);
            else
                record(r, QStringLiteral("misuse: free"));
            if (r.calls.size() > 1 && r.calls.last() == r.calls.at(r.calls.size() - 2))
                r.calls.removeLast();
        } else if (line.startsWith("WlanCloseHandle ")) {
            record(r, QStringLiteral("close"));
            // The interface list is freed before the handle that it came from is closed.
            if (!handles.remove(handle) || r.live.contains(r.interfaceLists.value(handle)))
                misuse(line);
            else
                ++r.closed;
        }
    }
    return r;
}

// The scenario that the stand-in reads: interfaces, their polls and the networks of each.
QByteArray scenario(const QList<FakeWlan::Interface> &interfaces, DWORD openResult, DWORD enumResult)
{
    QByteArray text = "open " + QByteArray::number(openResult) + "\nenum " + QByteArray::number(enumResult) + '\n';
    for (qsizetype i = 0; i < interfaces.size(); ++i) {
        text += "interface Wireless adapter " + QByteArray::number(i) + '\n';
        for (const FakeWlan::Poll &poll : interfaces[i]) {
            text += "poll\n";
            for (const FakeWlan::Network &network : poll)
                text += "network " + QByteArray::number(network.quality) + ' ' +
                        (network.ssid.isEmpty() ? QByteArray("-") : network.ssid.toHex()) + ' ' +
                        QByteArray::number(network.length < 0 ? network.ssid.size() : network.length) + '\n';
        }
    }
    return text;
}

} // namespace

FakeWlan::FakeWlan(const QList<Interface> &interfaces, DWORD openResult, DWORD enumResult)
    : interfaces(interfaces), openResult(openResult), enumResult(enumResult)
{
    QFile file(m_dir.filePath(QStringLiteral("scenario")));
    if (!file.open(QIODevice::WriteOnly) || file.write(scenario(interfaces, openResult, enumResult)) < 0)
        qFatal("cannot write the WLAN scenario");
    qputenv("ORVIK_WLAN_SCENARIO", QFile::encodeName(file.fileName()));
    qputenv("ORVIK_WLAN_LOG", QFile::encodeName(m_dir.filePath(QStringLiteral("log"))));
    // The stand-in cannot call back into the test: each new read is seen at the next event.
    m_readWatch.setInterval(kReadWatchMs);
    QObject::connect(&m_readWatch, &QTimer::timeout, [this] {
        if (!onRead)
            return;
        for (const int now = reads(); m_readsSeen < now; ++m_readsSeen)
            onRead();
    });
    m_readWatch.start();
}

FakeWlan::~FakeWlan()
{
    qunsetenv("ORVIK_WLAN_SCENARIO");
    qunsetenv("ORVIK_WLAN_LOG");
}

void FakeWlan::setConnectOutcome(DWORD reason, const QByteArray &text)
{
    QFile file(m_dir.filePath(QStringLiteral("scenario")));
    if (!file.open(QIODevice::Append) || file.write("connect " + QByteArray::number(reason) + ' ' + text + '\n') < 0)
        qFatal("cannot write the WLAN scenario");
}

QStringList FakeWlan::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int FakeWlan::opened() const
{
    return read(log()).opened;
}

int FakeWlan::closed() const
{
    return read(log()).closed;
}

int FakeWlan::scans() const
{
    return read(log()).scans;
}

int FakeWlan::reads() const
{
    return read(log()).reads;
}

bool FakeWlan::balanced() const
{
    const Reading r = read(log());
    return r.opened == r.closed && r.live.isEmpty() && r.misuses == 0;
}

QStringList FakeWlan::calls() const
{
    return read(log()).calls;
}

} // namespace ORVIK
