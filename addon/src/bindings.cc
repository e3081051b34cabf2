// The corvane_ostravine module: a context-aware module, so that every context
// of a host may load it (the main thread, worker threads, the renderer
// processes of an embedding host). Its initialiser makes sure the process's
// child job exists and defines the two operations, and nothing else, on the
// exports object.

#include <nan.h>

#include "launch.h"
#include "value_conversion.h"

namespace {

// One job for the whole process, however many contexts load the module:
// created by the first initialiser that runs (on whichever thread), shared by
// every later one, and never closed. It lives as long as the host process,
// and the system closing it at the end ends every companion in it.
corvane::ChildJob ProcessJob() {
    static const corvane::ChildJob job = corvane::createChildJob();
    return job;
}

// hasTallowin(appId) -> true, false, or null when appId is not a string.
NAN_METHOD(hasTallowin) {
    std::string appId;
    if (!corvane::readUtf8String(info[0], &appId)) {
        info.GetReturnValue().Set(Nan::Null());
        return;
    }
    bool exists = corvane::scriptExists(corvane::moduleDirectory(), appId);
    info.GetReturnValue().Set(exists ? Nan::True() : Nan::False());
}

// spawnTallowin(pid, appId) -> the companion's pid, or null when there is no
// job, an argument is refused or the companion could not be started.
NAN_METHOD(spawnTallowin) {
    info.GetReturnValue().Set(Nan::Null());
    const corvane::ChildJob childJob = ProcessJob();
    if (!childJob) return;
    bool ok = false;
    std::uint32_t gamePid = corvane::toUint32(info[0], ok);
    if (!ok) return;
    std::string appId;
    if (!corvane::readUtf8String(info[1], &appId)) return;
    std::optional<std::uint32_t> companion =
        corvane::launchCompanion(childJob, corvane::moduleDirectory(), gamePid, appId);
    if (companion) info.GetReturnValue().Set(corvane::fromUint32(*companion));
}

NAN_MODULE_INIT(initialise) {
    ProcessJob();
    Nan::Export(target, "hasTallowin", hasTallowin);
    Nan::Export(target, "spawnTallowin", spawnTallowin);
}

}  // namespace

NAN_MODULE_WORKER_ENABLED(corvane_ostravine, initialise)
