#include "launch.h"

#include "companion/application_id.h"

namespace corvane {
namespace {

std::string CompanionDirectory(const std::string& moduleDir) {
    return moduleDir + kPathSeparator + kCompanionDirectoryName;
}

// An app id names the script below the scripts directory and nothing else.
// A zero byte would cut the text short at the system boundary and silently
// name another file or another application; a path separator, a drive colon
// or ".." could name a file outside the directory.
bool IsPlainAppId(const std::string& appId) {
    return appId.find('\0') == std::string::npos && IsPlainApplicationId(appId.c_str());
}

}  // namespace

bool scriptExists(const std::string& moduleDir, const std::string& appId) {
    if (!IsPlainAppId(appId)) return false;
    std::string path = CompanionDirectory(moduleDir) + kPathSeparator + "scripts" + kPathSeparator +
                       appId + ".lua";
    return pathExists(path);
}

std::optional<std::uint32_t> launchCompanion(ChildJob job, const std::string& moduleDir,
                                             std::uint32_t gamePid, const std::string& appId) {
    if (!job || !IsPlainAppId(appId)) return std::nullopt;
    std::string directory = CompanionDirectory(moduleDir);
    std::string executable = directory + kPathSeparator + "CorvaneTallowin_" +
                             (isNative64BitProcess(gamePid) ? "x64" : "x86") + kExecutableSuffix;
    return startInJob(job, {executable, std::to_string(gamePid), appId}, directory);
}

}  // namespace corvane
