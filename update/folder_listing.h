#pragma once
// One folder's entries from a single directory search, looked up again by name the way the
// file system matches names (ignoring case). Asking for each file's stamp by its path costs
// the system a path lookup apiece (under Wine a case-insensitive walk of every folder on the
// way); one search per folder answers all of its files at once. The sizes and times are the
// folder's copies: on NTFS the entry of a file still open for writing, or of a hard link
// written through another name, can trail the file until it is closed or opened by this name.

#include <windows.h>

#include <string>
#include <vector>

#include "update/verify_cache.h"

namespace pcupd {

class FolderListing {
public:
    // Lists `folder` (absolute, normalised, long paths too). False when it cannot be listed
    // (missing, not a folder, refused); the listing is then empty.
    bool list(const std::wstring& folder);

    enum class Found {
        kFile,     // a plain file: `stamp` holds its size and last-write time
        kNotFile,  // a folder has the name: no file, as fileStamp says of it
        kUnsure,   // the listing cannot tell: ask fileStamp for the path itself
    };
    // What the listing knows of `name`. A name absent from it, held by more than one entry
    // that differ only in case, or held by a link is left to the system's own lookup, so that
    // the answer always means what fileStamp's would.
    Found find(const std::wstring& name, FileStamp& stamp) const;

    // The names of files (not folders) whose name ends in ".part", in any case.
    std::vector<std::wstring> partFiles() const;

private:
    struct Entry {
        std::wstring name;
        FileStamp stamp;
        DWORD attributes;
    };
    std::vector<Entry> entries_;  // in the file system's case-insensitive order
};

}  // namespace pcupd
