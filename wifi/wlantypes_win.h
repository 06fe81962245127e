#pragma once

// The WLAN types on Windows: wlanapi's own. ORVIK_WLAN_CALL is the calling convention of its functions.
#include <windows.h>
// windows.h first: wlanapi.h relies on its types.
#include <wlanapi.h>
#define ORVIK_WLAN_CALL WINAPI
