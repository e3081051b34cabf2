// Stands in for the companion in the Windows launch tests. It records how it
// was started (its command line, its working directory, and whether it was
// already in a job when its first instruction ran) in started-<pid>.txt in
// its working directory, then waits to be ended.

#include <windows.h>

#include <string>

int main() {
    BOOL inJob = FALSE;
    IsProcessInJob(GetCurrentProcess(), nullptr, &inJob);
    wchar_t directory[4096] = {};
    GetCurrentDirectoryW(4096, directory);

    std::wstring record = std::wstring(GetCommandLineW()) + L"\n" + directory + L"\n" + (inJob ? L"1" : L"0");
    std::wstring name = L"started-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    std::wstring partial = name + L".partial";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    // Appears whole or not at all.
    MoveFileW(partial.c_str(), name.c_str());
    Sleep(INFINITE);
    return 0;
}
