// A stand-in for the WLAN client library. Windows tests load it in place of the system's
// wlanapi.dll; elsewhere FakeWlan installs its scan operations in process as the scan's table. It
// serves the interfaces and networks of a scenario file (ORVIK_WLAN_SCENARIO), read again at every
// WlanOpenHandle, and appends one line per call to a log file (ORVIK_WLAN_LOG), naming interface I
// by its index: "open", "enum", "scan I", "list I flags=F" (each " failed" when refused),
// "free interfaces|list I|profile" (left out for a list freed right after the read that gave it),
// "close", "notify SOURCE", "get profile I NAME", "profile I flags=F overwrite=B XML", "connect I
// mode=M profile=NAME flags=F"; I is -1 for an interface of none. It checks the caller as the
// service would: a wrong client version, an unknown handle or memory, or a handle closed before
// what it gave was freed, is logged as "misuse: ...". Scenario lines:
//   open CODE | enum CODE           the result of WlanOpenHandle / WlanEnumInterfaces
//   listing CODE                    the result of every WlanScan and WlanGetAvailableNetworkList:
//                                   5 (ERROR_ACCESS_DENIED) is Windows 11 with location access off
//   connect REASON [TEXT]           the reason that WlanConnect's notification carries (Windows)
//   interface DESCRIPTION           a new interface; without a poll its list calls fail
//   radio-off I                     interface I's radio is switched off: its scans and lists fail
//   profile I NAME                  interface I has a profile of this name (ASCII), listed as Windows
//                                   lists profiles: a network of that name gets a second entry
//   poll                            the interface's next list, read from k seconds after WlanScan
//   network QUALITY SSIDHEX|- LENGTH AUTH CIPHER
// A scan's completion is told, as Windows does, from a thread of the service's (Windows). Every
// profile XML that WlanSetProfile receives is also kept whole as a file of its own in the folder
// that ORVIK_WLAN_PROFILE_DIR names, if any, for the schema check.
#include "wifi/wlanplatform_p.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
// Windows' codes, which the platform header leaves out.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
#define WINAPI
#endif
constexpr DWORD kRadioOff = 0x80342002; // ERROR_NDIS_DOT11_POWER_STATE_INVALID

