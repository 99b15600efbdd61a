#pragma once
// --silent: the job without a window, for support staff and launchers. The outcome is the
// exit code; progress and the final error go to --log= and to the console the program was
// started from.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "base/unique_handle.h"
#include "install/job.h"
#include "lang/language.h"
#include "ui/command_line.h"
#include "ui/work_progress.h"

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
// progress (a WorkProgress listener), each run opened by a line naming the job and closed by
// its outcome. A removal's outcome is written before its result goes to an original setup
// waiting for it: a temporary copy must have said everything by then.
class RunLog {
public:
    explicit RunLog(ProgressLog& log);
    // One report of `job`'s run: its opening line first, then what the work shows now, if it
    // is news; once `now` is finished, the outcome.
    void report(const installer::Job& job, const WorkSnapshot& now);
    // The progress up to the end (`now`), then the final error, what a removal kept or what
    // an update dropped; once a run.
    void outcome(const installer::Job& job, const WorkSnapshot& now, const installer::Outcome& outcome);

private:
    void begin(const installer::Job& job);
    void progress(const WorkSnapshot& now);

    ProgressLog& log_;
    ProgressLines lines_;
    std::wstring host_;  // the download host last written
    std::mutex lock_;
    bool started_ = false;
};

// Runs `job` (Install or Repair as the button would choose, or the removal, as jobFor makes
// it from the command line) and returns the exit code.
int runSilently(const CommandLineOptions& options, const installer::Job& job, lang::Language language);

}  // namespace ui
