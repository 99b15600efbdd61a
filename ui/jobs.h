#pragma once
// What one run of the program works on, and what the window and the silent mode share to
// start the work.

#include <functional>
#include <string>

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

// Writes the job into the install state for a worker to take: the folder, Install or
// Repair, the window to wake (null: none), and a fresh progress record.
void prepareJob(const InstallLocation& location, bool removal, HWND window);

// The removal of the prepared folder, on the calling thread: the removal worker; then
// `beforeReport` (may be empty) with the outcome; then, in a temporary copy, the result for
// the original and, after a good removal, the original's file. Posts kMsgFinished last.
void runRemovalJob(const std::function<void(bool succeeded)>& beforeReport = {});

}  // namespace ui
