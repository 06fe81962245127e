// Joining on Windows: the WLAN API. The interfaces scan, and the network is picked from what they
// list once the scan has completed; a profile for it is set for this user on the interface that
// sees it best, then connected. The service tells of scans and connections on a thread of its own:
// each notification is queued onto the Qt thread, where the waits below see it.
#include "apps/orvik/plugins/wifijoin.h"

#include "wifi/wlanlibrary_win.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ORVIK {

namespace {

constexpr int kActivationTimeoutMs = 90000;
// A scan completes within 4 seconds, the documentation of WlanScan says.
constexpr int kScanTimeoutMs = 4000;
constexpr DWORD kReasonSuccess = 0; // WLAN_REASON_CODE_SUCCESS, which MinGW's headers lack
// Values of DOT11_AUTH_ALGORITHM and DOT11_CIPHER_ALGORITHM that Windows 10 and 11 report and
// MinGW's headers lack, from Microsoft's documentation of the two enumerations.
constexpr int kAuthWpa3Enterprise192 = 8; // DOT11_AUTH_ALGO_WPA3 (DOT11_AUTH_ALGO_WPA3_ENT_192)
constexpr int kAuthWpa3Sae = 9;           // DOT11_AUTH_ALGO_WPA3_SAE
constexpr int kAuthOwe = 10;              // DOT11_AUTH_ALGO_OWE
constexpr int kAuthWpa3Enterprise = 11;   // DOT11_AUTH_ALGO_WPA3_ENT
// The radio is switched off: ERROR_NDIS_DOT11_POWER_STATE_INVALID.
constexpr DWORD kRadioOff = 0x80342002;

struct WlanFree
{
    void operator()(void *memory) const { WlanLibrary::get()->WlanFreeMemory(memory); }
};
template <typename T>
using WlanMemory = std::unique_ptr<T, WlanFree>;

struct Handle
{
    HANDLE value = nullptr;
    ~Handle()
    {
        if (value)
            WlanLibrary::get()->WlanCloseHandle(value, nullptr);
    }
};

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&apos;"));
}

// Why a network of this security cannot be joined with a profile made here; Joined when it can.
WifiJoinOutcome::Result refusal(const WLAN_AVAILABLE_NETWORK &seen)
{
    const int cipher = seen.dot11DefaultCipherAlgorithm;
    if (seen.dot11DefaultAuthAlgorithm == DOT11_AUTH_ALGO_80211_SHARED_KEY || cipher == DOT11_CIPHER_ALGO_WEP40 ||
        cipher == DOT11_CIPHER_ALGO_WEP104 || cipher == DOT11_CIPHER_ALGO_WEP)
        return WifiJoinOutcome::Result::UsesWep;
    switch (int(seen.dot11DefaultAuthAlgorithm)) {
    case DOT11_AUTH_ALGO_WPA:
    case DOT11_AUTH_ALGO_RSNA:
    case kAuthWpa3Enterprise192:
    case kAuthWpa3Enterprise:
        return WifiJoinOutcome::Result::Enterprise;
    default:
        return WifiJoinOutcome::Result::Joined;
    }
}

WifiJoinOutcome outcomeOf(WifiJoinOutcome::Result result, DWORD code = 0, const QString &detail = QString())
{
    WifiJoinOutcome outcome;
    outcome.service = WifiJoinOutcome::Service::Wlan;
    outcome.result = result;
    outcome.code = code;
    outcome.detail = detail;
    return outcome;
}

// The profile's security, from what the interface reports of the network, or, for a network that
// no interface lists, WPA2-Personal with a password and open without one. A WPA3-Personal network
// gets SAE with transition mode, which also joins the WPA2 side of a WPA2/WPA3 network.
QString securityXml(const WLAN_AVAILABLE_NETWORK *seen, const QString &password)
{
    QString authentication = password.isEmpty() ? QStringLiteral("open") : QStringLiteral("WPA2PSK");
    QString encryption = password.isEmpty() ? QStringLiteral("none") : QStringLiteral("AES");
    bool transition = false;
    if (seen) {
        switch (int(seen->dot11DefaultAuthAlgorithm)) {
        case DOT11_AUTH_ALGO_WPA_PSK:
            authentication = QStringLiteral("WPAPSK");
            break;
        case DOT11_AUTH_ALGO_RSNA_PSK:
            authentication = QStringLiteral("WPA2PSK");
            break;
        case kAuthWpa3Sae:
            authentication = QStringLiteral("WPA3SAE");
            transition = true;
            break;
        case kAuthOwe:
            authentication = QStringLiteral("OWE");
            break;
        case DOT11_AUTH_ALGO_80211_OPEN:
            authentication = QStringLiteral("open");
            break;
        default:
            break;
        }
        encryption = seen->dot11DefaultCipherAlgorithm == DOT11_CIPHER_ALGO_TKIP   ? QStringLiteral("TKIP")
                     : seen->dot11DefaultCipherAlgorithm == DOT11_CIPHER_ALGO_NONE ? QStringLiteral("none")
                                                                                   : QStringLiteral("AES");
    }
    QString xml = QStringLiteral("<security><authEncryption><authentication>%1</authentication>"
                                 "<encryption>%2</encryption><useOneX>false</useOneX>")
                      .arg(authentication, encryption);
    if (transition)
        xml += QStringLiteral("<transitionMode xmlns=\"http://www.microsoft.com/networking/WLAN/profile/v4\">true"
                              "</transitionMode>");
    xml += QStringLiteral("</authEncryption>");
    if (authentication != QLatin1String("open") && authentication != QLatin1String("OWE"))
        xml += QStringLiteral("<sharedKey><keyType>passPhrase</keyType><protected>false</protected>"
                              "<keyMaterial>%1</keyMaterial></sharedKey>")
                   .arg(xmlEscaped(password));
    return xml + QStringLiteral("</security>");
}

