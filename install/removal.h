#pragma once
// Removing an installation (--uninstall): only what this program can show it put in the
// folder. Files the game or the player made there (screenshots, settings) stay.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The install record, pcupd.files in the install folder: every path a manifest of this
// folder has listed, and the setup's own copy, one per line. An install adds to it before
// it writes any of those files, so even an interrupted install can be removed.
constexpr wchar_t kRecordFileName[] = L"pcupd.files";

constexpr wchar_t kNothingToRemove[] =
    L"Nothing to remove: no installation of Orvane Online was found here.";

// Adds `paths` (relative, `/` or `\` separated, as a manifest writes them) to the folder's
// record, keeping what it lists already (one line per path, whatever its case or separators;
// a path that could leave the folder is never recorded); creates the folder if need be and
// replaces the record atomically. False with `error` "could not write the install record".
bool addToInstallRecord(const std::wstring& installDir, const std::vector<std::string>& paths,
                        std::string& error);

// The files the folder's record lists, as written. A folder installed before the record
// existed answers from its verification cache (pcupd.cache). False when the folder has
// neither: nothing there is known to be this program's.
bool readInstallRecord(const std::wstring& installDir, std::vector<std::string>& paths);

// A folder no removal ever works in, whatever it holds: a drive root, or a folder that is or
// holds the user's profile, desktop, documents, or the system's Windows or program folders.
bool isProtectedFolder(const std::wstring& folder);

// Whether `installDir` holds an installation this program may remove: a record, in a folder
// that is not protected. The window asks its question only then.
bool canRemove(const std::wstring& installDir);

struct RemovalResult {
    int64_t removed = 0;  // files deleted
    // Files still in the folder afterwards, the setup's own copy not counted: after a
    // success, only what the record does not list (the player's).
    int64_t kept = 0;
};

// Progress of a removal: files handled of all the record lists, and the one at hand.
using RemovalProgress = std::function<void(int64_t done, int64_t total, const std::wstring& item)>;

// Removes the installation in `installDir`: stops the client (as an update does), deletes
// the files the record lists and this program's own leftovers (pcupd.* files, *.part
// downloads of recorded files), the desktop and Start-menu shortcuts that point into the
// folder, the Apps & features entry when it names this folder, and every folder left empty,
// `installDir` included. `leaveForLater` (may be empty) is a recorded file still in use by
// the setup that started this removal; it is neither deleted nor counted here (see
// removeLeftFile). Returns the error, empty on success:
//   kNothingToRemove                      protected folder or no record; nothing touched
//   "Removal failed: a setup is working in this folder"
//   "Removal incomplete: 1 file could not be deleted: data\a.pak (in use by another program)"
//   "Removal incomplete: 3 files could not be deleted, first data\a.pak (access denied)"
// where the reason is "in use by another program", "access denied" or "error N". After an
// incomplete removal the entry, the record, pcupd.cache and pcupd.sequence stay so the
// removal can be run again.
std::wstring removeInstallation(const std::wstring& installDir, const std::wstring& leaveForLater,
                                RemovalResult& result, const RemovalProgress& onProgress);

// Deletes `file`, then the folders above it that are left empty, up to and including
// `installDir`. For the setup's own copy, once the program that ran from it has ended. A
// file outside `installDir`, or inside a protected one, is left alone (false). True when the
// file is gone.
bool removeLeftFile(const std::wstring& installDir, const std::wstring& file);

// Runs one removal of installState().installDir on the calling thread, like
// runInstallWorker: status and progress in the install state, the final error (empty on
// success) and keptFiles left there, kMsgFinished posted once, last. `beforeFinished` (may be
// empty) is called with the outcome just before kMsgFinished goes: what must happen before
// the program may end. Never throws.
void runRemovalWorker(const std::wstring& leaveForLater,
                      const std::function<void(bool succeeded)>& beforeFinished = {});
