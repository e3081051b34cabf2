// The memory functions while the C++ allocator fails: no C++ exception may
// leave a function that Lua calls, since it would unwind through Lua's own
// frames. The program's operator new fails on demand (a script arms it
// around one call), which a real allocator cannot be made to do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include <lua.hpp>

#include "script/script_host.h"
#include "support/script_test_support.h"

namespace {

bool failAllocations = false;

// FailAllocations(on): from now on every operator new fails, or none does.
int FailAllocations(lua_State* L) {
    failAllocations = lua_toboolean(L, 1) != 0;
    return 0;
}

}  // namespace

// Every replaceable form of the allocator, so that all of them agree (the
// sanitizers check that each block is freed by the form that matches).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return failAllocations ? nullptr : std::malloc(size != 0 ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}

void* operator new(std::size_t size) {
    void* block = operator new(size, std::nothrow);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete[](void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}

namespace {

class ScriptMemoryAllocationTest : public ScriptHostFixture {};

TEST_F(ScriptMemoryAllocationTest, GetModuleInfoAnswersWithoutThrowing) {
    ScriptFile script("");
    std::unique_ptr<ScriptHost> host = CreateScriptHost(script.Path(), Target());
    ASSERT_NE(host, nullptr);
    lua_State* L = host->state;
    lua_register(L, "FailAllocations", FailAllocations);
    lua_pushstring(L, Child().executable.name.c_str());
    lua_setglobal(L, "exeName");
    lua_pushinteger(L, static_cast<lua_Integer>(Child().executable.base));
    lua_setglobal(L, "exeBase");

    const std::string chunk =
        "FailAllocations(true)\n"
        "local ok, base, size = pcall(GetModuleInfo, exeName)\n"
        "local okMissing, missing = pcall(GetModuleInfo, 'no_such_module.dll')\n"
        "FailAllocations(false)\n"
        "return tostring(ok and base == exeBase and size > 0) .. ' ' .. tostring(okMissing and missing == nil)";
    EXPECT_EQ(RunInState(L, chunk), "true true");
    failAllocations = false;
    EXPECT_EQ(RunInState(L, "return GetModuleInfo(exeName) == exeBase"), "true") << "the state still works";
}

}  // namespace
