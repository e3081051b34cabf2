// The URL protocol as a desktop entry "corvane-<id>.desktop" that handles the
// scheme, in the user's applications directory, made the scheme's default
// handler in the user's mimeapps.list.

#include "rpc/launch_registration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using detail::Report;

namespace {

constexpr char kErrorWritingDefaultHandler[] = "Error writing default handler\n";
// The same limit as the Windows buffer, in bytes here.
constexpr std::size_t kLongestCommand = 1023;

// A desktop entry value is one line.
bool HasControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// One argument of an Exec line, quoted; '%' is doubled so it is not taken
// for a field code.
std::string QuoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

// A string value of a desktop file: a backslash is written as two.
std::string EscapeValue(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

bool ReadExecutablePath(std::string& path) {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return false;
    path.assign(buffer, static_cast<std::size_t>(length));
    return !HasControlCharacter(path);
}

// An XDG base directory: the variable if it holds an absolute path, else
// `fallback` below $HOME; empty when neither is usable.
std::string BaseDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    return std::string(home) + "/" + fallback;
}

bool MakeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// Writes `content` to a temporary file beside `path` and renames it over
// `path`, so a reader never sees half a file.
bool ReplaceFile(const std::string& path, const std::string& content) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << content;
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

// Sets "<mimeType>=<entry>" in the [Default Applications] group of the
// user's mimeapps.list, keeping every other line.
bool SetDefaultHandler(const std::string& mimeType, const std::string& entryName) {
    std::string configDirectory = BaseDirectory("XDG_CONFIG_HOME", ".config");
    if (configDirectory.empty() || !MakeDirectories(configDirectory)) return false;
    std::string listPath = configDirectory + "/mimeapps.list";

    std::vector<std::string> lines;
    {
        std::ifstream in(listPath);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    const std::string header = "[Default Applications]";
    const std::string setting = mimeType + "=" + entryName;
    std::string content;
    bool inGroup = false;
    bool written = false;
    for (const std::string& line : lines) {
        if (!line.empty() && line[0] == '[') inGroup = line == header;
        bool isOldSetting = inGroup && line.compare(0, mimeType.size() + 1, mimeType + "=") == 0;
        if (isOldSetting) continue;
        content += line + "\n";
        if (inGroup && line == header && !written) {
            content += setting + "\n";
            written = true;
        }
    }
    if (!written) content += (content.empty() ? "" : "\n") + header + "\n" + setting + "\n";
    return ReplaceFile(listPath, content);
}

void RegisterDesktopEntry(const std::string& applicationId, const std::string& execLine) {
    std::string executablePath;
    if (!ReadExecutablePath(executablePath)) {
        Report(detail::kErrorReadingExecutablePath);
        return;
    }
    std::string protocol = "corvane-" + applicationId;
    std::string entryName = protocol + ".desktop";
    std::string mimeType = "x-scheme-handler/" + protocol;
    std::string dataDirectory = BaseDirectory("XDG_DATA_HOME", ".local/share");
    std::string applications = dataDirectory + "/applications";
    if (dataDirectory.empty() || !MakeDirectories(applications)) {
        Report(detail::kErrorCreatingKey);
        return;
    }
    std::string command = execLine.empty() ? QuoteExecArgument(executablePath) : execLine;
    std::ostringstream entry;
    entry << "[Desktop Entry]\n"
          << "Type=Application\n"
          << "Name=URL:Run game " << applicationId << " protocol\n"
          << "Icon=" << EscapeValue(executablePath) << "\n"
          << "Exec=" << EscapeValue(command) << "\n"
          << "NoDisplay=true\n"
          << "MimeType=" << mimeType << ";\n";
    if (!ReplaceFile(applications + "/" + entryName, entry.str())) {
        Report(detail::kErrorCreatingKey);
        return;
    }
    if (!SetDefaultHandler(mimeType, entryName)) Report(kErrorWritingDefaultHandler);
}

// The `steam` command on the search path.
bool FindSteam(std::string& path) {
    const char* searchPath = std::getenv("PATH");
    if (searchPath == nullptr) return false;
    std::istringstream directories(searchPath);
    for (std::string directory; std::getline(directories, directory, ':');) {
        if (directory.empty()) continue;
        std::string candidate = directory + "/steam";
        struct stat status;
        if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            path = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace

void RegisterLaunchProtocol(const char* applicationId, const char* command) {
    if (!detail::IsRegistrableApplicationId(applicationId)) {
        Report(detail::kInvalidApplicationId);
        return;
    }
    std::string execLine = command != nullptr ? command : "";
    if (execLine.size() > kLongestCommand || HasControlCharacter(execLine)) {
        Report(detail::kInvalidCommand);
        return;
    }
    RegisterDesktopEntry(applicationId, execLine);
}

void RegisterSteamLaunch(const char* applicationId, const char* steamGameId) {
    if (!detail::IsRegistrableApplicationId(applicationId)) {
        Report(detail::kInvalidApplicationId);
        return;
    }
    if (!detail::IsSchemeText(steamGameId)) {
        Report(detail::kInvalidSteamId);
        return;
    }
    // Steam is installed for this user when its command is on the search path.
    std::string steam;
    if (!FindSteam(steam)) {
        Report(detail::kErrorOpeningSteamKey);
        return;
    }
    if (HasControlCharacter(steam)) {
        Report(detail::kErrorReadingSteamExe);
        return;
    }
    RegisterDesktopEntry(applicationId, QuoteExecArgument(steam) + " steam://rungameid/" + steamGameId);
}
