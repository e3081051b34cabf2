// The version resource compiled into the Windows companion, read from the
// program in the companion directory the way Windows reads it for the file's
// properties: product name, file description and the product's version.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

class VersionResource {
public:
    explicit VersionResource(const std::wstring& program) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
        if (size == 0) return;
        block_.resize(size);
        if (!GetFileVersionInfoW(program.c_str(), 0, size, block_.data())) block_.clear();
    }

    bool Present() const { return !block_.empty(); }

    // A text of the US English, Unicode string table, or "" when absent.
    std::string Text(const std::wstring& name) const {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = L"\\StringFileInfo\\040904B0\\" + name;
        if (!VerQueryValueW(block_.data(), path.c_str(), &value, &length) || length == 0) return "";
        const std::wstring wide(static_cast<const wchar_t*>(value), length - 1);
        return std::string(wide.begin(), wide.end());
    }

    // The numeric file version as "major.minor.patch.build".
    std::string FileVersion() const {
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block_.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return "";
        const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
        return std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed.dwFileVersionMS)) +
               "." + std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." +
               std::to_string(LOWORD(fixed.dwFileVersionLS));
    }

private:
    std::vector<unsigned char> block_;
};

TEST(CompanionVersion, TheProgramCarriesProductNameDescriptionAndTheProductVersion) {
    const std::string arch = sizeof(void*) == 8 ? "x64" : "x86";
    const std::string program = ProgramBesideThisOne("../dist/8a57342e5e/CorvaneTallowin_" + arch);
    const VersionResource resource(std::wstring(program.begin(), program.end()));
    ASSERT_TRUE(resource.Present()) << program;

    EXPECT_EQ(resource.Text(L"ProductName"), "Corvane presence");
    EXPECT_EQ(resource.Text(L"FileDescription"), "Corvane presence companion (" + arch + ")");
    EXPECT_EQ(resource.Text(L"FileVersion"), CORVANE_VERSION);
    EXPECT_EQ(resource.Text(L"ProductVersion"), CORVANE_VERSION);
    EXPECT_EQ(resource.Text(L"OriginalFilename"), "CorvaneTallowin_" + arch + ".exe");
    EXPECT_EQ(resource.FileVersion(), std::string(CORVANE_VERSION) + ".0");
}

}  // namespace
