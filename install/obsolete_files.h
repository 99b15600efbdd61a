#pragma once
// What a new release dropped. Game engines load what they find in their folders (scripts,
// plugins, DLLs), so a file an earlier release installed and this one no longer lists must
// go, or it may change how the game runs.

#include <cstdint>
#include <string>

#include "update/manifest.h"

namespace installer {

struct ObsoleteFiles {
    int64_t removed = 0;  // files deleted
    // Empty, or the first file that could not be deleted and why, e.g.
    // "could not delete data/old.pak, a file this release no longer has (in use by another program)".
    std::string error;
    uint32_t systemError = 0;  // why that file stayed, when the system said
};

// Deletes every file the folder's install record lists that `manifest` does not (its
// unfinished .part download too), the setup's own copy aside, through base::OwnedFolder,
// and takes each file that is gone off the record; a file still there stays on it for the
// next run. Folders those files ran through go when left empty. Files the record never
// listed are the player's and stay. Call after a good install or repair, with the folder
// lock held.
ObsoleteFiles removeObsoleteFiles(const std::wstring& installDir, const pcupd::Manifest& manifest);

// "1 file that this release no longer has was removed.", "N files that ... were removed.",
// or empty for none: for the log and the done screen.
std::wstring obsoleteFilesLine(int64_t removed);

}  // namespace installer
