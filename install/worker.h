#pragma once
// The install worker: one Install or Repair from the first request to one outcome, told to a
// progress sink as it goes.

#include "install/job.h"

namespace installer {

// Runs `job` (an Install or a Repair) on the calling thread (the program starts it on a thread
// of its own): takes the install folder for this run alone, reads the manifest once, streams
// the full archive bound to it (Install only), stops a running client, verifies every file
// (Repair: by reading every byte) and repairs what differs, removes what this release
// dropped, places the desktop and Start-menu shortcuts, and (with Job::setupProgram) copies
// the setup into the folder and registers the game in Apps & features. Every file is in the
// folder's install record before the archive writes it.
// Reports its phases and progress to `sink`, then its outcome through sink.finished, exactly
// once, as its last act. Never throws.
void runInstallWorker(const Job& job, ProgressSink& sink);

}  // namespace installer
