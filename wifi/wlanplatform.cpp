#include "wifi/wlanplatform_p.h"

namespace ORVIK {

namespace {

const WlanFunctions *installedFunctions = nullptr;

#ifndef _WIN32
// No WLAN service on this system: opening fails as wlanapi does when the service is not
// running, so the scan goes on to its command. Nothing else is reachable without a handle.
constexpr DWORD kErrorServiceNotActive = 1062;

DWORD noServiceOpen(DWORD, PVOID, PDWORD, PHANDLE clientHandle)
{
    if (clientHandle)
        *clientHandle = nullptr;
    return kErrorServiceNotActive;
}

DWORD noServiceEnum(HANDLE, PVOID, PWLAN_INTERFACE_INFO_LIST *interfaceList)
{
    if (interfaceList)
        *interfaceList = nullptr;
    return kErrorServiceNotActive;
}

DWORD noServiceScan(HANDLE, const GUID *, const PDOT11_SSID, const PWLAN_RAW_DATA, PVOID)
{
    return kErrorServiceNotActive;
}

DWORD noServiceList(HANDLE, const GUID *, DWORD, PVOID, PWLAN_AVAILABLE_NETWORK_LIST *networkList)
{
    if (networkList)
        *networkList = nullptr;
    return kErrorServiceNotActive;
}

void noServiceFree(PVOID)
{}

DWORD noServiceClose(HANDLE, PVOID)
{
    return kErrorServiceNotActive;
}

const WlanFunctions kNoService = {&noServiceOpen, &noServiceEnum, &noServiceScan,
                                  &noServiceList, &noServiceFree, &noServiceClose};
#endif

} // namespace

#ifndef _WIN32
const WlanFunctions &platformWlanFunctions()
{
    return kNoService;
}
#endif

const WlanFunctions &wlanFunctions()
{
    return installedFunctions ? *installedFunctions : platformWlanFunctions();
}

const WlanFunctions *installWlanFunctions(const WlanFunctions *functions)
{
    const WlanFunctions *previous = installedFunctions;
    installedFunctions = functions;
    return previous;
}

} // namespace ORVIK
