#include "wifi/wlanplatform_p.h"

namespace ORVIK {

namespace {

const WlanFunctions *installedFunctions = nullptr;

} // namespace

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
