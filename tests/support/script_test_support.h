#pragma once
// Test support for the script host: a real target process with a known
// layout, script files in the temporary directory, and Lua code run directly
// in a host's state.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/target_child_client.h"
#include "target/target_process.h"

struct lua_State;

// The memory of the target_child every script host test reads (see
// target_child.cpp for the block language):
//   block 0 "data": two read-write pages starting with kDataBytes, ending
//                   with a1a2a3a4; then a read-only page starting with b1b2b3b4
//   block 1 "code": an executable page starting with kCodeMarker, followed
//                   by the 32-bit little-endian value 12345
//   block 2 "none": a page without access
extern const char* const kScriptTestBlocks[3];
constexpr const char* kDataBytes = "4889c0ffee15900d";
constexpr const char* kCodeMarker = "5ca1ab1e0ddba11e";

// One target_child with the layout above, opened as a target, shared by the
// tests of a suite.
class ScriptHostFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static TargetProcess* Target() { return target_.get(); }
    static const TargetChild& Child() { return *child_; }

private:
    inline static std::unique_ptr<TargetChild> child_;
    inline static std::unique_ptr<TargetProcess> target_;  // closed before the child ends
};

// A script file with the given content in a fresh file of the temporary
// directory; the file is removed again with the object.
class ScriptFile {
public:
    explicit ScriptFile(std::string_view content);
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    ~ScriptFile();

    const char* Path() const { return path_.c_str(); }

private:
    std::string path_;
};

// Runs `chunk` in the state and returns its first result as text (by
// luaL_tolstring, so nil gives "nil"), or "error: " and the message. The
// stack is left as it was.
std::string RunInState(lua_State* L, const std::string& chunk);

// A precompiled chunk of `source`, made with string.dump in a state of its own.
std::string CompileChunk(const std::string& source);
