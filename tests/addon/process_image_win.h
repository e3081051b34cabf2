#pragma once
// Which program a running Windows process runs, for the launch tests that
// check which companion build was started.

#include <windows.h>

#include <string>

// The full path of the program that `process` runs; empty when it cannot be had.
inline std::wstring imageOf(HANDLE process) {
    wchar_t image[4096];
    DWORD size = 4096;
    return QueryFullProcessImageNameW(process, 0, image, &size) ? std::wstring(image, size) : std::wstring();
}

// Paths compared as the file system compares them: without regard to case.
inline bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
