#include "update/folder_listing.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/long_path.h"
#include "base/unique_handle.h"

namespace pcupd {
namespace {

// The order in which the file system tells names apart: ordinal, after its own uppercasing.
int compareNames(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE);
}

uint64_t fromFileTime(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

bool FolderListing::list(const std::wstring& folder) {
    entries_.clear();
    const std::wstring pattern =
        base::extendedLengthPath(folder + (folder.empty() || folder.back() != L'\\' ? L"\\*" : L"*"));
    WIN32_FIND_DATAW found;
    // Basic info skips the short names; a large fetch takes the folder in few requests.
    const base::UniqueFind search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                   FindExSearchNameMatch, nullptr,
                                                   FIND_FIRST_EX_LARGE_FETCH));
    if (!search) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        FileStamp stamp;
        stamp.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        stamp.lastWrite = fromFileTime(found.ftLastWriteTime);
        entries_.push_back({name, stamp, found.dwFileAttributes});
    } while (FindNextFileW(search.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {  // cut short: nothing in it can be relied on
        entries_.clear();
        return false;
    }
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return compareNames(a.name, b.name) == CSTR_LESS_THAN; });
    return true;
}

FolderListing::Found FolderListing::find(const std::wstring& name, FileStamp& stamp) const {
    const auto first = std::lower_bound(
        entries_.begin(), entries_.end(), name,
        [](const Entry& entry, const std::wstring& key) { return compareNames(entry.name, key) == CSTR_LESS_THAN; });
    if (first == entries_.end() || compareNames(first->name, name) != CSTR_EQUAL) return Found::kUnsure;
    const auto next = first + 1;
    if (next != entries_.end() && compareNames(next->name, name) == CSTR_EQUAL) return Found::kUnsure;
    if (first->attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Found::kUnsure;
    if (first->attributes & FILE_ATTRIBUTE_DIRECTORY) return Found::kNotFile;
    stamp = first->stamp;
    return Found::kFile;
}

std::vector<std::wstring> FolderListing::partFiles() const {
    std::vector<std::wstring> names;
    for (const Entry& entry : entries_) {
        const std::wstring& name = entry.name;
        if (name.size() > 5 && !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            base::toLowerAscii(name.substr(name.size() - 5)) == L".part")
            names.push_back(name);
    }
    return names;
}

}  // namespace pcupd
