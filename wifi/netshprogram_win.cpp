#include "wifi/wifiscan_p.h"

#include <windows.h>

namespace ORVIK {

QString netshProgram()
{
    // By its full path: CreateProcess looks for a bare name in the program's folder and the working
    // folder before the system folder, and anyone may have put a netsh.exe in either.
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QString();
    return QString::fromWCharArray(folder, int(length)) + QStringLiteral("\\netsh.exe");
}

} // namespace ORVIK