QString profileXml(const QString &name, const QByteArray &ssid, bool hidden, const WLAN_AVAILABLE_NETWORK *seen,
                   const QString &password)
{
    return QStringLiteral("<?xml version=\"1.0\"?>"
                          "<WLANProfile xmlns=\"http://www.microsoft.com/networking/WLAN/profile/v1\">"
                          "<name>%1</name><SSIDConfig><SSID><hex>%2</hex></SSID><nonBroadcast>%3</nonBroadcast>"
                          "</SSIDConfig><connectionType>ESS</connectionType><connectionMode>manual</connectionMode>"
                          "<MSM>%4</MSM></WLANProfile>")
        .arg(xmlEscaped(name), QString::fromLatin1(ssid.toHex().toUpper()),
             hidden ? QStringLiteral("true") : QStringLiteral("false"), securityXml(seen, password));
}

QString reasonText(DWORD reason)
{
    WCHAR text[512] = {};
    if (WlanLibrary::get()->WlanReasonCodeToString(reason, DWORD(std::size(text)), text, nullptr) == ERROR_SUCCESS &&
        text[0])
        return QString::fromWCharArray(text);
    return QStringLiteral("reason %1").arg(reason);
}

bool sameSsid(const DOT11_SSID &a, const DOT11_SSID &b)
{
    return a.uSSIDLength == b.uSSIDLength &&
           std::equal(a.ucSSID, a.ucSSID + std::min<ULONG>(a.uSSIDLength, DOT11_SSID_MAX_LENGTH), b.ucSSID);
}

// What the auto-configuration service told, as the Qt thread sees it.
class Notifications : public QObject
{
public:
    struct Event
    {
        DWORD code = 0;
        GUID interfaceGuid{};
        DOT11_SSID ssid{}; // of a connection's end
        DWORD reason = 0;  // of a connection's end
    };

    // Runs on the service's thread: copies what it needs and queues it, touching nothing else.
    static void WINAPI notify(PWLAN_NOTIFICATION_DATA data, PVOID context)
    {
        if (data->NotificationSource != WLAN_NOTIFICATION_SOURCE_ACM)
            return;
        Event event;
        event.code = data->NotificationCode;
        event.interfaceGuid = data->InterfaceGuid;
        const bool ended = event.code == wlan_notification_acm_connection_complete ||
                           event.code == wlan_notification_acm_connection_attempt_fail;
        if (ended) {
            if (data->dwDataSize < sizeof(WLAN_CONNECTION_NOTIFICATION_DATA) || !data->pData)
                return;
            const auto *connection = static_cast<const WLAN_CONNECTION_NOTIFICATION_DATA *>(data->pData);
            event.ssid = connection->dot11Ssid;
            event.reason = connection->wlanReasonCode;
        } else if (event.code != wlan_notification_acm_scan_complete && event.code != wlan_notification_acm_scan_fail) {
            return;
        }
        auto *self = static_cast<Notifications *>(context);
        QMetaObject::invokeMethod(
            self,
            [self, event] {
                self->m_events.push_back(event);
                if (self->m_loop && self->m_done())
                    self->m_loop->quit();
            },
            Qt::QueuedConnection);
    }

    // Runs the Qt thread's events until `done` holds or the time is up; whether it holds.
    bool waitFor(const std::function<bool()> &done, int milliseconds)
    {
        if (done())
            return true;
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        m_loop = &loop;
        m_done = done;
        loop.exec();
        m_loop = nullptr;
        m_done = nullptr;
        return done();
    }

