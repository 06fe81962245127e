// A stand-in installer that the update tests download and start. It writes to the file that
// ORVIK_TEST_MARKER names, in UTF-8, the ORVIK_UPDATE_RESTART it was given and the folder it was
// started in, one a line, and renames it into place when whole; then it waits for the event that
// ORVIK_TEST_RELEASE names before it ends, so that the test can examine its package while it runs.
// Linked statically: it runs from the download folder, where no runtime DLL is.
#include <windows.h>

#include <string>

namespace {

std::wstring variable(const wchar_t *name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

std::string utf8(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

} // namespace

int main()
{
    const std::wstring marker = variable(L"ORVIK_TEST_MARKER");
    if (marker.empty())
        return 2;
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    const std::string text = utf8(variable(L"ORVIK_UPDATE_RESTART")) + "\n" + utf8(folder) + "\n";
    const std::wstring part = marker + L".part";
    const HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool whole = file != INVALID_HANDLE_VALUE &&
                       WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!whole || !MoveFileExW(part.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 3;
    if (const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, variable(L"ORVIK_TEST_RELEASE").c_str())) {
        WaitForSingleObject(release, 120000);
        CloseHandle(release);
    }
    return 0;
}
