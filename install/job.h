#pragma once
// What a worker is asked to do, and what it tells whoever shows the work while it runs. The
// worker knows nothing of windows or logs: it reports to a ProgressSink, and the words the
// player reads are made from its phases by the program's face (ui/phase_text.h).

#include <cstdint>
#include <memory>
#include <string>

#include "base/failure.h"
#include "update/manifest_prefetch.h"
#include "update/update.h"

namespace installer {

enum class JobKind { kInstall, kRepair, kRemoval };

// One run's input, taken whole when the worker starts.
struct Job {
    JobKind kind = JobKind::kInstall;
    std::wstring installDir;  // the install folder itself (the client's, not its location)
    std::string manifestUrl;  // Install and Repair: where the release is described
    // The running setup program: after a good Install or Repair it is copied into the folder
    // and registered in Apps & features. Empty: neither happens (tests).
    std::wstring setupProgram;
    // A removal: the running setup's file, which cannot delete itself; when it is the
    // recorded setup copy it is left for later (removeSetupCopy). May be empty.
    std::wstring leaveForLater;
    // How the update engine works for this run (threads, connections, the manifest keys in
    // force): the program's defaults unless a test or benchmark passes others. The worker
    // sets the cache use and the running program itself.
    pcupd::UpdateOptions engine;
    // Install and Repair: the manifest as the window fetched it while it showed its splash,
    // taken instead of a fetch of the run's own when it is still fresh (may be null).
    std::shared_ptr<pcupd::ManifestPrefetch> prefetch;
};

// The steps a worker goes through, in the order they can come.
enum class Phase {
    kContactingServer,  // Install: the manifest is being fetched
    kDownloading,       // Install: the archive is being opened
    kInstalling,        // Install: the archive's entries are being written (item: the entry)
    kVerifying,         // every file checked against the manifest (item: the file)
    kRepairing,         // files that differ are downloaded (item: the file)
    kInstalled,         // the closing phases of a good run (item: the install folder); the
    kRepaired,          // bar then shows full, with no activity
    kRemoving,          // Removal: files going (item: the file)
    kRemoved,
};

// What went wrong, in the terms the player is told about: the window words it in the
// player's language from this and the outcome's details, while `Outcome::error` keeps the
// English account for the log and for support.
enum class Problem {
    kNone,
    kNoLocation,
    kProtectedFolder,  // `Outcome::folder` is a system or personal folder
    kFolderBusy,       // another setup holds the folder
    kNoSpace,          // `bytesNeeded`, `bytesFree`
    kManifest,         // the manifest could not be had or was refused (`cause`)
    kDownload,         // the client could not be downloaded and written (`cause`)
    kVerify,           // the files could not be checked and repaired (`cause`)
    kStart,            // no thread for the work
    kRemovalIncomplete,  // `notDeleted` files stayed (`cause`: the first one's system error)
    kNothingToRemove,    // no record of an installation in the folder
    kUnexpected,         // out of memory or an exception: `cause` says which
};

// How a run ended; reported once, last.
struct Outcome {
    bool succeeded = false;       // false also when not even the error's text could be made
    std::wstring error;           // the English account, for the log; empty on success
    Problem problem = Problem::kNone;
    base::Failure cause;          // the failure behind the problem, where one is known
    std::wstring folder;          // kProtectedFolder
    uint64_t bytesNeeded = 0, bytesFree = 0;  // kNoSpace
    int64_t notDeleted = 0;       // kRemovalIncomplete
    int64_t obsoleteRemoved = 0;  // Install or Repair: files an earlier release had, deleted
    int64_t keptFiles = 0;        // Removal: files left that this program did not install
    bool setupCopyLeft = false;   // Removal: Job::leaveForLater was the setup copy, still there
};

// Where a worker reports. Called on the worker's thread, and for bytes() also on the archive
// writer's thread, so an implementation guards what it keeps. None of its calls may block
// for long: they sit between network reads.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;

    // A new phase or item (empty: none): a status line worth showing, however briefly it
    // stands.
    virtual void phase(Phase phase, const std::wstring& item) = 0;
    // Work with nothing to count yet (a fetch, stopping the client): activity, not a bar,
    // until bytes() or items() counts again.
    virtual void busy() = 0;
    // Byte-counted progress: `done` of `total` bytes. A total of 0 or less is unknown: the
    // bar stays where it is. A total that undercounts never shows more than full.
    virtual void bytes(uint64_t done, int64_t total) = 0;
    // The client's bytes now come from `origin` (a download host: "https://cdn.example.com"),
    // which the run moved to because `left` ("ORIGIN: why") failed it; `left` is empty for
    // the first host. A line for the log; the window does not show it.
    virtual void host(const std::wstring& origin, const std::wstring& left) = 0;
    // Progress counted in files (a removal's): `done` of `total`, none at all being complete;
    // `item` is the file at hand (empty: the same as before). A line worth showing, too.
    virtual void items(int64_t done, int64_t total, const std::wstring& item) = 0;
    // The run's end, exactly once and after every other report. Must not throw.
    virtual void finished(const Outcome& outcome) noexcept = 0;
};

}  // namespace installer
