// The Windows table: wlanapi, loaded at run time from the system folder (wifi/wlanlibrary_win.h).
// Where the system has no WLAN API, opening a handle fails as it does when the service is stopped,
// and the scan falls back to netsh.
#include "wifi/wlanlibrary_win.h"
#include "wifi/wlanplatform_p.h"

namespace ORVIK {

namespace {

DWORD WINAPI noServiceOpen(DWORD, PVOID, PDWORD, PHANDLE clientHandle)
{
    *clientHandle = nullptr;
    return ERROR_SERVICE_NOT_ACTIVE;
}

// Never reached once opening has failed; there for a table without holes.
DWORD WINAPI noServiceEnum(HANDLE, PVOID, PWLAN_INTERFACE_INFO_LIST *list)
{
    *list = nullptr;
    return ERROR_INVALID_HANDLE;
}
DWORD WINAPI noServiceScan(HANDLE, const GUID *, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    return ERROR_INVALID_HANDLE;
}
DWORD WINAPI noServiceList(HANDLE, const GUID *, DWORD, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *list)
{
    *list = nullptr;
    return ERROR_INVALID_HANDLE;
}
void WINAPI noServiceFree(PVOID)
{}
DWORD WINAPI noServiceClose(HANDLE, PVOID)
{
    return ERROR_INVALID_HANDLE;
}

const WlanFunctions kNoService = {&noServiceOpen, &noServiceEnum, &noServiceScan,
                                  &noServiceList, &noServiceFree, &noServiceClose};

WlanFunctions tableOf(const WlanLibrary *api)
{
    if (!api)
        return kNoService;
    return {api->WlanOpenHandle, api->WlanEnumInterfaces, api->WlanScan, api->WlanGetAvailableNetworkList,
            api->WlanFreeMemory, api->WlanCloseHandle};
}

} // namespace

const WlanFunctions &platformWlanFunctions()
{
    static const WlanFunctions table = tableOf(WlanLibrary::get());
    return table;
}

} // namespace ORVIK
