// Fuzz target: a Lua snippet as the body of a presence script's
// get_presence, in the real sandbox, with the memory functions bound to a
// real game (the demo game, started once, uninstrumented like a real game),
// polled three times as the companion polls it. Every presence it yields is
// serialized into a request as the client would send it, which must stay
// within its buffer; the poll must leave the Lua stack as it found it.
//
// Bounds that belong to this target alone, never to the product: a step
// hook that ends a poll after 50 000 instructions or 25 ms, and an
// allocator that refuses to let the state grow beyond 64 MiB. A snippet that
// is not a whole block of Lua on its own is not run, so that it cannot close
// the function it is placed in and run code outside the hook's reach.
//
// Globals for the snippet besides the sandbox's: DemoState, the address of
// the game's state block (its 16-byte signature "CorvaneDemoState"), and
// DemoModule, the game's module name.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <lua.hpp>

#include "rpc/serialization.h"
#include "script/presence_poll.h"
#include "script/script_host.h"
#include "script/script_memory.h"
#include "target/target_process.h"

namespace {

constexpr int kHookInterval = 1000;          // instructions between hook calls
constexpr int kHookCallsPerPoll = 50;         // 50 000 instructions
constexpr std::chrono::milliseconds kPollTime{25};
constexpr std::size_t kStateMemoryLimit = 64u << 20;
constexpr std::size_t kRequestCapacity = 16384;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "script_sandbox_fuzzer: %s\n", what);
    std::abort();
}

// The game, its handle, and where its state block is.
pid_t gamePid = 0;
std::unique_ptr<TargetProcess> game;
std::uint64_t demoState = 0;
std::string scriptPath;
int scriptFile = -1;

// Starts the game so that it dies with this process, and waits for its
// first line: by then its state block is in place.
bool StartGame() {
    int output[2];
    if (pipe(output) != 0) return false;
    pid_t parent = getpid();
    gamePid = fork();
    if (gamePid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        dup2(output[1], STDOUT_FILENO);
        execl(DEMO_GAME_PATH, DEMO_GAME_PATH, "--seconds", "86400", "--step-ms", "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    char byte = 0;
    while (gamePid > 0 && read(output[0], &byte, 1) == 1 && byte != '\n') {
    }
    close(output[0]);
    return gamePid > 0 && byte == '\n';
}

std::uint64_t FindDemoState() {
    std::string text;
    for (char c : std::string("CorvaneDemoState")) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
        text += pair;
    }
    std::uint64_t address = 0;
    std::optional<BytePattern> pattern = ParsePattern(text.c_str());
    return pattern && FindPattern(*game, *pattern, 0, ~std::uint64_t{0}, false, address) ? address : 0;
}

struct PollBudget {
    int hookCalls = 0;
    std::chrono::steady_clock::time_point deadline;
};
PollBudget budget;

void SpendSteps(lua_State* L, lua_Debug*) {
    if (++budget.hookCalls > kHookCallsPerPoll || std::chrono::steady_clock::now() > budget.deadline) {
        luaL_error(L, "the fuzz target's step budget is spent");
    }
}

struct MemoryBudget {
    std::size_t used = 0;
};
MemoryBudget memory;

void* CappedAllocate(void* ud, void* block, std::size_t oldSize, std::size_t newSize) {
    auto& budgetOfState = *static_cast<MemoryBudget*>(ud);
    const std::size_t old = block != nullptr ? oldSize : 0;
    if (newSize == 0) {
        std::free(block);
        budgetOfState.used -= std::min(old, budgetOfState.used);
        return nullptr;
    }
    if (newSize > old && budgetOfState.used - std::min(old, budgetOfState.used) + newSize > kStateMemoryLimit) {
        return nullptr;
    }
    void* grown = std::realloc(block, newSize);
    if (grown != nullptr) budgetOfState.used = budgetOfState.used - std::min(old, budgetOfState.used) + newSize;
    return grown;
}

// Compiles the snippet alone, in a state of its own that is closed again,
// so that a run leaves nothing allocated behind.
bool IsWholeBlock(const char* snippet, std::size_t size) {
    lua_State* compiler = luaL_newstate();
    if (compiler == nullptr) return false;
    const bool whole = luaL_loadbufferx(compiler, snippet, size, "=snippet", "t") == LUA_OK;
    lua_close(compiler);
    return whole;
}

void CheckPresence(const RichPresence& presence) {
    static char request[kRequestCapacity];
    const std::size_t length = build_set_activity(request, sizeof request, 1, 4242, &presence);
    Check(length <= sizeof request, "a request beyond its buffer");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!StartGame() || !(game = OpenTarget(static_cast<std::uint32_t>(gamePid))) || (demoState = FindDemoState()) == 0) {
        std::fprintf(stderr, "script_sandbox_fuzzer: cannot start and read the demo game at %s\n", DEMO_GAME_PATH);
        std::exit(1);
    }
    scriptFile = memfd_create("fuzzed_script.lua", MFD_CLOEXEC);
    Check(scriptFile >= 0, "no memory file for the script");
    scriptPath = "/proc/self/fd/" + std::to_string(scriptFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* snippet = reinterpret_cast<const char*>(data);
    if (!IsWholeBlock(snippet, size)) return 0;

    const std::string script = "get_presence = function(...)\n" + std::string(snippet, size) + "\nend\n";
    if (ftruncate(scriptFile, 0) != 0 || pwrite(scriptFile, script.data(), script.size(), 0) != static_cast<ssize_t>(script.size())) {
        return 0;
    }
    std::unique_ptr<ScriptHost> host = CreateScriptHost(scriptPath.c_str(), game.get());
    if (!host) return 0;
    lua_State* L = host->state;
    lua_pushinteger(L, static_cast<lua_Integer>(demoState));
    lua_setglobal(L, "DemoState");
    lua_pushstring(L, "demo_game");
    lua_setglobal(L, "DemoModule");
    memory.used = static_cast<std::size_t>(lua_gc(L, LUA_GCCOUNT, 0)) * 1024 + lua_gc(L, LUA_GCCOUNTB, 0);
    lua_setallocf(L, CappedAllocate, &memory);
    lua_sethook(L, SpendSteps, LUA_MASKCOUNT, kHookInterval);

    for (int poll = 0; poll < 3; ++poll) {
        budget.hookCalls = 0;
        budget.deadline = std::chrono::steady_clock::now() + kPollTime;
        const int height = lua_gettop(L);
        PollPresence(*host, CheckPresence);
        Check(lua_gettop(L) == height, "the poll changed the stack");
    }
    return 0;
}
