#pragma once
// --silent: the job without a window, for support staff and launchers. The outcome is the
// exit code; progress and the final error go to --log= and to the console the program was
// started from.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "base/unique_handle.h"
#include "ui/command_line.h"
#include "ui/install_location.h"

namespace ui {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Which progress is worth a line: every new status, and each further tenth of a counted
// phase. A run over a whole client then writes some dozens of lines, not one per file.
class ProgressLines {
public:
    // The line to write for this state of the work, or empty when it adds nothing.
    std::wstring next(const std::wstring& status, bool counted, double progress);

private:
    std::wstring status_;
    int tenths_ = -1;
};

// Where the lines go: the log file (appended to, so earlier runs stay) and the console.
class ProgressLog {
public:
    // Opens `path` for appending, making its folder. False with `error` set when it cannot.
    bool openFile(const std::wstring& path, std::wstring& error);
    // The output the program was started with (a console, a pipe, a file), or the console of
    // the program that started it.
    void attachConsole();
    // Writes `text` with the time in front.
    void write(const std::wstring& text);

private:
    base::UniqueFile file_;
    HANDLE console_ = nullptr;  // not owned
    bool consoleIsTerminal_ = false;
};

// The lines of the runs of one program: written on the worker's thread as it reports
// progress (the install state's listener), each run opened by a line naming the job and
// closed by its outcome. A removal's outcome is written before its result goes to an
// original setup waiting for it: a temporary copy must have said everything by then.
class RunLog {
public:
    struct Snapshot {
        std::wstring status, installDir, finalError;
        double progress = 0.0;
        int64_t keptFiles = 0;
        int64_t obsoleteRemoved = 0;
    };

    RunLog(ProgressLog& log, bool removal);
    // kMsgProgress: what the work shows now, if it is news; kMsgFinished: the outcome.
    void onMessage(UINT message);
    // The progress up to the end, then the final error or what a removal kept; once a run.
    void outcome();

private:
    void begin();
    void progress(const Snapshot& now);

    ProgressLog& log_;
    const bool removal_;
    ProgressLines lines_;
    std::mutex lock_;
    bool started_ = false;
};

// Runs the job the command line names (Install or Repair as the button would choose, or the
// removal) and returns the exit code. `location` is locationFor's answer.
int runSilently(const CommandLineOptions& options, const InstallLocation& location,
                const std::string& manifestUrl);

}  // namespace ui
