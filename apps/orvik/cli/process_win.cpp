#include "apps/orvik/cli/process.h"

#include <cstdio>

#include <windows.h>
// windows.h first: shellapi.h relies on its types.
#include <shellapi.h>

namespace ORVIK::Process {

void prepare()
{
    // Never from the working folder or PATH, where anyone may have put one of the names that Qt or
    // the module load on demand.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

QStringList arguments(int, char *[])
{
    QStringList result;
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i)
        result.append(QString::fromWCharArray(wide[i]));
    LocalFree(wide);
    return result;
}

bool displayNamed()
{
    return true;
}

bool endsWithoutUnloading()
{
    return true;
}

void endNow(int code)
{
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), UINT(code));
}

} // namespace ORVIK::Process
