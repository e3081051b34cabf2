// Gives the test program a runtime directory of its own, so that the sockets
// it listens on and connects to never meet another test program's or a
// developer's running service.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace {

class PrivateRuntimeDirectory : public ::testing::Environment {
public:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << "cannot create a private runtime directory";
        directory_ = pattern;
        setenv("XDG_RUNTIME_DIR", directory_.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
    }

private:
    std::string directory_;
};

::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new PrivateRuntimeDirectory);

}  // namespace
