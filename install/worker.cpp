#include "install/worker.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "base/long_path.h"
#include "base/path_identity.h"
#include "base/text.h"
#include "install/archive.h"
#include "install/client_process.h"
#include "install/folder_lock.h"
#include "install/install_state.h"
#include "install/obsolete_files.h"
#include "install/registration.h"
#include "install/removal.h"
#include "install/shortcut.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/update.h"
#include "update/verify_cache.h"

namespace installer {

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
    using pcupd::UpdateStage;
    const std::wstring label = progress.stage == UpdateStage::kChecking ? L"Verifying files..." : L"Repairing files...";
    InstallState& state = installState();
    if ((progress.stage == UpdateStage::kDownloading || progress.stage == UpdateStage::kUpdated) &&
        progress.bytesTotal > 0) {
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

// Reads the manifest once: its archive entry and its file list come from the same document,
// so the archive is checked against exactly the files the verification then expects. It
// passes the same signature and freshness checks as the update run's own fetch.
bool readManifest(const std::string& url, const std::wstring& installDir,
                  pcupd::FullArchive& archive, pcupd::Manifest& manifest, std::string& error) {
    std::string body, signedBy;
    if (!pcupd::fetchSignedManifest(url, body, signedBy, error) ||
        !pcupd::parseFullArchive(body, archive, error) || !pcupd::parseManifest(body, manifest, error))
        return false;
    manifest.signedBy = std::move(signedBy);
    return pcupd::acceptManifest(manifest, installDir, error);
}

// Every file the manifest lists goes into the folder's record before any of them is written:
// a removal deletes only what the record shows this program put there.
bool recordManifest(const std::wstring& installDir, const pcupd::Manifest& manifest, std::string& error) {
    std::vector<std::string> paths;
    paths.reserve(manifest.files.size());
    for (const pcupd::ManifestFile& file : manifest.files) paths.push_back(file.path);
    return addToInstallRecord(installDir, paths, error);
}

bool listsSetup(const pcupd::Manifest& manifest) {
    const std::string setup = pcupd::VerifyCache::key(base::toUtf8(kSetupCopyName));
    return std::any_of(manifest.files.begin(), manifest.files.end(),
                       [&](const pcupd::ManifestFile& file) { return pcupd::VerifyCache::key(file.path) == setup; });
}

// A copy of the running setup in the install folder, for the Apps & features entry's
// commands, unless the manifest ships one (the update keeps that one current) or this run is
// that copy. The copy replaces an older one whole or not at all.
bool placeSetupCopy(const std::wstring& installDir, const std::wstring& setupProgram,
                    const pcupd::Manifest& manifest, std::string& error) {
    if (listsSetup(manifest)) return true;
    const std::wstring target = base::fullPath(installDir) + L"\\" + kSetupCopyName;
    const std::wstring running = base::fullPath(setupProgram);
    if (base::samePath(target, running)) return true;
    if (!addToInstallRecord(installDir, {base::toUtf8(kSetupCopyName)}, error)) return false;
    const std::wstring temporary = target + L".part";
    if (!CopyFileW(running.c_str(), temporary.c_str(), FALSE) ||
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        error = "could not copy the setup into the install folder";
        return false;
    }
    return true;
}

// What makes the game a good citizen once it is installed and verified: the shortcuts, the
// setup's copy and the Apps & features entry. None of it is a reason to call the install
// failed: the game itself is in place.
void settleIn(const std::wstring& installDir, const std::string& manifestUrl,
              const pcupd::Manifest& manifest) {
    std::string error;
    createShortcut(desktopFolder(), installDir, error);
    createShortcut(programsFolder(), installDir, error);

    std::wstring setupProgram;
    {
        InstallState& state = installState();
        std::lock_guard<std::mutex> hold(state.lock);
        setupProgram = state.setupProgram;
    }
    if (setupProgram.empty() || !placeSetupCopy(installDir, setupProgram, manifest, error)) return;
    Registration registration;
    registration.installDir = installDir;
    registration.clientVersion = manifest.clientVersion;
    registration.manifestUrl = manifestUrl;
    for (const pcupd::ManifestFile& file : manifest.files)
        registration.clientBytes += static_cast<uint64_t>(std::max<int64_t>(file.size, 0));
    registerInstallation(registration, error);
}

// Everything between the first and the last assignment of a run: check the folder, record
// and install the archive (not in repair mode), verify and repair, settle in. Returns the
// final error, empty on success.
std::wstring installOrRepair(const std::string& manifestUrl, const std::wstring& installDir,
                             bool repairMode) {
    InstallState& state = installState();
    if (installDir.empty()) return L"No install location was selected.";
    // A location such as Documents is fine: the client goes into a folder of its own there.
    if (isProtectedFolder(installDir))
        return L"Install failed: " + base::fullPath(installDir) +
               L" is a system or personal folder; choose a folder of its own for the game.";
    FolderLock folderLock;
    if (!folderLock.acquire(installDir)) return L"Install failed: another setup is working in this folder";

    pcupd::Manifest manifest;
    if (!repairMode) {
        state.busy = true;
        status(L"Contacting update server...");
        pcupd::FullArchive archive;
        std::string error;
        if (!readManifest(manifestUrl, installDir, archive, manifest, error))
            return L"Could not read the update manifest: " + base::toWide(error);

        // Better to say so now than with a write error a gigabyte later.
        uint64_t available = 0;
        if (archive.size > 0 && freeSpace(installDir, available) &&
            available < static_cast<uint64_t>(archive.size))
            return L"Install failed: not enough disk space (" +
                   base::toWide(formatSize(static_cast<uint64_t>(archive.size))) + L" needed, " +
                   base::toWide(formatSize(available)) + L" free)";

        if (!recordManifest(installDir, manifest, error)) return L"Install failed: " + base::toWide(error);

        status(L"Downloading client...");
        if (!installFullArchive(archive, manifest, installDir, error))
            return L"Install failed: " + base::toWide(error);
    }

    // The update run also clears what an interrupted earlier run left behind, once it knows
    // which names the manifest lists.
    stopRunningClient(installDir);
    state.busy = true;
    status(L"Verifying files...");
    // Right after this run's own install the cache holds only digests of bytes the stream
    // just wrote and hashed. A repair is asked for because something is wrong, and damage
    // need not change a file's size or time: then every file is read.
    const bool useCache = !repairMode;
    // A repair reads the manifest in the update run, with the same checks.
    const pcupd::UpdateResult result =
        repairMode ? pcupd::runUpdate(manifestUrl, installDir, L"", useCache, manifest, onUpdateProgress)
                   : pcupd::runUpdate(manifest, installDir, L"", useCache, onUpdateProgress);
    // A repair learns the file list only in its run; whatever it wrote is recorded, done or
    // not. A folder installed before the record existed gets one here.
    std::string recordError;
    if (repairMode && !manifest.files.empty() && !recordManifest(installDir, manifest, recordError) &&
        result.ok)
        return L"Repair failed: " + base::toWide(recordError);
    if (!result.ok) return L"Verification failed: " + base::toWide(result.error);

    // The folder now holds the whole release: what earlier ones had and this one dropped goes.
    const ObsoleteFiles obsolete = removeObsoleteFiles(installDir, manifest);
    {
        std::lock_guard<std::mutex> hold(state.lock);
        state.obsoleteRemoved = obsolete.removed;
    }
    if (!obsolete.error.empty()) return L"Verification failed: " + base::toWide(obsolete.error);

    settleIn(installDir, manifestUrl, manifest);

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

// Takes the run's inputs and clears what an earlier run showed: a new run starts clean,
// nothing of an earlier failure may show through.
void beginRun(std::wstring& installDir, bool& repairMode) {
    InstallState& state = installState();
    state.running = true;
    state.finished = false;
    std::lock_guard<std::mutex> hold(state.lock);
    installDir = state.installDir;
    repairMode = state.repairMode;
    state.finalError.clear();
    state.obsoleteRemoved = 0;
    state.status.clear();
    state.detail.clear();
    state.progress = 0.0;
    state.bytesDone = 0;
    state.bytesTotal = 0;
}

// Leaves the result and wakes the window, once. Nothing here throws but the copy of the
// text, which the caller's handler covers.
void endRun(const std::wstring& finalError) {
    InstallState& state = installState();
    state.busy = false;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        state.finalError = finalError;
    }
    state.running = false;
    state.finished = true;
    postToWindow(kMsgFinished);
}

}  // namespace

void runInstallWorker(const std::string& manifestUrl) {
    // Nothing may leave this thread: an escaping exception would end the whole program. The
    // window waits for kMsgFinished, so it is posted on every path.
    const wchar_t* failure = nullptr;
    try {
        std::wstring installDir;
        bool repairMode = false;
        beginRun(installDir, repairMode);
        endRun(installOrRepair(manifestUrl, installDir, repairMode));
        return;
    } catch (const std::bad_alloc&) {
        failure = L"Install failed: out of memory";
    } catch (...) {
        failure = L"Install failed: unexpected error";
    }
    try {
        endRun(failure);
    } catch (...) {  // not even the message fits: the flags and the message still must go
        InstallState& state = installState();
        state.busy = false;
        state.running = false;
        state.finished = true;
        PostMessageW(state.mainWindow, kMsgFinished, 0, 0);
    }
}

}  // namespace installer
