#include "wifi/wifiscan_p.h"

#include "host/widgets/qstringstream.h"
#include "wifi/wlanplatform_p.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace ORVIK {

namespace {

constexpr DWORD kClientVersion = 2;
// Lists hidden networks of manual profiles as well.
constexpr DWORD kIncludeAllManualHiddenProfiles = 2;
constexpr qint64 kPollPerInterfaceMs = 1500;
constexpr int kEventTimeMs = 50;
constexpr int kCommandTimeoutMs = 30000;

// Closes the client handle and frees the interface list on every way out.
class WlanSession
{
public:
    explicit WlanSession(const WlanFunctions &api) : m_api(api) {}
    ~WlanSession()
    {
        if (m_interfaces)
            m_api.WlanFreeMemory(m_interfaces);
        if (m_open)
            m_api.WlanCloseHandle(m_handle, nullptr);
    }
    WlanSession(const WlanSession &) = delete;
    WlanSession &operator=(const WlanSession &) = delete;

    bool open()
    {
        DWORD negotiated = 0;
        m_open = m_api.WlanOpenHandle(kClientVersion, nullptr, &negotiated, &m_handle) == 0;
        return m_open;
    }
    bool enumInterfaces() { return m_api.WlanEnumInterfaces(m_handle, nullptr, &m_interfaces) == 0 && m_interfaces; }

    HANDLE handle() const noexcept { return m_handle; }
    const WLAN_INTERFACE_INFO_LIST &interfaces() const noexcept { return *m_interfaces; }

private:
    const WlanFunctions &m_api;
    HANDLE m_handle = nullptr;
    bool m_open = false;
    WLAN_INTERFACE_INFO_LIST *m_interfaces = nullptr;
};

using QualityByName = std::unordered_map<String, int, StringHash>;

// Reads one network list into the map; a later read of a name overwrites an earlier one.
void pollOnce(const WlanFunctions &api, HANDLE handle, const GUID &interfaceGuid, QualityByName &seen)
{
    WLAN_AVAILABLE_NETWORK_LIST *list = nullptr;
    if (api.WlanGetAvailableNetworkList(handle, &interfaceGuid, kIncludeAllManualHiddenProfiles, nullptr, &list) != 0)
        return;
    if (!list)
        return;
    for (DWORD i = 0; i < list->dwNumberOfItems; ++i) {
        const WLAN_AVAILABLE_NETWORK &network = list->Network[i];
        const ULONG length = std::min<ULONG>(network.dot11Ssid.uSSIDLength, sizeof network.dot11Ssid.ucSSID);
        if (length == 0)
            continue;
        String name(reinterpret_cast<const char *>(network.dot11Ssid.ucSSID), length);
        if (name.isEmpty())
            continue;
        seen[std::move(name)] = static_cast<int>(network.wlanSignalQuality);
    }
    api.WlanFreeMemory(list);
}

} // namespace

bool comesBefore(int quality, const String &name, int otherQuality, const String &otherName)
{
    if (quality != otherQuality)
        return quality > otherQuality;
    return name.toLower() < otherName.toLower();
}

bool scanWithWlanApi(Buffer<String> &names, Buffer<int> &qualities, const QPointer<QObject> &requester)
{
    const WlanFunctions &api = wlanFunctions();
    QualityByName seen;
    {
        WlanSession session(api);
        if (!session.open() || !session.enumInterfaces())
            return false;
        const WLAN_INTERFACE_INFO_LIST &interfaces = session.interfaces();
        for (DWORD i = 0; i < interfaces.dwNumberOfItems && requester; ++i) {
            const GUID &interfaceGuid = interfaces.InterfaceInfo[i].InterfaceGuid;
            api.WlanScan(session.handle(), &interfaceGuid, nullptr, nullptr, nullptr);
            // The scan completes in the background; every read until the deadline may add names.
            QElapsedTimer elapsed;
            elapsed.start();
            while (elapsed.elapsed() < kPollPerInterfaceMs && requester) {
                pollOnce(api, session.handle(), interfaceGuid, seen);
                QCoreApplication::processEvents(QEventLoop::AllEvents, kEventTimeMs);
            }
        }
    }
    if (seen.empty() || !requester)
        return false;

    struct Entry
    {
        String name;
        int quality;
    };
    std::vector<Entry> entries;
    entries.reserve(seen.size());
    for (const auto &[name, quality] : seen)
        entries.push_back({name, quality});
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return comesBefore(a.quality, a.name, b.quality, b.name); });

    names.resize(static_cast<uint32_t>(entries.size()));
    qualities.resize(static_cast<uint32_t>(entries.size()));
    for (uint32_t i = 0; i < entries.size(); ++i) {
        names[i] = std::move(entries[i].name);
        qualities[i] = entries[i].quality;
    }
    return true;
}

QString runNetshCommand()
{
    const QString program = netshProgram();
    if (program.isEmpty())
        return QString();
    QProcess netsh;
    netsh.start(program, {QStringLiteral("wlan"), QStringLiteral("show"), QStringLiteral("networks"),
                          QStringLiteral("mode=Bssid")});
    // Whatever it has written by then counts; a command still running ends with the object.
    netsh.waitForFinished(kCommandTimeoutMs);
    return QString::fromLocal8Bit(netsh.readAllStandardOutput());
}

void parseNetshOutput(const QString &text, Buffer<String> &names, Buffer<int> &qualities)
{
    static const QRegularExpression ssidLine(QStringLiteral("^\\s*SSID\\s+\\d+\\s*:\\s*(.+)\\s*$"));
    static const QRegularExpression signalLine(QStringLiteral("^\\s*Signal\\s*:\\s*(\\d+)%\\s*$"));
    QString currentName;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &line : lines) {
        const QRegularExpressionMatch ssid = ssidLine.match(line);
        if (ssid.hasMatch())
            currentName = ssid.captured(1).trimmed();
        const QRegularExpressionMatch signal = signalLine.match(line);
        if (signal.hasMatch() && !currentName.isEmpty()) {
            qualities.append(signal.captured(1).toInt(nullptr, 10));
            names.append(StringStream<QString>::toString(currentName));
            currentName.clear();
        }
    }
}

} // namespace ORVIK
