#pragma once
// The orvpak command line: publish, list and verify, their usage text and exit codes.

#include <ostream>
#include <string>
#include <vector>

namespace orvpak {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a damaged archive, a refused client file, a read/write error
constexpr int kExitUsage = 2;   // the command line itself is wrong

std::string usageText();

// Runs one command (`args` without the program name), writing results to `out` and
// messages to `err`; returns the exit code. Paths in `args` are UTF-8.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace orvpak
