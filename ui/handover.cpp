#include "ui/handover.h"

#include <cwchar>

#include "base/long_path.h"
#include "install/removal.h"

namespace ui {

namespace {

constexpr wchar_t kCopyPrefix[] = L"OrvaneSetup-removal-";
// How long the copy waits for the original to end after telling it the result: it ends at
// once, so this is only a bound for a stuck machine.
constexpr DWORD kOriginalExitWaitMs = 30000;
constexpr DWORD kFileRetryMs = 100;

std::wstring temporaryFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    if (length == 0 || length > MAX_PATH) return std::wstring();
    std::wstring folder(path, length);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

// One argument as CommandLineToArgvW reads it back: quoted when it holds a space, tab or
// quote, with quotes escaped and the backslashes before them doubled.
std::wstring quoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring handleText(HANDLE handle) {
    return std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
}

HANDLE handleFrom(const std::wstring& text) {
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text.c_str(), &end, 10);
    if (text.empty() || !end || *end != L'\0' || value == 0) return nullptr;
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

}  // namespace

std::wstring currentProgram() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return base::fullPath(path);
        }
        path.resize(path.size() * 2);
    }
}

namespace {

// The pipe the copy writes its one byte of result into, and this process's handle, which
// the copy waits on before it deletes this program's file. Both ends the copy gets are
// inheritable; the read end stays here.
struct ResultLink {
    base::UniqueFile readEnd, writeEnd;
    base::UniqueHandle self;

    bool open() {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE selfHandle = nullptr;
        if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0) ||
            !SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0) ||
            !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &selfHandle,
                             SYNCHRONIZE, TRUE, 0))
            return false;
        self.reset(selfHandle);
        return true;
    }
};

// The copy's command line: this run's arguments, the folder by name and the hand-over.
std::wstring copyCommandLine(const std::wstring& copy, const std::vector<std::wstring>& arguments,
                             const std::wstring& installDir, const ResultLink& link,
                             const std::wstring& program) {
    std::wstring commandLine = quoteArgument(copy);
    for (const std::wstring& argument : arguments) {
        // The copy gets the folder by name: it does not run from it. It starts in another
        // folder too, where a relative log name would mean another file.
        if (argument.rfind(L"--install=", 0) == 0 || argument.rfind(L"--install-dir=", 0) == 0) continue;
        if (argument.rfind(L"--log=", 0) == 0 && argument.size() > 6)
            commandLine += L" " + quoteArgument(L"--log=" + base::fullPath(argument.substr(6)));
        else
            commandLine += L" " + quoteArgument(argument);
    }
    commandLine += L" " + quoteArgument(L"--install-dir=" + base::fullPath(installDir));
    commandLine += L" " + quoteArgument(L"--handover=" + handleText(link.writeEnd.get()) + L"," +
                                        handleText(link.self.get()) + L"," + program);
    return commandLine;
}

// Starts the copy in `folder` with `commandLine`, giving it this program's standard handles
// and the inheritable ones. The copy goes when its last handle closes: one this side opens
// delete-on-close and the copy inherits and holds until it ends, so nothing is left in the
// temporary folder. A system that will not start a program so held gets a plain copy of
// `program`, which the next removal sweeps up. Null when it cannot be started.
base::UniqueHandle startCopy(const std::wstring& program, const std::wstring& copy,
                             const std::wstring& folder, std::wstring& commandLine) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // Whatever this program writes to goes on receiving the copy's lines.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const auto start = [&] {
        return CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              folder.c_str(), &startup, &process) != FALSE;
    };
    base::UniqueFile deleteOnClose(CreateFileW(copy.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                               &inheritable, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
                                               nullptr));
    bool started = start();
    if (!started && deleteOnClose) {
        deleteOnClose.reset();
        started = CopyFileW(program.c_str(), copy.c_str(), FALSE) && start();
    }
    if (!started) return base::UniqueHandle();
    CloseHandle(process.hThread);
    return base::UniqueHandle(process.hProcess);
}

}  // namespace

int handOverRemoval(const std::wstring& program, const std::vector<std::wstring>& arguments,
                    const std::wstring& installDir, std::wstring& error) {
    const std::wstring folder = temporaryFolder();
    const std::wstring copy =
        folder + L"\\" + kCopyPrefix + std::to_wstring(GetCurrentProcessId()) + L".exe";
    if (folder.empty() || !CopyFileW(program.c_str(), copy.c_str(), FALSE)) {
        error = L"Removal failed: could not copy the setup to the temporary folder";
        return 1;
    }
    ResultLink link;
    std::wstring commandLine;
    base::UniqueHandle child;
    if (link.open()) {
        commandLine = copyCommandLine(copy, arguments, installDir, link, program);
        child = startCopy(program, copy, folder, commandLine);
    }
    if (!child) {
        DeleteFileW(copy.c_str());
        error = L"Removal failed: could not start the temporary copy";
        return 1;
    }
    // Only the copy holds the write end now: its end, or its report, ends the read.
    link.writeEnd.reset();
    unsigned char code = 0;
    DWORD read = 0;
    if (ReadFile(link.readEnd.get(), &code, 1, &read, nullptr) && read == 1) return code;
    error = kCopyEndedWithoutResult;
    return 1;
}

bool Handover::take(const std::wstring& option) {
    const size_t first = option.find(L',');
    const size_t second = first == std::wstring::npos ? first : option.find(L',', first + 1);
    if (second == std::wstring::npos) return false;
    HANDLE report = handleFrom(option.substr(0, first));
    HANDLE original = handleFrom(option.substr(first + 1, second - first - 1));
    // Only what handOverRemoval passes: a pipe to write the result into.
    if (!report || !original || second + 1 >= option.size() || GetFileType(report) != FILE_TYPE_PIPE)
        return false;
    report_.reset(report);
    original_.reset(original);
    originalProgram_ = option.substr(second + 1);
    return true;
}

void Handover::report(int exitCode) {
    if (!report_) return;
    const unsigned char code = static_cast<unsigned char>(exitCode);
    DWORD written = 0;
    WriteFile(report_.get(), &code, 1, &written, nullptr);
    report_.reset();
}

void Handover::finish(const std::wstring& installDir) {
    if (!original_) return;
    WaitForSingleObject(original_.get(), kOriginalExitWaitMs);
    original_.reset();
    // An ended program's file can stay locked a moment after its process says it has ended.
    for (DWORD waited = 0; !installer::removeSetupCopy(installDir, originalProgram_); waited += kFileRetryMs) {
        if (waited >= kOriginalExitWaitMs ||
            GetFileAttributesW(originalProgram_.c_str()) == INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(kFileRetryMs);
    }
}

void sweepTemporaryCopies() {
    const std::wstring folder = temporaryFolder();
    if (folder.empty()) return;
    WIN32_FIND_DATAW found{};
    base::UniqueFind search(FindFirstFileW((folder + L"\\" + kCopyPrefix + L"*.exe").c_str(), &found));
    if (!search) return;
    do {
        // A copy still running (this one, or another removal's) refuses to go.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search.get(), &found));
}

}  // namespace ui
