#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

// Whether a Windows test runs under Wine rather than Windows: for the few rows that meet a call
// that Wine does not implement as Windows does (each says which). Always false elsewhere.
inline bool runningUnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}