namespace {

struct Interface
{
    std::string description;
    std::vector<std::vector<WLAN_AVAILABLE_NETWORK>> polls;
    std::chrono::steady_clock::time_point scanned;
    bool radioOff = false;
    std::vector<std::string> profiles;
};

// Memory handed out, by the handle it came through; what it is names it when it is freed.
struct Given
{
    HANDLE handle;
    std::string what;
};

struct State
{
    std::recursive_mutex mutex;
    DWORD openResult = 0;
    DWORD enumResult = 0;
    DWORD listingResult = 0;
    DWORD connectReason = 0;
    std::string reasonText;
    std::vector<Interface> interfaces;
    std::map<void *, Given> live;
    void *pending = nullptr; // the list that the last call logged gave
    std::set<HANDLE> handles;
    std::uintptr_t nextHandle = 0x100;
    std::thread notifier;
#ifdef _WIN32
    WLAN_NOTIFICATION_CALLBACK callback = nullptr;
    PVOID context = nullptr;
#endif
};

State &state()
{
    static State s;
    return s;
}

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

void log(const std::string &line)
{
    state().pending = nullptr;
    if (std::FILE *file = std::fopen(env("ORVIK_WLAN_LOG").c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

// Interface i has the GUID {0000100i-0000-4000-8000-0000000000ii}.
GUID guidOf(std::size_t index)
{
    return GUID{DWORD(0x1000 + index), 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, UCHAR(index)}};
}

// A handle that the service did not give is a misuse.
bool known(HANDLE handle)
{
    const bool given = state().handles.count(handle) != 0;
    if (!given)
        log("misuse: an unknown handle");
    return given;
}

// The interface's index, -1 for a GUID of none.
int indexOf(HANDLE handle, const GUID *guid)
{
    if (!known(handle))
        return -1;
    for (std::size_t i = 0; guid && i < state().interfaces.size(); ++i)
        if (const GUID ith = guidOf(i); std::memcmp(guid, &ith, sizeof ith) == 0)
            return int(i);
    return -1;
}

Interface *interfaceAt(int index)
{
    return index < 0 ? nullptr : &state().interfaces[std::size_t(index)];
}

void load()
{
    State &s = state();
    s.openResult = s.enumResult = s.listingResult = s.connectReason = 0;
    s.reasonText.clear();
    s.interfaces.clear();
    std::ifstream file(env("ORVIK_WLAN_SCENARIO"));
    for (std::string line; std::getline(file, line);) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == "open") {
            in >> s.openResult;
        } else if (word == "enum") {
            in >> s.enumResult;
        } else if (word == "listing") {
            in >> s.listingResult;
        } else if (word == "radio-off" || word == "profile") {
            std::size_t index = 0;
            in >> index;
            if (index >= s.interfaces.size())
                continue;
            if (word == "radio-off") {
                s.interfaces[index].radioOff = true;
            } else {
                s.interfaces[index].profiles.emplace_back();
                std::getline(in >> std::ws, s.interfaces[index].profiles.back());
            }
        } else if (word == "connect") {
            in >> s.connectReason >> std::ws;
            std::getline(in, s.reasonText);
        } else if (word == "interface") {
            s.interfaces.emplace_back();
            std::getline(in >> std::ws, s.interfaces.back().description);
        } else if (word == "poll" && !s.interfaces.empty()) {
            s.interfaces.back().polls.emplace_back();
        } else if (word == "network" && !s.interfaces.empty() && !s.interfaces.back().polls.empty()) {
            WLAN_AVAILABLE_NETWORK network{};
            std::string hex;
            int auth = 0, cipher = 0;
            in >> network.wlanSignalQuality >> hex >> network.dot11Ssid.uSSIDLength >> auth >> cipher;
            for (std::size_t i = 0; hex != "-" && i + 1 < hex.size() && i < 2 * DOT11_SSID_MAX_LENGTH; i += 2)
                network.dot11Ssid.ucSSID[i / 2] = UCHAR(std::stoul(hex.substr(i, 2), nullptr, 16));
#ifdef _WIN32
            network.dot11BssType = dot11_BSS_type_infrastructure;
            network.uNumberOfBssids = 1;
            network.bNetworkConnectable = TRUE;
            network.bSecurityEnabled = auth != DOT11_AUTH_ALGO_80211_OPEN;
            network.dot11DefaultAuthAlgorithm = DOT11_AUTH_ALGORITHM(auth);
            network.dot11DefaultCipherAlgorithm = DOT11_CIPHER_ALGORITHM(cipher);
#endif
            s.interfaces.back().polls.back().push_back(network);
        }
    }
}

// A list of count items (the list type declares one already), handed out and tracked.
template <typename List, typename Item>
List *allocate(std::size_t count, HANDLE handle, const std::string &what)
{
    auto *list = static_cast<List *>(std::calloc(1, sizeof(List) + count * sizeof(Item)));
    state().live[list] = {handle, what};
    list->dwNumberOfItems = DWORD(count);
    return list;
}

void joinNotifier()
{
    if (state().notifier.joinable())
        state().notifier.join();
}

} // namespace

