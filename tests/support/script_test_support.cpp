#include "support/script_test_support.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>

#include <lua.hpp>

namespace {

std::string FreshScriptPath() {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::string name = "corvane-script-" + std::to_string(salt) + "-" + std::to_string(counter++) + ".lua";
    return (std::filesystem::temp_directory_path() / name).string();
}

}  // namespace

const char* const kScriptTestBlocks[3] = {
    "rw*2,r*1,@0=4889c0ffee15900d,@8188=a1a2a3a4,@8192=b1b2b3b4",
    "rx*1,@0=5ca1ab1e0ddba11e,@8=39300000",
    "none*1",
};

void ScriptHostFixture::SetUpTestSuite() {
    child_ = std::make_unique<TargetChild>();
    if (!StartTargetChild({std::begin(kScriptTestBlocks), std::end(kScriptTestBlocks)}, *child_)) return;
    target_ = OpenTarget(child_->process.Pid());
}

void ScriptHostFixture::TearDownTestSuite() {
    target_.reset();
    child_.reset();
}

void ScriptHostFixture::SetUp() {
    ASSERT_NE(target_, nullptr) << "no target_child to read: " << child_->error;
}

ScriptFile::ScriptFile(std::string_view content) : path_(FreshScriptPath()) {
    std::ofstream(path_, std::ios::binary) << content;
}

ScriptFile::~ScriptFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::string RunInState(lua_State* L, const std::string& chunk) {
    int height = lua_gettop(L);
    std::string text;
    if (luaL_loadstring(L, chunk.c_str()) != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK) {
        text = std::string("error: ") + luaL_tolstring(L, -1, nullptr);
    } else {
        text = luaL_tolstring(L, -1, nullptr);
    }
    lua_settop(L, height);
    return text;
}

std::string CompileChunk(const std::string& source) {
    lua_State* L = luaL_newstate();
    luaL_requiref(L, "_G", luaopen_base, 1);
    luaL_requiref(L, LUA_STRLIBNAME, luaopen_string, 1);
    lua_settop(L, 0);
    lua_pushstring(L, source.c_str());
    lua_setglobal(L, "source");
    std::string chunk;
    if (luaL_dostring(L, "return string.dump(load(source))") == LUA_OK) {
        std::size_t size = 0;
        const char* bytes = lua_tolstring(L, -1, &size);
        chunk.assign(bytes, size);
    }
    lua_close(L);
    return chunk;
}
