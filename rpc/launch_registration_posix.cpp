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

using detail::report;

namespace {

constexpr char kErrorWritingDefaultHandler[] = "Error writing default handler\n";
// The same limits as the Windows buffers, in bytes here.
constexpr std::size_t kLongestId = 31;
constexpr std::size_t kLongestCommand = 1023;

// An id becomes part of a URL scheme and of a file name, so only the
// characters a scheme allows are accepted: letters, digits, '+', '-', '.'.
bool is_usable_id(const char* id) {
    if (id == nullptr || id[0] == '\0' || std::strlen(id) > kLongestId) return false;
    for (const char* c = id; *c != '\0'; ++c) {
        bool allowed = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
                       *c == '+' || *c == '-' || *c == '.';
        if (!allowed) return false;
    }
    return true;
}

// A desktop entry value is one line.
bool has_control_character(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// One argument of an Exec line, quoted; '%' is doubled so it is not taken
// for a field code.
std::string quote_exec_argument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

// A string value of a desktop file: a backslash is written as two.
std::string escape_value(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

bool read_executable_path(std::string& path) {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) return false;
    path.assign(buffer, static_cast<std::size_t>(length));
    return !has_control_character(path);
}

// An XDG base directory: the variable if it holds an absolute path, else
// `fallback` below $HOME; empty when neither is usable.
std::string base_directory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    return std::string(home) + "/" + fallback;
}

bool make_directories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// Writes `content` to a temporary file beside `path` and renames it over
// `path`, so a reader never sees half a file.
bool replace_file(const std::string& path, const std::string& content) {
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
bool set_default_handler(const std::string& mimeType, const std::string& entryName) {
    std::string configDirectory = base_directory("XDG_CONFIG_HOME", ".config");
    if (configDirectory.empty() || !make_directories(configDirectory)) return false;
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
    return replace_file(listPath, content);
}

void register_desktop_entry(const std::string& applicationId, const std::string& execLine) {
    std::string executablePath;
    if (!read_executable_path(executablePath)) {
        report(detail::kErrorReadingExecutablePath);
        return;
    }
    std::string protocol = "corvane-" + applicationId;
    std::string entryName = protocol + ".desktop";
    std::string mimeType = "x-scheme-handler/" + protocol;
    std::string dataDirectory = base_directory("XDG_DATA_HOME", ".local/share");
    std::string applications = dataDirectory + "/applications";
    if (dataDirectory.empty() || !make_directories(applications)) {
        report(detail::kErrorCreatingKey);
        return;
    }
    std::string command = execLine.empty() ? quote_exec_argument(executablePath) : execLine;
    std::ostringstream entry;
    entry << "[Desktop Entry]\n"
          << "Type=Application\n"
          << "Name=URL:Run game " << applicationId << " protocol\n"
          << "Icon=" << escape_value(executablePath) << "\n"
          << "Exec=" << escape_value(command) << "\n"
          << "NoDisplay=true\n"
          << "MimeType=" << mimeType << ";\n";
    if (!replace_file(applications + "/" + entryName, entry.str())) {
        report(detail::kErrorCreatingKey);
        return;
    }
    if (!set_default_handler(mimeType, entryName)) report(kErrorWritingDefaultHandler);
}

// The `steam` command on the search path.
bool find_steam(std::string& path) {
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
    if (!is_usable_id(applicationId)) {
        report(detail::kInvalidApplicationId);
        return;
    }
    std::string execLine = command != nullptr ? command : "";
    if (execLine.size() > kLongestCommand || has_control_character(execLine)) {
        report(detail::kInvalidCommand);
        return;
    }
    register_desktop_entry(applicationId, execLine);
}

void RegisterSteamLaunch(const char* applicationId, const char* steamGameId) {
    if (!is_usable_id(applicationId)) {
        report(detail::kInvalidApplicationId);
        return;
    }
    if (!is_usable_id(steamGameId)) {
        report(detail::kInvalidSteamId);
        return;
    }
    // Steam is installed for this user when its command is on the search path.
    std::string steam;
    if (!find_steam(steam)) {
        report(detail::kErrorOpeningSteamKey);
        return;
    }
    if (has_control_character(steam)) {
        report(detail::kErrorReadingSteamExe);
        return;
    }
    register_desktop_entry(applicationId, quote_exec_argument(steam) + " steam://rungameid/" + steamGameId);
}
