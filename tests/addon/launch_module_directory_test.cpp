// The addon's launch code finds the directory of the module that holds it,
// not that of the host executable. The code is built into a small DLL, which
// the test copies into a folder of its own (named with characters outside
// ASCII, one of them outside the BMP) and loads, so that the two answers
// differ.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "support/child_process.h"

namespace fs = std::filesystem;

namespace {

fs::path ModuleFile(HMODULE module) {
    wchar_t path[4096] = {};
    GetModuleFileNameW(module, path, 4096);
    return fs::path(path);
}

TEST(LaunchModuleDirectory, IsTheDirectoryOfTheModuleHoldingTheCodeNotOfTheHost) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const fs::path folder = fs::path(temp) / (L"corvane module J\u00fcrgen \U0001F600 " + std::to_wstring(GetTickCount64()));
    fs::create_directories(folder);
    const fs::path dll = folder / L"launch_module.dll";
    fs::copy_file(fs::u8path(PathBesideThisProgram("launch_module.dll")), dll);

    HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    using ModuleDirectoryFunction = int (*)(char*, int);
    auto moduleDirectory =
        reinterpret_cast<ModuleDirectoryFunction>(reinterpret_cast<void*>(GetProcAddress(module, "LaunchModuleDirectory")));
    ASSERT_NE(moduleDirectory, nullptr);
    char answer[4096] = {};
    const int length = moduleDirectory(answer, sizeof answer);

    const std::string expected = ModuleFile(module).parent_path().u8string();
    const std::string host = ModuleFile(nullptr).parent_path().u8string();
    FreeLibrary(module);
    std::error_code ignored;
    fs::remove_all(folder, ignored);

    ASSERT_NE(expected, host);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(answer, static_cast<std::size_t>(length)), expected);
}

}  // namespace
