#pragma once
// What one run of the program works on, and how the window and the silent mode run it.

#include <functional>
#include <string>

#include "install/job.h"
#include "ui/command_line.h"
#include "ui/handover.h"
#include "ui/install_location.h"

namespace ui {

// The folder a command line means: --install-dir= as given, or the install folder made under
// --install=; for a removal with neither, the folder the program runs from (`program`).
// `chosen` is empty when nothing names a folder.
InstallLocation locationFor(const CommandLineOptions& options, const std::wstring& program);

// The temporary copy's link to the original setup; inactive in any other run.
Handover& handover();

// The job for `location`: the removal, or Install or Repair as the button would choose,
// from `manifestUrl`, with `setupProgram` (this program; may be empty) copied into the folder
// after a good run. In a temporary copy a removal leaves the original's file for later.
installer::Job jobFor(const InstallLocation& location, bool removal, const std::string& manifestUrl,
                      const std::wstring& setupProgram);

// Runs `job` on the calling thread, reporting to `sink`: the install worker, or the removal
// worker; after a removal `beforeReport` (may be empty) hears its outcome, then, in a
// temporary copy, the original hears the result and, after a good removal, loses its file.
// All of that comes before sink.finished. The PC stays awake meanwhile.
void runJob(const installer::Job& job, installer::ProgressSink& sink,
            const std::function<void(const installer::Outcome&)>& beforeReport = {});

}  // namespace ui
