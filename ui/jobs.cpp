#include "ui/jobs.h"

#include <windows.h>

#include "install/removal.h"
#include "install/worker.h"

namespace ui {

InstallLocation locationFor(const CommandLineOptions& options, const std::wstring& program) {
    if (!options.installDir.empty()) return locationOfInstallDir(options.installDir);
    if (!options.installLocation.empty()) return makeInstallLocation(options.installLocation);
    if (options.uninstall && !program.empty())
        return locationOfInstallDir(program.substr(0, program.find_last_of(L'\\')));
    return InstallLocation();
}

Handover& handover() {
    // Never destroyed: a removal the player walked away from may still report while the
    // program ends.
    static Handover* const instance = new Handover;
    return *instance;
}

installer::Job jobFor(const InstallLocation& location, bool removal, const std::string& manifestUrl,
                      const std::wstring& setupProgram) {
    using installer::JobKind;
    installer::Job job;
    job.kind = removal ? JobKind::kRemoval
                       : (location.installationExists ? JobKind::kRepair : JobKind::kInstall);
    job.installDir = location.installDir;
    job.manifestUrl = manifestUrl;
    job.setupProgram = setupProgram;
    if (removal) job.leaveForLater = handover().originalProgram();
    return job;
}

namespace {

// The PC does not go to sleep while this thread works, though the display may still turn
// off; the system's own timers take over again when it ends.
class StayAwake {
public:
    StayAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }
    ~StayAwake() { SetThreadExecutionState(ES_CONTINUOUS); }
    StayAwake(const StayAwake&) = delete;
    StayAwake& operator=(const StayAwake&) = delete;
};

}  // namespace

void runJob(const installer::Job& job, installer::ProgressSink& sink,
            const std::function<void(const installer::Outcome&)>& beforeReport) {
    const StayAwake awake;
    if (job.kind != installer::JobKind::kRemoval) {
        installer::runInstallWorker(job, sink);
        return;
    }
    Handover& link = handover();
    installer::runRemovalWorker(job, sink, [&](const installer::Outcome& outcome) {
        if (beforeReport) beforeReport(outcome);
        link.report(outcome.succeeded ? 0 : 1);
        // After a failure the setup's copy stays: the Apps & features entry still runs it. A
        // program that is not that copy (a download the player ran from the folder) is the
        // player's, and stays too.
        if (outcome.succeeded && outcome.setupCopyLeft) link.finish(job.installDir);
    });
}

}  // namespace ui