extern "C" {

DWORD WINAPI WlanOpenHandle(DWORD version, PVOID, PDWORD negotiated, PHANDLE handle)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    load();
    if (version != 2)
        log("misuse: client version " + std::to_string(version));
    if (state().openResult != 0) {
        log("open failed");
        return state().openResult;
    }
    *negotiated = version;
    *handle = reinterpret_cast<HANDLE>(state().nextHandle++);
    state().handles.insert(*handle);
    log("open");
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanCloseHandle(HANDLE handle, PVOID)
{
    joinNotifier();
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    if (!known(handle))
        return ERROR_INVALID_HANDLE;
    state().handles.erase(handle);
    // What came through the handle is freed before it is closed.
    for (const auto &[memory, given] : state().live)
        if (given.handle == handle)
            log("misuse: " + given.what + " not freed before the close");
    log("close");
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanEnumInterfaces(HANDLE handle, PVOID, PWLAN_INTERFACE_INFO_LIST *result)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const auto &interfaces = state().interfaces;
    const DWORD error = !known(handle) ? ERROR_INVALID_HANDLE : state().enumResult;
    if (error != ERROR_SUCCESS) {
        log("enum failed");
        return error;
    }
    *result = allocate<WLAN_INTERFACE_INFO_LIST, WLAN_INTERFACE_INFO>(interfaces.size(), handle, "interfaces");
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        WLAN_INTERFACE_INFO &info = (*result)->InterfaceInfo[i];
        info.InterfaceGuid = guidOf(i);
#ifdef _WIN32
        info.isState = wlan_interface_state_disconnected;
#endif
        const std::string &description = interfaces[i].description;
        std::copy_n(description.begin(), std::min<std::size_t>(description.size(), 255), info.strInterfaceDescription);
    }
    log("enum");
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanScan(HANDLE handle, const GUID *guid, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const int index = indexOf(handle, guid);
    Interface *radio = interfaceAt(index);
    const DWORD result = !radio                       ? ERROR_INVALID_PARAMETER
                         : state().listingResult != 0 ? state().listingResult
                         : radio->radioOff            ? kRadioOff
                                                      : ERROR_SUCCESS;
    log("scan " + std::to_string(index) + (result == ERROR_SUCCESS ? "" : " failed"));
    if (result != ERROR_SUCCESS)
        return result;
    radio->scanned = std::chrono::steady_clock::now();
#ifdef _WIN32
    if (state().callback) {
        joinNotifier();
        state().notifier = std::thread([callback = state().callback, context = state().context, guid = *guid] {
            WLAN_NOTIFICATION_DATA data{WLAN_NOTIFICATION_SOURCE_ACM, wlan_notification_acm_scan_complete, guid, 0,
                                        nullptr};
            callback(&data, context);
        });
    }
#endif
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanGetAvailableNetworkList(HANDLE handle, const GUID *guid, DWORD flags, PVOID,
                                         PWLAN_AVAILABLE_NETWORK_LIST *result)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const int index = indexOf(handle, guid);
    const Interface *radio = interfaceAt(index);
    const std::string what = "list " + std::to_string(index);
    const DWORD refused = !radio || radio->polls.empty() ? ERROR_NOT_READY
                          : state().listingResult != 0   ? state().listingResult
                          : radio->radioOff              ? kRadioOff
                                                         : ERROR_SUCCESS;
    log(what + " flags=" + std::to_string(flags) + (refused == ERROR_SUCCESS ? "" : " failed"));
    if (refused != ERROR_SUCCESS)
        return refused;
    const auto since = std::chrono::steady_clock::now() - radio->scanned;
    const auto period = std::size_t(std::chrono::duration_cast<std::chrono::seconds>(since).count());
    // As Windows lists them: one entry per profile of a network, and one without a profile.
    std::vector<WLAN_AVAILABLE_NETWORK> poll = radio->polls[std::min(period, radio->polls.size() - 1)];
    for (std::size_t i = 0, networks = poll.size(); i < networks; ++i)
        for (const std::string &profile : radio->profiles) {
            const DOT11_SSID &ssid = poll[i].dot11Ssid;
            if (profile.size() != ssid.uSSIDLength || !std::equal(profile.begin(), profile.end(), ssid.ucSSID))
                continue;
            WLAN_AVAILABLE_NETWORK entry = poll[i];
            std::copy(profile.begin(), profile.end(), entry.strProfileName);
            entry.dwFlags = 2; // WLAN_AVAILABLE_NETWORK_HAS_PROFILE
            poll.push_back(entry);
        }
    *result = allocate<WLAN_AVAILABLE_NETWORK_LIST, WLAN_AVAILABLE_NETWORK>(poll.size(), handle, what);
    std::copy(poll.begin(), poll.end(), (*result)->Network);
    state().pending = *result;
    return ERROR_SUCCESS;
}

void WINAPI WlanFreeMemory(PVOID memory)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const auto given = state().live.find(memory);
    if (given == state().live.end())
        return log("misuse: memory freed that was not given, or freed again");
    // A list freed right after the read that gave it: the read's line says it all.
    if (memory != state().pending)
        log("free " + given->second.what);
    state().pending = nullptr;
    state().live.erase(given);
    std::free(memory);
}

