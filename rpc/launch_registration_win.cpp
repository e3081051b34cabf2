// The URL protocol as keys below HKEY_CURRENT_USER\Software\Classes.

#include "rpc/launch_registration.h"

#include <windows.h>

#include <cstddef>
#include <cwchar>

using detail::Report;

namespace {

// Buffer sizes in UTF-16 units, terminator included.
constexpr std::size_t kIdUnits = 32;
constexpr std::size_t kCommandUnits = 1024;
constexpr std::size_t kPathUnits = 260;
constexpr std::size_t kProtocolUnits = 64;
constexpr std::size_t kDescriptionUnits = 128;
constexpr std::size_t kKeyPathUnits = 256;
constexpr DWORD kSteamExeBytes = 520;

// Converts UTF-8 into `out`; false when the text is absent or does not fit
// with its terminator, so a text that would be cut is never used.
template <std::size_t N>
bool ToUtf16(const char* text, wchar_t (&out)[N]) {
    if (text == nullptr) return false;
    return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, static_cast<int>(N)) > 0;
}

// Appends `text` to the terminated text in `buffer`, cut so that the result
// stays terminated.
template <std::size_t N>
void Append(wchar_t (&buffer)[N], const wchar_t* text) {
    std::size_t length = wcsnlen(buffer, N - 1);
    while (length < N - 1 && *text != L'\0') buffer[length++] = *text++;
    buffer[length] = L'\0';
}

bool SetTextValue(HKEY key, const wchar_t* name, const wchar_t* text, std::size_t length) {
    auto bytes = static_cast<DWORD>((length + 1) * sizeof(wchar_t));  // stored with its terminator
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

bool SetSubkeyDefault(HKEY key, const wchar_t* subkeyPath, const wchar_t* text, std::size_t length) {
    HKEY subkey;
    if (RegCreateKeyExW(key, subkeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &subkey, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool written = SetTextValue(subkey, nullptr, text, length);
    RegCloseKey(subkey);
    return written;
}

void RegisterProtocolKeys(const wchar_t* applicationId, const wchar_t* command) {
    wchar_t executablePath[kPathUnits] = {};
    DWORD pathLength = GetModuleFileNameW(nullptr, executablePath, static_cast<DWORD>(kPathUnits));
    if (pathLength == 0 || pathLength >= kPathUnits) {  // a cut path would name another file
        Report(detail::kErrorReadingExecutablePath);
        return;
    }
    wchar_t launchCommand[kCommandUnits] = {};
    Append(launchCommand, command != nullptr && command[0] != L'\0' ? command : executablePath);

    // The id has at most 31 units, so none of these is ever cut.
    wchar_t protocol[kProtocolUnits] = L"corvane-";
    Append(protocol, applicationId);
    wchar_t description[kDescriptionUnits] = L"URL:Run game ";
    Append(description, applicationId);
    Append(description, L" protocol");
    wchar_t keyPath[kKeyPathUnits] = L"Software\\Classes\\";
    Append(keyPath, protocol);

    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        Report(detail::kErrorCreatingKey);
        return;
    }
    if (!SetTextValue(key, nullptr, description, wcslen(description))) Report(detail::kErrorWritingDescription);
    if (!SetTextValue(key, L"URL Protocol", L"", 0)) Report(detail::kErrorWritingDescription);
    if (!SetSubkeyDefault(key, L"DefaultIcon", executablePath, pathLength)) Report(detail::kErrorWritingIcon);
    if (!SetSubkeyDefault(key, L"shell\\open\\command", launchCommand, wcslen(launchCommand))) {
        Report(detail::kErrorWritingCommand);
    }
    RegCloseKey(key);
}

// An id names the protocol (a registry key) and goes into a command line.
bool ConvertId(const char* text, wchar_t (&out)[kIdUnits]) { return detail::IsSchemeText(text) && ToUtf16(text, out); }

bool ConvertApplicationId(const char* text, wchar_t (&out)[kIdUnits]) {
    return detail::IsRegistrableApplicationId(text) && ConvertId(text, out);
}

// The Steam executable's path from the user's Steam key, with forward
// slashes turned into backslashes. False (after reporting) when unusable.
bool ReadSteamExecutable(wchar_t (&path)[kSteamExeBytes / sizeof(wchar_t)]) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Report(detail::kErrorOpeningSteamKey);
        return false;
    }
    DWORD type = REG_NONE;
    DWORD bytes = kSteamExeBytes;
    LSTATUS status = RegQueryValueExW(key, L"SteamExe", nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    RegCloseKey(key);

    // The buffer starts zeroed, so a value shorter than it is terminated; one
    // that fills it without a terminator is unusable, as is an empty one.
    constexpr std::size_t kUnits = kSteamExeBytes / sizeof(wchar_t);
    std::size_t length = wcsnlen(path, kUnits);
    bool isText = type == REG_SZ || type == REG_EXPAND_SZ;
    if (status != ERROR_SUCCESS || bytes == 0 || !isText || length == 0 || length == kUnits) {
        Report(detail::kErrorReadingSteamExe);
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (path[i] == L'/') path[i] = L'\\';
    }
    return true;
}

}  // namespace

void RegisterLaunchProtocol(const char* applicationId, const char* command) {
    wchar_t id[kIdUnits] = {};
    if (!ConvertApplicationId(applicationId, id)) {
        Report(detail::kInvalidApplicationId);
        return;
    }
    if (command == nullptr || command[0] == '\0') {
        RegisterProtocolKeys(id, nullptr);
        return;
    }
    wchar_t wideCommand[kCommandUnits] = {};
    if (!ToUtf16(command, wideCommand)) {
        Report(detail::kInvalidCommand);
        return;
    }
    RegisterProtocolKeys(id, wideCommand);
}

void RegisterSteamLaunch(const char* applicationId, const char* steamGameId) {
    wchar_t id[kIdUnits] = {};
    wchar_t steamId[kIdUnits] = {};
    if (!ConvertApplicationId(applicationId, id)) {
        Report(detail::kInvalidApplicationId);
        return;
    }
    if (!ConvertId(steamGameId, steamId)) {
        Report(detail::kInvalidSteamId);
        return;
    }
    wchar_t steamExecutable[kSteamExeBytes / sizeof(wchar_t)] = {};
    if (!ReadSteamExecutable(steamExecutable)) return;

    // The quoted path (at most 259 units) and the URL always fit in 1024 units.
    wchar_t command[kCommandUnits] = L"\"";
    Append(command, steamExecutable);
    Append(command, L"\" steam://rungameid/");
    Append(command, steamId);
    RegisterProtocolKeys(id, command);
}