    const std::vector<Event> &events() const { return m_events; }

private:
    std::vector<Event> m_events;
    QEventLoop *m_loop = nullptr;
    std::function<bool()> m_done;
};

} // namespace

WifiJoinOutcome joinWifi(const QByteArray &ssid, const QString &password, bool hidden)
{
    using Result = WifiJoinOutcome::Result;
    if (ssid.isEmpty() || ssid.size() > DOT11_SSID_MAX_LENGTH) {
        return outcomeOf(Result::NotAName);
    }
    const WlanLibrary *api = WlanLibrary::get();
    if (!api) {
        return outcomeOf(Result::NoService);
    }
    // Before the handle, whose closing waits for the notifications that may still reach it.
    Notifications notifications;
    Handle handle;
    DWORD version = 0;
    if (const DWORD error = api->WlanOpenHandle(2, nullptr, &version, &handle.value); error != ERROR_SUCCESS) {
        handle.value = nullptr;
        return outcomeOf(Result::ServiceNotOpened, error);
    }
    WLAN_INTERFACE_INFO_LIST *rawInterfaces = nullptr;
    if (const DWORD error = api->WlanEnumInterfaces(handle.value, nullptr, &rawInterfaces); error != ERROR_SUCCESS) {
        return outcomeOf(Result::InterfacesNotListed, error);
    }
    const WlanMemory<WLAN_INTERFACE_INFO_LIST> interfaces(rawInterfaces);
    if (interfaces->dwNumberOfItems == 0) {
        return outcomeOf(Result::NoInterface);
    }
    // Registered before anything starts: a scan's or a connection's end may be told before the call returns.
    if (const DWORD error = api->WlanRegisterNotification(handle.value, WLAN_NOTIFICATION_SOURCE_ACM, TRUE,
                                                          &Notifications::notify, &notifications, nullptr, nullptr);
        error != ERROR_SUCCESS) {
        return outcomeOf(Result::NotFollowed, error);
    }
    struct Unregister
    {
        const WlanLibrary *api;
        HANDLE handle;
        ~Unregister()
        {
            api->WlanRegisterNotification(handle, WLAN_NOTIFICATION_SOURCE_NONE, TRUE, nullptr, nullptr, nullptr,
                                          nullptr);
        }
    } unregister{api, handle.value};

    // Every interface whose radio is on scans; the list is read once each has told that its scan
    // completed or failed, or after 4 s.
    bool denied = false;
    DWORD radiosOff = 0;
    std::vector<GUID> scanning;
    for (DWORD i = 0; i < interfaces->dwNumberOfItems; ++i) {
        const GUID &guid = interfaces->InterfaceInfo[i].InterfaceGuid;
        const DWORD error = api->WlanScan(handle.value, &guid, nullptr, nullptr, nullptr);
        denied = denied || error == ERROR_ACCESS_DENIED;
        radiosOff += error == kRadioOff ? 1 : 0;
        if (error == ERROR_SUCCESS)
            scanning.push_back(guid);
    }
    notifications.waitFor(
        [&] {
            return std::all_of(scanning.begin(), scanning.end(), [&](const GUID &guid) {
                const auto &events = notifications.events();
                return std::any_of(events.begin(), events.end(), [&](const Notifications::Event &event) {
                    return event.interfaceGuid == guid && (event.code == wlan_notification_acm_scan_complete ||
                                                           event.code == wlan_notification_acm_scan_fail);
                });
            });
        },
        kScanTimeoutMs);

    // The interface that sees the network strongest; for a hidden network that none lists, the one
    // with the best link to anything (the first when none sees anything).
    const WLAN_INTERFACE_INFO *chosen = nullptr;
    std::optional<WLAN_AVAILABLE_NETWORK> seen;
    const WLAN_INTERFACE_INFO *bestLink = &interfaces->InterfaceInfo[0];
    ULONG bestQuality = 0;
    std::vector<WlanMemory<WLAN_AVAILABLE_NETWORK_LIST>> lists;
    for (DWORD i = 0; i < interfaces->dwNumberOfItems; ++i) {
        const WLAN_INTERFACE_INFO &info = interfaces->InterfaceInfo[i];
        WLAN_AVAILABLE_NETWORK_LIST *rawList = nullptr;
        const DWORD error = api->WlanGetAvailableNetworkList(handle.value, &info.InterfaceGuid, 0, nullptr, &rawList);
        denied = denied || error == ERROR_ACCESS_DENIED;
        if (error != ERROR_SUCCESS)
            continue;
        lists.emplace_back(rawList);
        for (DWORD n = 0; n < rawList->dwNumberOfItems; ++n) {
            const WLAN_AVAILABLE_NETWORK &entry = rawList->Network[n];
            if (entry.wlanSignalQuality > bestQuality) {
                bestQuality = entry.wlanSignalQuality;
                bestLink = &info;
            }
            const QByteArray name(reinterpret_cast<const char *>(entry.dot11Ssid.ucSSID),
                                  qsizetype(std::min<ULONG>(entry.dot11Ssid.uSSIDLength, DOT11_SSID_MAX_LENGTH)));
            if (name == ssid && (!seen || entry.wlanSignalQuality > seen->wlanSignalQuality)) {
                seen = entry;
                chosen = &info;
            }
        }
    }

    const QString profileName = QString::fromUtf8(ssid);
    bool existingProfile = false;
    if (!chosen && denied) {
        // Windows withholds what the radio sees, not the profiles: a network that already has one
        // is joined with it, without a list.
        for (DWORD i = 0; i < interfaces->dwNumberOfItems && !chosen; ++i) {
            LPWSTR profile = nullptr;
            DWORD flags = 0;
            if (api->WlanGetProfile(handle.value, &interfaces->InterfaceInfo[i].InterfaceGuid,
                                    reinterpret_cast<LPCWSTR>(profileName.utf16()), nullptr, &profile, &flags,
                                    nullptr) == ERROR_SUCCESS) {
                api->WlanFreeMemory(profile);
                chosen = &interfaces->InterfaceInfo[i];
                existingProfile = true;
            }
        }
        if (!chosen)
            return outcomeOf(Result::LocationOff);
    }
    if (!chosen && radiosOff == interfaces->dwNumberOfItems)
        return outcomeOf(Result::RadioOff);
    if (!chosen && !hidden)
        return outcomeOf(Result::NotSeen);
    if (!chosen)
        chosen = bestLink;
    if (seen) {
        if (const Result why = refusal(*seen); why != Result::Joined)
            return outcomeOf(why);
    }

    // This user's profile, not one for every user of the machine.
    if (!existingProfile) {
        const QString xml = profileXml(profileName, ssid, hidden, seen ? &*seen : nullptr, password);
        DWORD profileReason = 0;
        if (const DWORD error =
                api->WlanSetProfile(handle.value, &chosen->InterfaceGuid, WLAN_PROFILE_USER,
                                    reinterpret_cast<LPCWSTR>(xml.utf16()), nullptr, TRUE, nullptr, &profileReason);
            error != ERROR_SUCCESS)
            return outcomeOf(Result::ProfileRefused, error,
                             profileReason ? reasonText(profileReason) : QStringLiteral("error %1").arg(error));
    }

    DOT11_SSID dot11Ssid{};
    dot11Ssid.uSSIDLength = ULONG(ssid.size());
    std::copy(ssid.cbegin(), ssid.cend(), reinterpret_cast<char *>(dot11Ssid.ucSSID));
    const GUID interfaceGuid = chosen->InterfaceGuid;
    WLAN_CONNECTION_PARAMETERS parameters{};
    parameters.wlanConnectionMode = wlan_connection_mode_profile;
    parameters.strProfile = reinterpret_cast<LPCWSTR>(profileName.utf16());
    parameters.pDot11Ssid = &dot11Ssid;
    parameters.dot11BssType = dot11_BSS_type_infrastructure;
    parameters.dwFlags = hidden ? WLAN_CONNECTION_HIDDEN_NETWORK : 0;
    if (const DWORD error = api->WlanConnect(handle.value, &interfaceGuid, &parameters, nullptr);
        error != ERROR_SUCCESS)
        return outcomeOf(Result::Refused, error);
    // The end of this connection: another one of the interface (the one being left, an automatic
    // one) may end meanwhile.
    std::optional<DWORD> reason;
    notifications.waitFor(
        [&] {
            for (const Notifications::Event &event : notifications.events())
                if (event.interfaceGuid == interfaceGuid && sameSsid(event.ssid, dot11Ssid) &&
                    (event.code == wlan_notification_acm_connection_complete ||
                     event.code == wlan_notification_acm_connection_attempt_fail)) {
                    reason = event.reason;
                    return true;
                }
            return false;
        },
        kActivationTimeoutMs);
    if (!reason) {
        WifiJoinOutcome unfinished = outcomeOf(Result::Unfinished);
        unfinished.seconds = kActivationTimeoutMs / 1000;
        return unfinished;
    }
    if (*reason != kReasonSuccess)
        return outcomeOf(Result::Failed, *reason, reasonText(*reason));
    WifiJoinOutcome joined = outcomeOf(Result::Joined);
    joined.interfaceName = QString::fromWCharArray(chosen->strInterfaceDescription);
    return joined;
}

} // namespace ORVIK
