// The URL protocol as keys below HKEY_CURRENT_USER\Software\Classes.

#include "rpc/launch_registration.h"

#include <windows.h>

#include <cstddef>
#include <cwchar>

using detail::report;

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
bool to_utf16(const char* text, wchar_t (&out)[N]) {
    if (text == nullptr) return false;
    return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, static_cast<int>(N)) > 0;
}

// Appends `text` to the terminated text in `buffer`, cut so that the result
// stays terminated.
template <std::size_t N>
void append(wchar_t (&buffer)[N], const wchar_t* text) {
    std::size_t length = wcsnlen(buffer, N - 1);
    while (length < N - 1 && *text != L'\0') buffer[length++] = *text++;
    buffer[length] = L'\0';
}

bool set_text_value(HKEY key, const wchar_t* name, const wchar_t* text, std::size_t length) {
    auto bytes = static_cast<DWORD>((length + 1) * sizeof(wchar_t));  // stored with its terminator
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) == ERROR_SUCCESS;
}

bool set_subkey_default(HKEY key, const wchar_t* subkeyPath, const wchar_t* text, std::size_t length) {
    HKEY subkey;
    if (RegCreateKeyExW(key, subkeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &subkey, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool written = set_text_value(subkey, nullptr, text, length);
    RegCloseKey(subkey);
    return written;
}

void register_protocol_keys(const wchar_t* applicationId, const wchar_t* command) {
    wchar_t executablePath[kPathUnits] = {};
    DWORD pathLength = GetModuleFileNameW(nullptr, executablePath, static_cast<DWORD>(kPathUnits));
    if (pathLength == 0 || pathLength >= kPathUnits) {  // a cut path would name another file
        report(detail::kErrorReadingExecutablePath);
        return;
    }
    wchar_t launchCommand[kCommandUnits] = {};
    append(launchCommand, command != nullptr && command[0] != L'\0' ? command : executablePath);

    // The id has at most 31 units, so none of these is ever cut.
    wchar_t protocol[kProtocolUnits] = L"corvane-";
    append(protocol, applicationId);
    wchar_t description[kDescriptionUnits] = L"URL:Run game ";
    append(description, applicationId);
    append(description, L" protocol");
    wchar_t keyPath[kKeyPathUnits] = L"Software\\Classes\\";
    append(keyPath, protocol);

    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        report(detail::kErrorCreatingKey);
        return;
    }
    if (!set_text_value(key, nullptr, description, wcslen(description))) report(detail::kErrorWritingDescription);
    if (!set_text_value(key, L"URL Protocol", L"", 0)) report(detail::kErrorWritingDescription);
    if (!set_subkey_default(key, L"DefaultIcon", executablePath, pathLength)) report(detail::kErrorWritingIcon);
    if (!set_subkey_default(key, L"shell\\open\\command", launchCommand, wcslen(launchCommand))) {
        report(detail::kErrorWritingCommand);
    }
    RegCloseKey(key);
}

// An id names the protocol: it must be present, not empty, and fit.
bool convert_id(const char* text, wchar_t (&out)[kIdUnits]) { return to_utf16(text, out) && out[0] != L'\0'; }

// The Steam executable's path from the user's Steam key, with forward
// slashes turned into backslashes. False (after reporting) when unusable.
bool read_steam_executable(wchar_t (&path)[kSteamExeBytes / sizeof(wchar_t)]) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        report(detail::kErrorOpeningSteamKey);
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
        report(detail::kErrorReadingSteamExe);
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
    if (!convert_id(applicationId, id)) {
        report(detail::kInvalidApplicationId);
        return;
    }
    if (command == nullptr || command[0] == '\0') {
        register_protocol_keys(id, nullptr);
        return;
    }
    wchar_t wideCommand[kCommandUnits] = {};
    if (!to_utf16(command, wideCommand)) {
        report(detail::kInvalidCommand);
        return;
    }
    register_protocol_keys(id, wideCommand);
}

void RegisterSteamLaunch(const char* applicationId, const char* steamGameId) {
    wchar_t id[kIdUnits] = {};
    wchar_t steamId[kIdUnits] = {};
    if (!convert_id(applicationId, id)) {
        report(detail::kInvalidApplicationId);
        return;
    }
    if (!convert_id(steamGameId, steamId)) {
        report(detail::kInvalidSteamId);
        return;
    }
    wchar_t steamExecutable[kSteamExeBytes / sizeof(wchar_t)] = {};
    if (!read_steam_executable(steamExecutable)) return;

    // The quoted path (at most 259 units) and the URL always fit in 1024 units.
    wchar_t command[kCommandUnits] = L"\"";
    append(command, steamExecutable);
    append(command, L"\" steam://rungameid/");
    append(command, steamId);
    register_protocol_keys(id, command);
}
