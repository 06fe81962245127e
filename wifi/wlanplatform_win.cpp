// The Windows table: wlanapi itself. Built only for Windows, where the module links wlanapi.
#include "wifi/wlanplatform_p.h"

namespace ORVIK {

namespace {

const WlanFunctions kWlanApi = {&::WlanOpenHandle, &::WlanEnumInterfaces, &::WlanScan, &::WlanGetAvailableNetworkList,
                                &::WlanFreeMemory, &::WlanCloseHandle};

} // namespace

const WlanFunctions &platformWlanFunctions()
{
    return kWlanApi;
}

} // namespace ORVIK
