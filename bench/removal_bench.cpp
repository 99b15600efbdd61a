// The install record and the removal at the size of a large client:
//   1. adding 200,000 paths to an empty record, then the same paths again (nothing new: the
//      record is read and left as it is);
//   2. removing an installation of N files (default 20,000) in 200 folders, with one
//      player's file left, against deleting the same files with no record to read.
//   removal_bench.exe [--record N] [--files N]
// Wine's speed swings with CPU placement: compare only the ratios of one run.

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "install/removal.h"
#include "tests/support/temp_dir.h"

using namespace installer;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double peakMegabytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PeakWorkingSetSize) / (1 << 20);
}

std::vector<std::string> clientPaths(size_t count) {
    std::vector<std::string> paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i)
        paths.push_back("data/pack" + std::to_string(i % 200) + "/asset_" + std::to_string(i) + ".bin");
    return paths;
}

void writeFiles(const std::wstring& root, const std::vector<std::string>& paths) {
    for (size_t folder = 0; folder < 200; ++folder) {
        CreateDirectoryW((root + L"\\data").c_str(), nullptr);
        CreateDirectoryW((root + L"\\data\\pack" + std::to_wstring(folder)).c_str(), nullptr);
    }
    for (const std::string& path : paths) {
        std::wstring full = root + L"\\" + std::wstring(path.begin(), path.end());
        for (wchar_t& c : full)
            if (c == L'/') c = L'\\';
        HANDLE file = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    size_t recordPaths = 200000, files = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--record")) recordPaths = std::strtoull(argv[i + 1], nullptr, 10);
        if (!std::strcmp(argv[i], "--files")) files = std::strtoull(argv[i + 1], nullptr, 10);
    }
    std::string error;
    if (recordPaths > 0) {
        testsupport::TempDir dir;
        const std::vector<std::string> paths = clientPaths(recordPaths);
        Clock::time_point start = Clock::now();
        if (!addToInstallRecord(dir.str(), paths, error)) return std::printf("record: %s\n", error.c_str()), 1;
        const double first = seconds(start);
        start = Clock::now();
        addToInstallRecord(dir.str(), paths, error);
        std::printf("record of %zu paths: written in %.2f s, again (nothing new) in %.2f s; peak %.0f MB\n",
                    recordPaths, first, seconds(start), peakMegabytes());
    }
    if (files > 0) {
        const std::vector<std::string> paths = clientPaths(files);
        testsupport::TempDir installed, plain;
        writeFiles(installed.str(), paths);
        addToInstallRecord(installed.str(), paths, error);
        HANDLE player = CreateFileW((installed.str() + L"\\data\\pack0\\screenshot.png").c_str(), GENERIC_WRITE,
                                    0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (player != INVALID_HANDLE_VALUE) CloseHandle(player);
        Clock::time_point start = Clock::now();
        RemovalResult result;
        int reports = 0;
        const std::wstring failure = removeInstallation(installed.str(), L"", result,
                                                        [&](int64_t, int64_t, const std::wstring&) { ++reports; });
        const double removal = seconds(start);

        writeFiles(plain.str(), paths);
        start = Clock::now();
        for (const std::string& path : paths) {
            std::wstring full = plain.str() + L"\\" + std::wstring(path.begin(), path.end());
            for (wchar_t& c : full)
                if (c == L'/') c = L'\\';
            DeleteFileW(full.c_str());
        }
        const double bare = seconds(start);
        std::printf("removal of %zu files: %.2f s (%.0f files/s, %d progress reports, %lld removed, %lld kept%s), "
                    "bare DeleteFileW of the same: %.2f s, ratio %.2f\n",
                    files, removal, static_cast<double>(files) / removal, reports,
                    static_cast<long long>(result.removed), static_cast<long long>(result.kept),
                    failure.empty() ? "" : ", FAILED", bare, removal / bare);
    }
    return 0;
}
