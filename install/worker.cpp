#include "install/worker.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "base/long_path.h"
#include "base/text.h"
#include "install/archive.h"
#include "install/client_process.h"
#include "install/install_state.h"
#include "install/shortcut.h"
#include "update/manifest.h"
#include "update/update.h"

namespace {

// "1.50 GB", "320 MB": enough to act on a disk-space message.
std::string formatSize(uint64_t bytes) {
    char text[32];
    if (bytes >= 1000000000ULL)
        std::snprintf(text, sizeof(text), "%.2f GB", static_cast<double>(bytes) / 1e9);
    else
        std::snprintf(text, sizeof(text), "%.0f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Free bytes for the caller on the volume that will hold `folder`, which may not exist yet:
// the nearest existing folder above it answers. False when none does.
bool freeSpace(const std::wstring& folder, uint64_t& bytes) {
    std::wstring path = base::fullPath(folder);
    for (;;) {
        ULARGE_INTEGER available{};
        if (GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
            bytes = available.QuadPart;
            return true;
        }
        const size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash + 1 >= path.size()) return false;
        path = path.substr(0, slash == 2 && path[1] == L':' ? 3 : slash);
    }
}

void status(const std::wstring& text, const std::wstring& detail = std::wstring()) {
    setStatus(text, detail);
    postToWindow(kMsgProgress);
}

// Shows the update run's progress: its phase as the status, the file as the detail, and,
// while files download, their bytes on the bar.
void onUpdateProgress(const pcupd::Progress& progress) {
    const std::wstring label = progress.phase == 1 ? L"Verifying files..." : L"Repairing files...";
    InstallState& state = installState();
    if ((progress.phase == 2 || progress.phase == 3) && progress.bytesTotal > 0) {
        {
            std::lock_guard<std::mutex> hold(state.lock);
            if (state.busy) state.startTick = GetTickCount();
            state.bytesDone = static_cast<uint64_t>(std::max<int64_t>(progress.bytesDone, 0));
            state.bytesTotal = progress.bytesTotal;
            state.progress = std::min(1.0, static_cast<double>(state.bytesDone) /
                                               static_cast<double>(progress.bytesTotal));
        }
        state.busy = false;
    }
    status(label, base::toWide(progress.item));
}

// Steps 2..8; the final error is empty on success.
std::wstring installOrRepair(const std::string& manifestUrl, const std::wstring& installDir,
                             bool repairMode) {
    InstallState& state = installState();
    if (installDir.empty()) return L"No install location was selected.";

    if (!repairMode) {
        state.busy = true;
        status(L"Contacting update server...");
        pcupd::FullArchive archive;
        std::string error;
        if (!pcupd::fetchFullArchive(manifestUrl, archive, error))
            return L"Could not read the update manifest: " + base::toWide(error);

        // Better to say so now than with a write error a gigabyte later.
        uint64_t available = 0;
        if (archive.size > 0 && freeSpace(installDir, available) &&
            available < static_cast<uint64_t>(archive.size))
            return L"Install failed: not enough disk space (" +
                   base::toWide(formatSize(static_cast<uint64_t>(archive.size))) + L" needed, " +
                   base::toWide(formatSize(available)) + L" free)";

        status(L"Downloading client...");
        if (!installFullArchive(archive.url, installDir, error))
            return L"Install failed: " + base::toWide(error);
    }

    stopRunningClient(installDir);
    removeStagedLeftovers(installDir);
    state.busy = true;
    status(L"Verifying files...");
    pcupd::Manifest manifest;
    const pcupd::UpdateResult result =
        pcupd::runUpdate(manifestUrl, installDir, L"", true, manifest, onUpdateProgress);
    if (!result.ok) return L"Verification failed: " + base::toWide(result.error);

    // The game is installed and verified whatever happens here: a missing shortcut is no
    // reason to call the install failed.
    std::string shortcutError;
    createShortcut(desktopFolder(), installDir, shortcutError);

    state.busy = false;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        state.progress = 1.0;
        state.status = repairMode ? L"Repair complete" : L"Installation complete";
        state.detail = installDir;
    }
    postToWindow(kMsgProgress);
    return std::wstring();
}

}  // namespace

void runInstallWorker(const std::string& manifestUrl) {
    InstallState& state = installState();
    state.running = true;
    state.finished = false;
    std::wstring installDir, finalError;
    bool repairMode = false;
    {
        // A new run starts clean: nothing of an earlier failure may show through.
        std::lock_guard<std::mutex> hold(state.lock);
        installDir = state.installDir;
        repairMode = state.repairMode;
        state.finalError.clear();
        state.status.clear();
        state.detail.clear();
        state.progress = 0.0;
        state.bytesDone = 0;
        state.bytesTotal = 0;
    }

    // Nothing may leave this thread: an escaping exception would end the whole program.
    try {
        finalError = installOrRepair(manifestUrl, installDir, repairMode);
    } catch (const std::bad_alloc&) {
        finalError = L"Install failed: out of memory";
    } catch (...) {
        finalError = L"Install failed: unexpected error";
    }

    state.busy = false;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        state.finalError = finalError;
    }
    state.running = false;
    state.finished = true;
    postToWindow(kMsgFinished);
}
