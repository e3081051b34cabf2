#pragma once
// A folder of one test's own holding "scripts/<application id>.lua" (the
// name in UTF-8), for the
// companion to run in: the companion finds its script from its working
// directory, so a test's script never goes into the companion directory that
// every test program shares (and may read at the same time). The folder is
// removed with the object, however the test ends.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class PrivateScriptFolder {
public:
    PrivateScriptFolder(const std::string& fileName, const std::string& text) {
        std::random_device random;
        folder_ = std::filesystem::temp_directory_path() /
                  ("corvane-scripts-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(folder_ / "scripts");
        script_ = folder_ / "scripts" / std::filesystem::u8path(fileName);  // UTF-8 on every system
        std::ofstream(script_, std::ios::binary) << text;
    }
    ~PrivateScriptFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    PrivateScriptFolder(const PrivateScriptFolder&) = delete;
    PrivateScriptFolder& operator=(const PrivateScriptFolder&) = delete;

    // The folder to run the companion in, and the script's own path.
    const std::filesystem::path& Folder() const { return folder_; }
    const std::filesystem::path& Script() const { return script_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path script_;
};
