#pragma once
// The install worker: one Install or Repair from the first request to one final result,
// keeping the shared install state current and waking the window with its two messages.

#include <string>

namespace installer {

// Runs one Install or Repair on the calling thread (the window starts it on a thread of its
// own): takes the install folder for this run alone, reads the manifest once, streams the
// full archive bound to it (Install only), stops a running client, verifies every file
// (Repair: by reading every byte) and repairs what differs, places the desktop and Start-menu
// shortcuts, and (with installState().setupProgram set) copies the setup into the folder and
// registers the game in Apps & features. Every file is in the folder's install record before
// the archive writes it.
// Reads the install folder and the mode from installState(); leaves the final error there
// (empty on success) and posts kMsgFinished exactly once, as its last act. Never throws.
void runInstallWorker(const std::string& manifestUrl);

}  // namespace installer
