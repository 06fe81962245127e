#include "tests/wifi/fakewlan.h"

#include "tests/testfile.h"

#include <QFile>

#ifndef _WIN32
// The stand-in's scan operations (windows/wlanapi.cpp), compiled into the fakes.
const ORVIK::WlanFunctions &standInWlanFunctions();
#endif

namespace ORVIK {

namespace {

QByteArray field(const QByteArray &line, const QByteArray &name)
{
    const qsizetype start = line.indexOf(' ' + name + '=');
    if (start < 0)
        return {};
    const qsizetype from = start + name.size() + 2;
    const qsizetype end = line.indexOf(' ', from);
    return line.mid(from, end < 0 ? -1 : end - from);
}

// Interface I has a GUID whose first part is 0x1000 + I.
int interfaceIndex(const QByteArray &line)
{
    bool ok = false;
    const int data1 = field(line, "interface").left(8).toInt(&ok, 16);
    return ok ? data1 - 0x1000 : -1;
}

constexpr int kReadWatchMs = 5;

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
                        QByteArray::number(network.length < 0 ? network.ssid.size() : network.length) +
                        (network.auth < 0
                             ? QByteArray()
                             : ' ' + QByteArray::number(network.auth) + ' ' + QByteArray::number(network.cipher)) +
                        '\n';
        }
    }
    return text;
}

} // namespace

void FakeWlan::Reading::add(const QByteArray &line)
{
    const auto record = [this](const QString &call) {
        if (calls.isEmpty() || calls.last() != call)
            calls.append(call);
    };
    const auto misuse = [this, &line] {
        ++misuses;
        calls.append(QStringLiteral("misuse: ") + QString::fromLatin1(line));
    };
    ++lines;
    const QByteArray handle = field(line, "handle");
    const bool known = handles.contains(handle);
    const bool succeeded = field(line, "result") == "0";
    if (line.startsWith("WlanOpenHandle ")) {
        record(QStringLiteral("open"));
        if (field(line, "version") != "2")
            misuse();
    } else if (line.startsWith("handle ")) {
        handles.insert(line.mid(7));
        ++opened;
    } else if (line.startsWith("WlanEnumInterfaces ")) {
        record(QStringLiteral("enum"));
        if (!known)
            misuse();
        if (succeeded) {
            interfaceLists.insert(handle, field(line, "list"));
            live.insert(field(line, "list"));
        }
    } else if (line.startsWith("WlanScan ")) {
        record(QStringLiteral("scan %1").arg(interfaceIndex(line)));
        scans += known ? 1 : 0;
        if (!known)
            misuse();
    } else if (line.startsWith("WlanGetAvailableNetworkList ")) {
        if (!known || field(line, "flags") != "2")
            misuse();
        const int index = interfaceIndex(line);
        if (!succeeded) {
            record(QStringLiteral("list %1 failed").arg(index));
            return;
        }
        ++reads;
        pendingList = field(line, "list");
        live.insert(pendingList);
        // A list freed right after its read is recorded as the read alone.
        record(QStringLiteral("list %1 unfreed").arg(index));
    } else if (line.startsWith("WlanFreeMemory ")) {
        const QByteArray list = line.mid(15);
        if (!live.remove(list))
            misuse();
        else if (interfaceLists.values().contains(list))
            record(QStringLiteral("free interfaces"));
        else if (list == pendingList && calls.last().endsWith(QLatin1String(" unfreed")))
            calls.last().chop(8);
        else
            record(QStringLiteral("misuse: free"));
        // Consecutive reads of one interface are one entry.
        if (calls.size() > 1 && calls.last() == calls.at(calls.size() - 2))
            calls.removeLast();
    } else if (line.startsWith("WlanCloseHandle ")) {
        record(QStringLiteral("close"));
        // The interface list is freed before the handle that it came from is closed.
        if (!handles.remove(handle) || live.contains(interfaceLists.value(handle)))
            misuse();
        else
            ++closed;
    }
}

FakeWlan::FakeWlan(const QList<Interface> &interfaces, DWORD openResult, DWORD enumResult)
{
#ifndef _WIN32
    m_previous = installWlanFunctions(&standInWlanFunctions());
#endif
    const QString file = m_dir.filePath(QStringLiteral("scenario"));
    if (!writeFile(file, scenario(interfaces, openResult, enumResult)))
        qFatal("cannot write the WLAN scenario");
    qputenv("ORVIK_WLAN_SCENARIO", QFile::encodeName(file));
    qputenv("ORVIK_WLAN_LOG", QFile::encodeName(m_dir.filePath(QStringLiteral("log"))));
    // The stand-in knows nothing of the test: each new read is seen at the next event.
    m_readWatch.setInterval(kReadWatchMs);
    QObject::connect(&m_readWatch, &QTimer::timeout, [this] {
        if (!onRead)
            return;
        for (const int now = reading().reads; m_readsSeen < now; ++m_readsSeen)
            onRead();
    });
    m_readWatch.start();
}

FakeWlan::~FakeWlan()
{
#ifndef _WIN32
    installWlanFunctions(m_previous);
#endif
    qunsetenv("ORVIK_WLAN_SCENARIO");
    qunsetenv("ORVIK_WLAN_LOG");
}

void FakeWlan::addScenario(const QByteArray &lines)
{
    if (!writeFile(m_dir.filePath(QStringLiteral("scenario")), lines, QIODevice::Append))
        qFatal("cannot write the WLAN scenario");
}

QStringList FakeWlan::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

const FakeWlan::Reading &FakeWlan::reading() const
{
    const QStringList lines = log();
    for (qsizetype i = m_reading.lines; i < lines.size(); ++i)
        m_reading.add(lines.at(i).toLatin1());
    return m_reading;
}

} // namespace ORVIK