#ifdef _WIN32
namespace {
std::string utf8(const WCHAR *text)
{
    // The size counts the terminating null, which the string holds beyond its end.
    const int size = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    std::string bytes(std::size_t(std::max(size - 1, 0)), '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    return bytes;
}
} // namespace

// The profile of that name on the interface, if the scenario gives it one; the XML is a stub.
DWORD WINAPI WlanGetProfile(HANDLE handle, const GUID *guid, LPCWSTR name, PVOID, LPWSTR *xml, DWORD *flags, PDWORD)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const int index = indexOf(handle, guid);
    const Interface *radio = interfaceAt(index);
    const std::string wanted = utf8(name);
    const bool found =
        radio && std::find(radio->profiles.begin(), radio->profiles.end(), wanted) != radio->profiles.end();
    log("get profile " + std::to_string(index) + ' ' + wanted + (found ? "" : " failed"));
    if (!found)
        return radio ? ERROR_NOT_FOUND : ERROR_INVALID_PARAMETER;
    static const WCHAR stub[] = L"<WLANProfile/>";
    *xml = static_cast<LPWSTR>(std::calloc(1, sizeof stub));
    std::memcpy(*xml, stub, sizeof stub);
    state().live[*xml] = {handle, "profile"};
    if (flags)
        *flags = WLAN_PROFILE_USER;
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanSetProfile(HANDLE handle, const GUID *guid, DWORD flags, LPCWSTR xml, LPCWSTR, BOOL overwrite, PVOID,
                            DWORD *reason)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const int index = indexOf(handle, guid);
    // Every profile, whole, in UTF-8: the tests check them against the profile schema.
    log("profile " + std::to_string(index) + " flags=" + std::to_string(flags) +
        " overwrite=" + std::to_string(overwrite) + " " + utf8(xml));
    if (const std::string folder = env("ORVIK_WLAN_PROFILE_DIR"); !folder.empty()) {
        static int count = 0;
        const std::string name =
            folder + "/profile-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count) + ".xml";
        if (std::FILE *file = std::fopen(name.c_str(), "wb")) {
            std::fputs(utf8(xml).c_str(), file);
            std::fclose(file);
        }
    }
    *reason = 0;
    return index >= 0 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

DWORD WINAPI WlanRegisterNotification(HANDLE handle, DWORD source, BOOL, WLAN_NOTIFICATION_CALLBACK callback,
                                      PVOID context, PVOID, PDWORD)
{
    if (source == WLAN_NOTIFICATION_SOURCE_NONE)
        joinNotifier();
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    log("notify " + std::to_string(source));
    state().callback = source == WLAN_NOTIFICATION_SOURCE_NONE ? nullptr : callback;
    state().context = context;
    return known(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// The outcome is told from a thread of the service's, as Windows does, possibly before WlanConnect returns.
DWORD WINAPI WlanConnect(HANDLE handle, const GUID *guid, const PWLAN_CONNECTION_PARAMETERS parameters, PVOID)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const int index = indexOf(handle, guid);
    log("connect " + std::to_string(index) + " mode=" + std::to_string(parameters->wlanConnectionMode) +
        " profile=" + utf8(parameters->strProfile) + " flags=" + std::to_string(parameters->dwFlags));
    if (index < 0)
        return ERROR_INVALID_PARAMETER;
    joinNotifier();
    const WLAN_NOTIFICATION_CALLBACK callback = state().callback;
    // Another network's connection of the interface ends first, as one that is being left may.
    const DOT11_SSID other{9, {'e', 'l', 's', 'e', 'w', 'h', 'e', 'r', 'e'}};
    const DOT11_SSID ssid = parameters->pDot11Ssid ? *parameters->pDot11Ssid : DOT11_SSID{};
    if (callback)
        state().notifier = std::thread(
            [callback, context = state().context, guid = *guid, reason = state().connectReason, other, ssid] {
                for (const auto &[network, code] : {std::pair{other, DWORD(0)}, {ssid, reason}}) {
                    WLAN_CONNECTION_NOTIFICATION_DATA connection{};
                    connection.wlanConnectionMode = wlan_connection_mode_profile;
                    connection.dot11Ssid = network;
                    connection.wlanReasonCode = code;
                    WLAN_NOTIFICATION_DATA data{WLAN_NOTIFICATION_SOURCE_ACM, wlan_notification_acm_connection_complete,
                                                guid, sizeof connection, &connection};
                    callback(&data, context);
                }
            });
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanReasonCodeToString(DWORD reason, DWORD size, PWCHAR buffer, PVOID)
{
    std::lock_guard<std::recursive_mutex> lock(state().mutex);
    const std::string &reasonText = state().reasonText;
    if (reason != state().connectReason || reasonText.empty() || size <= reasonText.size())
        return ERROR_INVALID_PARAMETER;
    std::copy(reasonText.begin(), reasonText.end(), buffer);
    buffer[reasonText.size()] = 0;
    return ERROR_SUCCESS;
}

#endif

} // extern "C"

#ifndef _WIN32
const ORVIK::WlanFunctions &standInWlanFunctions()
{
    static const ORVIK::WlanFunctions functions = {&WlanOpenHandle, &WlanEnumInterfaces,
                                                   &WlanScan,       &WlanGetAvailableNetworkList,
                                                   &WlanFreeMemory, &WlanCloseHandle};
    return functions;
}
#endif
