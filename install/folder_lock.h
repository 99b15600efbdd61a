#pragma once
// One setup per install folder: two working in one folder would overwrite each other's
// files and cache. The lock is a named mutex, per user session, derived from the folder's
// identity (base/path_identity.h), lower-cased, so it holds across processes and whatever
// spelling the folder was given in.

#include <string>

#include "base/unique_handle.h"

namespace installer {

class FolderLock {
public:
    // False when another holder (in this process or another) has the folder, or the lock
    // cannot be made.
    bool acquire(const std::wstring& installDir);
    void release() { mutex_.reset(); }

    // The name of the lock for `installDir`: the same for every spelling of one folder.
    static std::wstring name(const std::wstring& installDir);

private:
    base::UniqueHandle mutex_;
};

}  // namespace installer
