#pragma once
// Removing an installation (--uninstall): only what this program can show it put in the
// folder. Files and folders the game or the player made there (screenshots, settings) stay.

#include <cstdint>
#include <functional>
#include <string>

#include "install/install_record.h"
#include "install/job.h"

namespace installer {

constexpr wchar_t kNothingToRemove[] =
    L"Nothing to remove: no installation of Orvane Online was found here.";

// A folder nothing is ever installed into or removed from, whatever its spelling (8.3, \\?\,
// \\.\, a link to it): a drive root, or a folder that is or holds the user's profile, one of
// its personal folders (Desktop, Documents, Downloads, Pictures, Music, Videos, Saved Games),
// the AppData roots, the temporary folder, Program Files, ProgramData or Windows.
bool isProtectedFolder(const std::wstring& folder);

// Why `installDir` may not be removed, or empty when it may: a protected folder ("Nothing
// was removed: <folder> is a system or personal folder, which this setup never removes."),
// or one without a record (kNothingToRemove). The player is asked to confirm only when empty.
std::wstring removalRefusal(const std::wstring& installDir);
bool canRemove(const std::wstring& installDir);

struct RemovalResult {
    int64_t removed = 0;  // files deleted
    // Files (and links) still in the folder afterwards, the setup's own copy not counted:
    // after a success, only what the record does not list (the player's).
    int64_t kept = 0;
    // `leaveForLater` was the recorded setup copy in the folder: removeSetupCopy takes it
    // once its program has ended.
    bool setupCopyLeft = false;
    // What a returned error means, for the window's words: a refusal (kProtectedFolder,
    // kNothingToRemove), kFolderBusy, or kRemovalIncomplete with the files that stayed and the
    // first one's system error.
    Problem problem = Problem::kNone;
    int64_t notDeleted = 0;
    uint32_t firstError = 0;
};

// Progress of a removal: files handled of all the record lists, and the one at hand.
using RemovalProgress = std::function<void(int64_t done, int64_t total, const std::wstring& item)>;

// Removes the installation in `installDir`: stops the client (as an update does), deletes
// the files the record lists and this program's own leftovers (pcupd.* files, *.part
// downloads of recorded files, the recorded setup's OrvaneSetup.exe.old), the desktop and
// Start-menu shortcuts that point into the folder, the Apps & features entry when it names
// this folder, then each folder a recorded
// path runs through and `installDir` itself, deepest first, where left empty. Every delete
// goes through base::OwnedFolder: a recorded path that really lies elsewhere (through a
// link) is left alone. `leaveForLater` (may be empty) is the running setup's file; when it
// is the recorded setup copy it is neither deleted nor counted here (see removeSetupCopy).
// Returns the error, empty on success:
//   removalRefusal's texts                 protected folder or no record; nothing touched
//   "Removal failed: a setup is working in this folder"
//   "Removal incomplete: 1 file could not be deleted: data\a.pak (in use by another program)"
//   "Removal incomplete: 3 files could not be deleted, first data\a.pak (access denied)"
// where the reason is whyNotDeleted's. After an incomplete removal the entry, the record,
// pcupd.cache and pcupd.sequence stay so the removal can be run again.
std::wstring removeInstallation(const std::wstring& installDir, const std::wstring& leaveForLater,
                                RemovalResult& result, const RemovalProgress& onProgress);

// "in use by another program", "access denied" or "error N", for a failed delete.
std::wstring whyNotDeleted(uint32_t error);

// Deletes `file` when it is the setup copy in `installDir` (installDir\OrvaneSetup.exe, in
// any spelling), then `installDir` when that leaves it empty. For the copy a removal left
// (RemovalResult::setupCopyLeft), once the program that ran from it has ended. True when
// the file is gone.
bool removeSetupCopy(const std::wstring& installDir, const std::wstring& file);

// Runs the removal `job` on the calling thread, like runInstallWorker: reports to `sink`
// (Phase::kRemoving with the files counted, then Phase::kRemoved after a success) and ends
// with the outcome, its error (empty on success), the files kept and whether the setup copy
// was left for later. `beforeFinished` (may be empty) gets that outcome just before
// sink.finished: what must happen before the program may end. Never throws.
void runRemovalWorker(const Job& job, ProgressSink& sink,
                      const std::function<void(const Outcome&)>& beforeFinished = {});

}  // namespace installer
