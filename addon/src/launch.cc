#include "launch.h"

#include "companion/application_id.h"

namespace corvane {
namespace {

std::string CompanionDirectory(const std::string& moduleDir) {
    return moduleDir + kPathSeparator + kCompanionDirectoryName;
}

}  // namespace

bool scriptExists(const std::string& moduleDir, const std::string& appId) {
    if (!IsPlainApplicationId(appId)) return false;
    std::string path = CompanionDirectory(moduleDir) + kPathSeparator + "scripts" + kPathSeparator +
                       appId + ".lua";
    return pathExists(path);
}

std::optional<std::uint32_t> launchCompanion(ChildJob job, const std::string& moduleDir,
                                             std::uint32_t gamePid, const std::string& appId) {
    if (!job || !IsPlainApplicationId(appId)) return std::nullopt;
    std::string directory = CompanionDirectory(moduleDir);
    std::string executable = directory + kPathSeparator + "CorvaneTallowin_" +
                             (isNative64BitProcess(gamePid) ? "x64" : "x86") + kExecutableSuffix;
    return startInJob(job, {executable, std::to_string(gamePid), appId}, directory);
}

}  // namespace corvane
