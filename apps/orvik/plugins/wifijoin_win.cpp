// Joining on Windows: the WLAN API. A profile for the network is set on the interface that sees it
// best, then connected; the outcome arrives as a notification of the auto-configuration service.
#include "apps/orvik/plugins/wifijoin.h"

#include "apps/orvik/cli/errorline.h"
#include "wifi/wlanlibrary_win.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace ORVIK {

namespace {

constexpr int kActivationTimeoutMs = 90000;
constexpr DWORD kReasonSuccess = 0; // WLAN_REASON_CODE_SUCCESS, which MinGW's headers lack

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

// The profile's security, from what the interface reports of the network, or, for a network that
// no interface lists, WPA2-Personal with a password and open without one.
QString securityXml(const WLAN_AVAILABLE_NETWORK *seen, const QString &password)
{
    QString authentication = password.isEmpty() ? QStringLiteral("open") : QStringLiteral("WPA2PSK");
    QString encryption = password.isEmpty() ? QStringLiteral("none") : QStringLiteral("AES");
    if (seen) {
        switch (seen->dot11DefaultAuthAlgorithm) {
        case DOT11_AUTH_ALGO_WPA_PSK:
            authentication = QStringLiteral("WPAPSK");
            break;
        case DOT11_AUTH_ALGO_RSNA_PSK:
            authentication = QStringLiteral("WPA2PSK");
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
                                 "<encryption>%2</encryption><useOneX>false</useOneX></authEncryption>")
                      .arg(authentication, encryption);
    if (authentication != QLatin1String("open"))
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

QString systemText(DWORD error)
{
    return QStringLiteral("error %1").arg(error);
}

// The outcome of one connection, told by the service on a thread of its own.
struct Attempt
{
    GUID interfaceGuid{};
    DOT11_SSID ssid{};
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<DWORD> reason; // kReasonSuccess once connected

    static void WINAPI notify(PWLAN_NOTIFICATION_DATA data, PVOID context)
    {
        auto *attempt = static_cast<Attempt *>(context);
        if (data->NotificationSource != WLAN_NOTIFICATION_SOURCE_ACM || data->InterfaceGuid != attempt->interfaceGuid ||
            data->dwDataSize < sizeof(WLAN_CONNECTION_NOTIFICATION_DATA))
            return;
        if (data->NotificationCode != wlan_notification_acm_connection_complete &&
            data->NotificationCode != wlan_notification_acm_connection_attempt_fail)
            return;
        const auto *connection = static_cast<const WLAN_CONNECTION_NOTIFICATION_DATA *>(data->pData);
        // Another connection of the interface (the one being left, an automatic one) may end meanwhile.
        const DOT11_SSID &ssid = connection->dot11Ssid;
        if (ssid.uSSIDLength != attempt->ssid.uSSIDLength ||
            !std::equal(ssid.ucSSID, ssid.ucSSID + std::min<ULONG>(ssid.uSSIDLength, DOT11_SSID_MAX_LENGTH),
                        attempt->ssid.ucSSID))
            return;
        {
            std::lock_guard<std::mutex> lock(attempt->mutex);
            if (attempt->reason)
                return;
            attempt->reason = connection->wlanReasonCode;
        }
        attempt->changed.notify_all();
    }
};

} // namespace

int joinWifiNetwork(const QByteArray &ssid, const QString &password, bool hidden, QTextStream &out, QTextStream &err)
{
    const QString network = QLatin1Char('"') + QString::fromUtf8(ssid) + QLatin1Char('"');
    if (ssid.isEmpty() || ssid.size() > DOT11_SSID_MAX_LENGTH) {
        ErrorLine::print(err, network + QStringLiteral(" is not a WiFi network name (1 to 32 bytes)"));
        return 1;
    }
    const WlanLibrary *api = WlanLibrary::get();
    if (!api) {
        ErrorLine::print(err, QStringLiteral("joining a WiFi network needs the WLAN API, which this Windows lacks "
                                             "(Wireless LAN feature)"));
        return 1;
    }
    Attempt attempt; // before the handle, whose closing ends the notifications that may still reach it
    Handle handle;
    DWORD version = 0;
    if (const DWORD error = api->WlanOpenHandle(2, nullptr, &version, &handle.value); error != ERROR_SUCCESS) {
        handle.value = nullptr;
        ErrorLine::print(err,
                         QStringLiteral("joining a WiFi network needs the WLAN AutoConfig service (WlanOpenHandle: "
                                        "%1)")
                             .arg(systemText(error)));
        return 1;
    }
    WLAN_INTERFACE_INFO_LIST *rawInterfaces = nullptr;
    if (const DWORD error = api->WlanEnumInterfaces(handle.value, nullptr, &rawInterfaces); error != ERROR_SUCCESS) {
        ErrorLine::print(err, QStringLiteral("the WLAN service did not list its interfaces (%1); %2 was not joined")
                                  .arg(systemText(error), network));
        return 1;
    }
    const WlanMemory<WLAN_INTERFACE_INFO_LIST> interfaces(rawInterfaces);
    if (interfaces->dwNumberOfItems == 0) {
        ErrorLine::print(err, QStringLiteral("there is no WiFi interface to join %1 on").arg(network));
        return 1;
    }

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
        if (api->WlanGetAvailableNetworkList(handle.value, &info.InterfaceGuid, 0, nullptr, &rawList) != ERROR_SUCCESS)
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
    if (!chosen && !hidden) {
        ErrorLine::print(err, QStringLiteral("no WiFi device sees %1; if it is hidden, add --hidden").arg(network));
        return 1;
    }
    if (!chosen)
        chosen = bestLink;

    const QString profileName = QString::fromUtf8(ssid);
    const QString xml = profileXml(profileName, ssid, hidden, seen ? &*seen : nullptr, password);
    DWORD profileReason = 0;
    if (const DWORD error =
            api->WlanSetProfile(handle.value, &chosen->InterfaceGuid, 0, reinterpret_cast<LPCWSTR>(xml.utf16()),
                                nullptr, TRUE, nullptr, &profileReason);
        error != ERROR_SUCCESS) {
        ErrorLine::print(err, QStringLiteral("the WLAN service refused a profile for %1: %2")
                                  .arg(network, profileReason ? reasonText(profileReason) : systemText(error)));
        return 1;
    }

    DOT11_SSID dot11Ssid{};
    dot11Ssid.uSSIDLength = ULONG(ssid.size());
    std::copy(ssid.cbegin(), ssid.cend(), reinterpret_cast<char *>(dot11Ssid.ucSSID));
    attempt.interfaceGuid = chosen->InterfaceGuid;
    attempt.ssid = dot11Ssid;
    // Registered before the connection starts: its outcome may be told before WlanConnect returns.
    if (const DWORD error = api->WlanRegisterNotification(handle.value, WLAN_NOTIFICATION_SOURCE_ACM, TRUE,
                                                          &Attempt::notify, &attempt, nullptr, nullptr);
        error != ERROR_SUCCESS) {
        ErrorLine::print(err, QStringLiteral("cannot follow the WLAN service's notifications (%1); %2 was not joined")
                                  .arg(systemText(error), network));
        return 1;
    }
    const auto unregister = [&] {
        api->WlanRegisterNotification(handle.value, WLAN_NOTIFICATION_SOURCE_NONE, TRUE, nullptr, nullptr, nullptr,
                                      nullptr);
    };
    WLAN_CONNECTION_PARAMETERS parameters{};
    parameters.wlanConnectionMode = wlan_connection_mode_profile;
    parameters.strProfile = reinterpret_cast<LPCWSTR>(profileName.utf16());
    parameters.pDot11Ssid = &dot11Ssid;
    parameters.dot11BssType = dot11_BSS_type_infrastructure;
    parameters.dwFlags = hidden ? WLAN_CONNECTION_HIDDEN_NETWORK : 0;
    if (const DWORD error = api->WlanConnect(handle.value, &chosen->InterfaceGuid, &parameters, nullptr);
        error != ERROR_SUCCESS) {
        unregister();
        ErrorLine::print(err, QStringLiteral("the WLAN service did not join %1 (%2)").arg(network, systemText(error)));
        return 1;
    }
    std::optional<DWORD> reason;
    {
        std::unique_lock<std::mutex> lock(attempt.mutex);
        attempt.changed.wait_for(lock, std::chrono::milliseconds(kActivationTimeoutMs),
                                 [&] { return attempt.reason.has_value(); });
        reason = attempt.reason;
    }
    unregister();
    const QString interfaceName = QString::fromWCharArray(chosen->strInterfaceDescription);
    if (!reason) {
        ErrorLine::print(err, QStringLiteral("joining %1 did not finish within %2 s")
                                  .arg(network, QString::number(kActivationTimeoutMs / 1000)));
        return 1;
    }
    if (*reason != kReasonSuccess) {
        ErrorLine::print(err, QStringLiteral("joining %1 failed: %2 (WLAN reason %3)")
                                  .arg(network, reasonText(*reason), QString::number(*reason)));
        return 1;
    }
    out << "joined " << network << " on " << interfaceName << Qt::endl;
    return 0;
}

} // namespace ORVIK
