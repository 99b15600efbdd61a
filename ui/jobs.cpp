#include "ui/jobs.h"

#include <mutex>

#include "install/install_state.h"
#include "install/removal.h"

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

void prepareJob(const InstallLocation& location, bool removal, HWND window) {
    installer::InstallState& shared = installer::installState();
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.mainWindow = window;
    shared.installDir = location.installDir;
    shared.repairMode = !removal && location.installationExists;
    shared.progress = 0.0;
    shared.bytesDone = 0;
    shared.bytesTotal = 0;
    shared.keptFiles = 0;
    shared.obsoleteRemoved = 0;
    shared.startTick = GetTickCount();
    shared.status.clear();
    shared.detail.clear();
    shared.finalError.clear();
    shared.finished = false;
}

void runRemovalJob(const std::function<void(bool succeeded)>& beforeReport) {
    Handover& link = handover();
    std::wstring installDir;
    {
        installer::InstallState& shared = installer::installState();
        std::lock_guard<std::mutex> hold(shared.lock);
        installDir = shared.installDir;
    }
    installer::runRemovalWorker(link.originalProgram(), [&](bool succeeded, bool setupCopyLeft) {
        if (beforeReport) beforeReport(succeeded);
        link.report(succeeded ? 0 : 1);
        // After a failure the setup's copy stays: the Apps & features entry still runs it. A
        // program that is not that copy (a download the player ran from the folder) is the
        // player's, and stays too.
        if (succeeded && setupCopyLeft) link.finish(installDir);
    });
}

}  // namespace ui
