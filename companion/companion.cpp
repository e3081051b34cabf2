#include "companion/companion.h"

#include <cstdint>
#include <memory>

#include "companion/application_id.h"
#include "companion/command_line.h"
#include "script/presence_poll.h"
#include "script/script_host.h"
#include "target/target_process.h"
#include "rpc/presence_client.h"

// The longest id the rule lets through still leaves the script path its ".lua".
static_assert(kLongestApplicationId + sizeof "scripts/" - 1 + sizeof ".lua" - 1 == kScriptPathSize - 1);

int RunCompanion(int processId, const char* applicationId, const char* scriptPathFormat) {
    // An id that could name a file other than its own script (outside the
    // scripts directory, a device, a cut path) runs no script at all.
    if (!IsPlainApplicationId(applicationId)) return 0;
    // A process id that is not positive names no process that can be opened.
    if (processId <= 0) return 0;
    std::unique_ptr<TargetProcess> target = OpenTarget(static_cast<std::uint32_t>(processId));
    if (!target) return 0;

    char scriptPath[kScriptPathSize];
    FormatScriptPath(scriptPath, scriptPathFormat, applicationId);

    // The script's top-level code runs here, before the RPC client exists.
    std::unique_ptr<ScriptHost> host = CreateScriptHost(scriptPath, target.get());
    if (!host) return 0;

    const EventHandlers noHandlers = {};
    rpc_initialize(applicationId, &noHandlers, 0, nullptr);

    auto publish = [](const RichPresence& presence) { rpc_update_presence(&presence); };
    for (;;) {
        if (!PollPresence(*host, publish)) rpc_clear_presence();
        // A wait that fails ends the loop as if the game had ended: polling
        // without a pause is never an option.
        if (WaitForTarget(*target, kPollIntervalMs) != TargetWait::TimedOut) break;
    }

    rpc_shutdown();
    host.reset();    // the script functions hold a pointer to the target,
    target.reset();  // so the target goes last
    return 0;
}
