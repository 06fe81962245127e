#pragma once

// The Windows WLAN API, loaded at run time. Windows Server and Remote Desktop hosts have no
// wlanapi.dll until the Wireless LAN feature is added, so a DLL that imported it would not load
// there at all. It is looked for in the system folder only: never beside the program, nor in the
// working folder, where anyone could put a DLL of the same name. Loaded once for the process and
// kept, as an imported DLL would be (FreeLibrary must not run in DllMain, where a static would free it).

#include <windows.h>
// windows.h first: wlanapi.h relies on its types.
#include <wlanapi.h>

namespace ORVIK {

struct WlanLibrary
{
    decltype(&::WlanOpenHandle) WlanOpenHandle = nullptr;
    decltype(&::WlanCloseHandle) WlanCloseHandle = nullptr;
    decltype(&::WlanEnumInterfaces) WlanEnumInterfaces = nullptr;
    decltype(&::WlanScan) WlanScan = nullptr;
    decltype(&::WlanGetAvailableNetworkList) WlanGetAvailableNetworkList = nullptr;
    decltype(&::WlanFreeMemory) WlanFreeMemory = nullptr;
    decltype(&::WlanSetProfile) WlanSetProfile = nullptr;
    decltype(&::WlanGetProfile) WlanGetProfile = nullptr;
    decltype(&::WlanConnect) WlanConnect = nullptr;
    decltype(&::WlanRegisterNotification) WlanRegisterNotification = nullptr;
    decltype(&::WlanReasonCodeToString) WlanReasonCodeToString = nullptr;

    // The system's WLAN API, or null when it has none (or one that lacks a function used here):
    // then everything behaves as when the WLAN service cannot be opened.
    static const WlanLibrary *get()
    {
        static const WlanLibrary library = load();
        return library.WlanOpenHandle ? &library : nullptr;
    }

private:
    template <typename Function>
    static bool resolve(HMODULE module, const char *name, Function &function)
    {
        // void (*)() is the one function type that converts to and from every other without a warning.
        function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
        return function != nullptr;
    }

    static WlanLibrary load()
    {
        WlanLibrary library;
        const HMODULE module = LoadLibraryExW(L"wlanapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module)
            return library;
        const bool complete = resolve(module, "WlanCloseHandle", library.WlanCloseHandle) &&
                              resolve(module, "WlanEnumInterfaces", library.WlanEnumInterfaces) &&
                              resolve(module, "WlanScan", library.WlanScan) &&
                              resolve(module, "WlanGetAvailableNetworkList", library.WlanGetAvailableNetworkList) &&
                              resolve(module, "WlanFreeMemory", library.WlanFreeMemory) &&
                              resolve(module, "WlanSetProfile", library.WlanSetProfile) &&
                              resolve(module, "WlanGetProfile", library.WlanGetProfile) &&
                              resolve(module, "WlanConnect", library.WlanConnect) &&
                              resolve(module, "WlanRegisterNotification", library.WlanRegisterNotification) &&
                              resolve(module, "WlanReasonCodeToString", library.WlanReasonCodeToString);
        // Open last: a library that lacks any of them counts as absent.
        if (!complete || !resolve(module, "WlanOpenHandle", library.WlanOpenHandle)) {
            library = WlanLibrary();
            FreeLibrary(module);
        }
        return library;
    }
};

} // namespace ORVIK
