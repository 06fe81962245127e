// What an attacker plants in a working folder under the name of a system piece (netsh.exe or
// wlanapi.dll): run or loaded, it leaves a file named after itself plus ".ran" beside itself.
#include <windows.h>

namespace {

void leaveMarker(HMODULE self)
{
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    lstrcatW(path, L".ran");
    const HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
}

} // namespace

#ifdef ORVIK_PLANTED_DLL
extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        leaveMarker(self);
    return TRUE;
}
#else
int main()
{
    leaveMarker(nullptr);
    return 0;
}
#endif
