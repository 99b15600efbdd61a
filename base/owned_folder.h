#pragma once
// The one way this program deletes anything in the install folder. A path is only a name:
// a folder on the way may be a link to somewhere else (players move game folders to another
// drive that way), so a file is deleted only when the system, asked through the very handle
// that deletes it, says it lies inside the install folder.

#include <cstdint>
#include <string>
#include <vector>

namespace base {

enum class Deletion {
    kDeleted,  // it is gone
    kAbsent,   // nothing was there, or a folder is (no file of ours)
    kNotOurs,  // it really lies outside the folder (reached through a link): left alone
    kFailed,   // the system refused: `error` says why (in use, access denied)
};

struct DeleteOutcome {
    Deletion result = Deletion::kAbsent;
    uint32_t error = 0;  // the system's error code, for kFailed
};

// A folder this program may delete in: the install folder. Which folder it really is is
// settled once, when it is made.
class OwnedFolder {
public:
    explicit OwnedFolder(const std::wstring& folder);

    // The folder in comparable form (base/path_identity.h).
    const std::wstring& identity() const { return identity_; }
    // Whether `path`, in any spelling, lies strictly inside the folder.
    bool holds(const std::wstring& path) const;

    // Deletes the file at `path` (any spelling, long paths too) when its own final path lies
    // inside the folder. A final link is never followed: a link goes as a link, where the
    // system lets it be opened as one; where it does not, the link's target decides, and a
    // target elsewhere is kNotOurs. A read-only flag does not stop the delete (and stays
    // when the delete fails).
    DeleteOutcome deleteFile(const std::wstring& path) const;

    // Removes the folder at `path` when it is empty, a real folder (not a link), and this
    // folder or inside it. True when it is gone.
    bool removeEmptyFolder(const std::wstring& path) const;

    // Removes, deepest first, each folder that one of `paths` (relative, as a manifest
    // writes them) runs through, where it is left empty. Folders no path runs through stay,
    // empty or not: they are the player's.
    void removeFoldersOf(const std::vector<std::string>& paths) const;

private:
    std::wstring identity_;
};

}  // namespace base
