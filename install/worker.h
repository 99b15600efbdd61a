#pragma once
// The install worker: one Install or Repair from the first request to one final result,
// keeping the shared install state current and waking the window with its two messages.

#include <string>

// Runs steps 1..9 on the calling thread (the window starts it on a thread of its own). Reads
// the install folder and the mode from installState(); leaves the final error there (empty
// on success) and posts kMsgFinished exactly once, as its last act. Never throws.
void runInstallWorker(const std::string& manifestUrl);
