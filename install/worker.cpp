#include "install/worker.h"

#include <algorithm>

#include "base/byte_size.h"
#include "base/disk_space.h"
#include "base/long_path.h"
#include "base/path_identity.h"
#include "base/text.h"
#include "install/archive.h"
#include "install/client_process.h"
#include "install/finish_once.h"
#include "install/folder_lock.h"
#include "install/obsolete_files.h"
#include "install/registration.h"
#include "install/removal.h"
#include "install/shortcut.h"
#include "update/download_hosts.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/kept_manifest.h"
#include "update/update.h"
#include "update/verify_cache.h"

namespace installer {

namespace {

// Shows the update run's progress: its stage as the phase, the file as the item, and, while
// files download, their bytes on the bar.
pcupd::ProgressCallback reportTo(ProgressSink& sink) {
    return [&sink](const pcupd::Progress& progress) {
        using pcupd::UpdateStage;
        if ((progress.stage == UpdateStage::kDownloading || progress.stage == UpdateStage::kUpdated) &&
            progress.bytesTotal > 0)
            sink.bytes(static_cast<uint64_t>(std::max<int64_t>(progress.bytesDone, 0)), progress.bytesTotal);
        sink.phase(progress.stage == UpdateStage::kChecking ? Phase::kVerifying : Phase::kRepairing,
                   base::toWide(progress.item));
    };
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
void settleIn(const Job& job, const pcupd::Manifest& manifest) {
    std::string error;
    createShortcut(desktopFolder(), job.installDir, error);
    createShortcut(programsFolder(), job.installDir, error);
    if (job.setupProgram.empty() || !placeSetupCopy(job.installDir, job.setupProgram, manifest, error)) return;
    Registration registration;
    registration.installDir = job.installDir;
    registration.clientVersion = manifest.clientVersion;
    registration.manifestUrl = job.manifestUrl;
    registration.clientBytes = pcupd::clientBytes(manifest);
    registerInstallation(registration, error);
}

// Gives `outcome` its problem, the English account and the failure behind it; false, for the
// step that failed to return.
bool fail(Outcome& outcome, Problem problem, std::wstring account, base::Failure cause = base::Failure()) {
    outcome.problem = problem;
    outcome.error = std::move(account);
    outcome.cause = std::move(cause);
    return false;
}

// Whether anything may be installed into `installDir` now: not without a folder, into a
// protected one, or into one another setup is working in (`lock` holds it otherwise, for
// the rest of the run).
bool takeFolder(const std::wstring& installDir, FolderLock& lock, Outcome& outcome) {
    if (installDir.empty()) return fail(outcome, Problem::kNoLocation, L"No install location was selected.");
    // A location such as Documents is fine: the client goes into a folder of its own there.
    if (isProtectedFolder(installDir)) {
        outcome.folder = base::fullPath(installDir);
        return fail(outcome, Problem::kProtectedFolder,
                    L"Install failed: " + outcome.folder +
                        L" is a system or personal folder; choose a folder of its own for the game.");
    }
    if (!lock.acquire(installDir))
        return fail(outcome, Problem::kFolderBusy, L"Install failed: another setup is working in this folder");
    return true;
}

// The manifest this run works from: the one fetched ahead of it where there is one, else
// its own fetch. Parsed (with the full archive, when `archive` is given) and accepted for
// the install folder.
bool readJobManifest(const Job& job, pcupd::Manifest& manifest, pcupd::FullArchive* archive,
                     base::Failure& failure) {
    const std::vector<std::string>& keys = job.engine.manifestKeys;
    pcupd::FetchedManifest fetched;
    if (job.prefetch && job.prefetch->take(job.manifestUrl, keys, job.installDir, fetched))
        return pcupd::useFetchedManifest(job.manifestUrl, keys, job.installDir, std::move(fetched), manifest,
                                         archive, failure);
    return pcupd::readManifest(job.manifestUrl, keys, job.installDir, manifest, archive, failure,
                               job.engine.transfer);
}

// Where this run's downloads come from: the manifest's base URL and mirrors, each move from
// one to another told to the sink.
std::shared_ptr<pcupd::DownloadHosts> downloadHosts(const pcupd::Manifest& manifest, ProgressSink& sink) {
    return pcupd::DownloadHosts::of(manifest, [&sink](const std::string& origin, const std::string& left) {
        sink.host(base::toWide(origin), base::toWide(left));
    });
}

// An Install's own part: the manifest (kept in `manifest` for the verification), room on the
// disk, the record, then the archive bound to that manifest, from `hosts`.
bool installClient(const Job& job, pcupd::Manifest& manifest, std::shared_ptr<pcupd::DownloadHosts>& hosts,
                   ProgressSink& sink, Outcome& outcome) {
    sink.busy();
    sink.phase(Phase::kContactingServer, std::wstring());
    // Read once: its archive entry and its file list come from the same document, so the
    // archive is checked against exactly the files the verification then expects.
    pcupd::FullArchive archive;
    base::Failure failure;
    if (!readJobManifest(job, manifest, &archive, failure))
        return fail(outcome, Problem::kManifest, L"Could not read the update manifest: " + base::toWide(failure.text),
                    failure);
    std::string error;

    // Better to say so now than with a write error a gigabyte later. The window asked the
    // same question before the player could press INSTALL; the disk may have filled since.
    base::Volume volume;
    const uint64_t client = pcupd::clientBytes(manifest);
    if (base::volumeOf(job.installDir, volume) && base::roomFor(client, volume.freeBytes) == base::Room::kShort) {
        outcome.bytesNeeded = base::spaceNeeded(client);
        outcome.bytesFree = volume.freeBytes;
        return fail(outcome, Problem::kNoSpace,
                    L"Install failed: not enough disk space (" + base::formatBytes(outcome.bytesNeeded) +
                        L" needed, " + base::formatBytes(volume.freeBytes) + L" free)",
                    base::Failure(base::FailureKind::kDisk, "not enough disk space", ERROR_DISK_FULL));
    }

    if (!recordManifest(job.installDir, manifest, error))
        return fail(outcome, Problem::kDownload, L"Install failed: " + base::toWide(error),
                    base::Failure(base::FailureKind::kDisk, error));

    sink.phase(Phase::kDownloading, std::wstring());
    hosts = downloadHosts(manifest, sink);
    pcupd::TransferOptions transfer = job.engine.transfer;
    transfer.hosts = hosts;
    if (!installFullArchive(archive, manifest, job.installDir, sink, failure, transfer))
        return fail(outcome, Problem::kDownload, L"Install failed: " + base::toWide(failure.text), failure);
    return true;
}

// Reads every byte, or trusts the verification cache for the files whose size and time it
// vouches for. Right after this run's own install the cache holds only digests of bytes the
// stream just wrote and hashed; an update to another release than the one the folder last
// completed needs only what changed, and the manifest's digests decide which files those
// are. A repair of the release already in place is asked for because something is wrong,
// and damage need not change a file's size or time: then every file is read, as it is when
// the folder does not say which release it completed.
bool readsEveryByte(JobKind kind, const std::string& completedRelease, const std::string& release) {
    if (kind == JobKind::kInstall) return false;
    return completedRelease.empty() || completedRelease == release;
}

// Checks every file against the manifest and repairs what differs, from `hosts` (an
// Install's, or set up here); a Repair reads the manifest here, into `manifest`.
bool verifyAndRepair(const Job& job, pcupd::Manifest& manifest, std::shared_ptr<pcupd::DownloadHosts>& hosts,
                     ProgressSink& sink, Outcome& outcome) {
    const bool repair = job.kind == JobKind::kRepair;
    // The update run also clears what an interrupted earlier run left behind, once it knows
    // which names the manifest lists.
    stopRunningClient(job.installDir);
    sink.busy();
    // The manifest this folder accepted last, before this run reads the next one over it:
    // what the folder held before, for the packs an update patches in place.
    pcupd::KeptManifest kept;
    if (repair) {
        if (!pcupd::loadKeptManifest(job.installDir, job.manifestUrl, kept)) kept = pcupd::KeptManifest();
        sink.phase(Phase::kContactingServer, std::wstring());
        base::Failure failure;
        if (!readJobManifest(job, manifest, nullptr, failure))
            return fail(outcome, Problem::kManifest,
                        L"Could not read the update manifest: " + base::toWide(failure.text), failure);
    }
    sink.phase(Phase::kVerifying, std::wstring());
    pcupd::UpdateOptions options = job.engine;
    options.useCache = !readsEveryByte(job.kind, pcupd::readCompletedRelease(job.installDir), manifest.sha256);
    if (!hosts) hosts = downloadHosts(manifest, sink);
    options.transfer.hosts = hosts;
    auto previous = std::make_shared<pcupd::Manifest>();
    std::string error;
    if (!kept.body.empty() && kept.sha256 != manifest.sha256 && pcupd::parseManifest(kept.body, *previous, error))
        options.previous = std::move(previous);
    kept = pcupd::KeptManifest();
    // The setup's copy in the folder, when the manifest ships it, is the running program:
    // its new release moves in beside it and takes over at the next start.
    options.selfPath = job.setupProgram;
    const pcupd::UpdateResult result = pcupd::runUpdate(manifest, job.installDir, options, reportTo(sink));
    // Whatever a repair wrote is recorded, done or not. A folder installed before the record
    // existed gets one here.
    std::string recordError;
    if (repair && !manifest.files.empty() && !recordManifest(job.installDir, manifest, recordError) &&
        result.ok)
        return fail(outcome, Problem::kVerify, L"Repair failed: " + base::toWide(recordError),
                    base::Failure(base::FailureKind::kDisk, recordError));
    if (!result.ok)
        return fail(outcome, Problem::kVerify, L"Verification failed: " + base::toWide(result.error.text),
                    result.error);
    return true;
}

// The folder now holds the whole release: what earlier ones had and this one dropped goes.
bool removeDropped(const std::wstring& installDir, const pcupd::Manifest& manifest, Outcome& outcome) {
    const ObsoleteFiles obsolete = removeObsoleteFiles(installDir, manifest);
    outcome.obsoleteRemoved = obsolete.removed;
    if (obsolete.error.empty()) return true;
    return fail(outcome, Problem::kVerify, L"Verification failed: " + base::toWide(obsolete.error),
                base::Failure(base::FailureKind::kDisk, obsolete.error, obsolete.systemError));
}

// Everything between the start and the outcome of a run, step by step; the first step
// that fails gives the outcome its error.
Outcome installOrRepair(const Job& job, ProgressSink& sink) {
    const bool repair = job.kind == JobKind::kRepair;
    Outcome outcome;
    FolderLock folderLock;
    pcupd::Manifest manifest;
    // Shared by the archive and the repair after it: the run stays on the host that works.
    std::shared_ptr<pcupd::DownloadHosts> hosts;
    if (!takeFolder(job.installDir, folderLock, outcome) ||
        (!repair && !installClient(job, manifest, hosts, sink, outcome)) ||
        !verifyAndRepair(job, manifest, hosts, sink, outcome) || !removeDropped(job.installDir, manifest, outcome))
        return outcome;
    // Only now does the folder hold the whole release; a failure to note it costs the next
    // update a deep verification, nothing more.
    pcupd::saveCompletedRelease(job.installDir, manifest.sha256);
    settleIn(job, manifest);
    sink.phase(repair ? Phase::kRepaired : Phase::kInstalled, job.installDir);
    return outcome;
}

}  // namespace

void runInstallWorker(const Job& job, ProgressSink& sink) {
    finishOnce(L"Install failed: ", sink, [&] { return installOrRepair(job, sink); });
}

}  // namespace installer
