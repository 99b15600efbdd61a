#include "ui/silent.h"

#include <windows.h>

#include <cmath>
#include <mutex>
#include <thread>

#include "base/long_path.h"
#include "base/text.h"
#include "install/obsolete_files.h"
#include "install/removal.h"
#include "ui/jobs.h"

namespace ui {

namespace {

std::wstring timestamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    return text;
}

// The folders above `path` the log needs; a bare name needs none.
void makeParentFolders(const std::wstring& path) {
    base::createParentDirectories(base::fullPath(path));
}

std::wstring keptLine(int64_t kept, const std::wstring& folder) {
    if (kept <= 0) return L"Nothing was kept.";
    return std::to_wstring(kept) + (kept == 1 ? L" file made by the game or by you was kept in "
                                              : L" files made by the game or by you were kept in ") +
           folder;
}

}  // namespace

std::wstring ProgressLines::next(const std::wstring& status, bool counted, double progress) {
    const int tenths = counted ? static_cast<int>(std::floor(std::fmin(std::fmax(progress, 0.0), 1.0) * 10.0)) : -1;
    if (status.empty() || (status == status_ && tenths <= tenths_)) return std::wstring();
    if (status != status_) tenths_ = -1;
    status_ = status;
    if (tenths <= tenths_) return status;
    tenths_ = tenths;
    return counted ? status + L" " + std::to_wstring(tenths * 10) + L"%" : status;
}

bool ProgressLog::openFile(const std::wstring& path, std::wstring& error) {
    makeParentFolders(path);
    file_.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) {
        error = L"Could not open the log file " + path;
        return false;
    }
    return true;
}

void ProgressLog::attachConsole() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!output || output == INVALID_HANDLE_VALUE || GetFileType(output) == FILE_TYPE_UNKNOWN) {
        // A program without a console of its own reaches its starter's console only by asking.
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
        output = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        if (output == INVALID_HANDLE_VALUE) return;
    }
    DWORD mode = 0;
    console_ = output;
    consoleIsTerminal_ = GetConsoleMode(output, &mode) != 0;
}

void ProgressLog::write(const std::wstring& text) {
    const std::wstring line = timestamp() + L"  " + text + L"\r\n";
    if (file_) {
        const std::string bytes = base::toUtf8(line);
        DWORD written = 0;
        WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    if (!console_) return;
    DWORD written = 0;
    if (consoleIsTerminal_) {
        WriteConsoleW(console_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } else {
        const std::string bytes = base::toUtf8(line);
        WriteFile(console_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

RunLog::RunLog(ProgressLog& log) : log_(log) {}

void RunLog::report(const installer::Job& job, const WorkSnapshot& now) {
    if (now.finished) {
        outcome(job, now, now.outcome);
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (!started_) begin(job);
    progress(now);
}

void RunLog::outcome(const installer::Job& job, const WorkSnapshot& now, const installer::Outcome& outcome) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!started_) return;
    started_ = false;
    progress(now);
    if (!outcome.succeeded)
        log_.write(L"Error: " + outcome.error);
    else if (job.kind == installer::JobKind::kRemoval)
        log_.write(keptLine(outcome.keptFiles, job.installDir));
    else if (outcome.obsoleteRemoved > 0)
        log_.write(installer::obsoleteFilesLine(outcome.obsoleteRemoved));
}

void RunLog::begin(const installer::Job& job) {
    using installer::JobKind;
    started_ = true;
    lines_ = ProgressLines();
    host_.clear();
    log_.write(job.kind == JobKind::kRemoval ? L"Removing Orvane Online from " + job.installDir
               : job.kind == JobKind::kRepair ? L"Repairing Orvane Online in " + job.installDir
                                              : L"Installing Orvane Online to " + job.installDir);
}

void RunLog::progress(const WorkSnapshot& now) {
    // A new host is a report of its own: the bytes it shows are the next phase line's news.
    if (now.host != host_ && !now.host.empty()) {
        host_ = now.host;
        log_.write(now.hostLeft.empty() ? L"Downloading from " + host_
                                        : L"Downloading from " + host_ + L" (" + now.hostLeft + L")");
        return;
    }
    const std::wstring line = lines_.next(now.status, !now.busy, now.progress);
    if (!line.empty()) log_.write(line);
}

int runSilently(const CommandLineOptions& options, const installer::Job& job, lang::Language language) {
    ProgressLog log;
    log.attachConsole();
    // The log first: a launcher that reads only the log learns what was wrong too.
    std::wstring usage;
    if (options.logGiven && !options.logPath.empty()) log.openFile(options.logPath, usage);
    if (usage.empty()) usage = silentUsageError(options);
    if (!usage.empty()) {
        log.write(usage);
        handover().report(kExitUsage);
        return kExitUsage;
    }

    // The log stays English for whoever reads it for the player; it names the language the
    // window would have spoken, which is the one the player reads.
    log.write(L"Window language: " + lang::tagOf(language));
    const bool removal = job.kind == installer::JobKind::kRemoval;
    const std::wstring refusal = removal ? installer::removalRefusal(job.installDir) : std::wstring();
    if (!refusal.empty()) {
        log.write(refusal == installer::kNothingToRemove ? refusal + L" (" + job.installDir + L")" : refusal);
        handover().report(kExitFailure);
        return kExitFailure;
    }
    if (!removal) {
        // The whole path: a location named on the command line need not exist yet.
        base::createParentDirectories(job.installDir);
        CreateDirectoryW(job.installDir.c_str(), nullptr);
    }
    RunLog run(log);
    // This thread waits for the worker, so the run's record can live on its stack.
    WorkProgress work(nullptr, [&run, &job](const WorkSnapshot& now) { run.report(job, now); });
    run.report(job, work.snapshot());  // the run's first line, before the worker's
    std::thread worker;
    try {
        worker = std::thread([&] {
            runJob(job, work, [&](const installer::Outcome& outcome) { run.outcome(job, work.snapshot(), outcome); });
        });
    } catch (const std::exception&) {
        log.write(removal ? L"Error: Removal failed: could not start the removal"
                          : L"Error: Install failed: could not start the install");
        handover().report(kExitFailure);
        return kExitFailure;
    }
    worker.join();
    return work.snapshot().outcome.succeeded ? kExitSuccess : kExitFailure;
}

}  // namespace ui
