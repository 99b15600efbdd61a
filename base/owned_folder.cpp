#include "base/owned_folder.h"

#include <windows.h>

#include <algorithm>
#include <unordered_set>

#include "base/ascii.h"
#include "base/long_path.h"
#include "base/path_identity.h"
#include "base/safe_path.h"
#include "base/unique_handle.h"

namespace base {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool markForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool setAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic{};  // zero times: leave them as they are
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

}  // namespace

OwnedFolder::OwnedFolder(const std::wstring& folder) : identity_(comparablePath(folder)) {}

bool OwnedFolder::holds(const std::wstring& path) const {
    return holdsComparable(identity_, comparablePath(path));
}

DeleteOutcome OwnedFolder::deleteFile(const std::wstring& path) const {
    // Files are what this is asked for, thousands at a time: the common case costs an open,
    // a look at where the file really is, and the delete. A folder fails the first open.
    const std::wstring name = extendedLengthPath(path);
    const DWORD access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    UniqueFile file(CreateFileW(name.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DeleteOutcome outcome;
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
            return outcome;
        if (error == ERROR_ACCESS_DENIED)
            file.reset(CreateFileW(name.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file) {
            outcome.result = Deletion::kFailed;
            outcome.error = error;
            return outcome;
        }
        // A folder is never a file of ours; a link to one is, when it was asked for by name.
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(file.get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return outcome;
    }
    if (!holdsComparable(identity_, finalPathOfHandle(file.get()))) {
        outcome.result = Deletion::kNotOurs;
        return outcome;
    }
    if (markForDeletion(file.get())) {
        outcome.result = Deletion::kDeleted;
        return outcome;
    }
    DWORD error = GetLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD attributes = GetFileInformationByHandle(file.get(), &info) ? info.dwFileAttributes : 0;
    if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY)) {
        if (setAttributes(file.get(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
            if (markForDeletion(file.get())) {
                outcome.result = Deletion::kDeleted;
                return outcome;
            }
            error = GetLastError();
            setAttributes(file.get(), attributes);
        }
    }
    outcome.result = Deletion::kFailed;
    outcome.error = error ? error : ERROR_ACCESS_DENIED;
    return outcome;
}

bool OwnedFolder::removeEmptyFolder(const std::wstring& path) const {
    UniqueFile folder(CreateFileW(extendedLengthPath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                  nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder.get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const std::wstring where = finalPathOfHandle(folder.get());
    if (!sameComparable(identity_, where) && !holdsComparable(identity_, where)) return false;
    // The system refuses a folder that still holds anything.
    return markForDeletion(folder.get());
}

void OwnedFolder::removeFoldersOf(const std::vector<std::string>& paths) const {
    std::unordered_set<std::string> seen;
    std::vector<std::string> folders;
    for (const std::string& path : paths) {
        if (!isSafeRelativePath(path)) continue;
        for (size_t slash = path.find_last_of("/\\"); slash != std::string::npos && slash > 0;
             slash = path.find_last_of("/\\", slash - 1)) {
            std::string folder = path.substr(0, slash);
            std::replace(folder.begin(), folder.end(), '\\', '/');
            if (!seen.insert(toLowerAscii(folder)).second) break;  // and so were the ones above it
            folders.push_back(std::move(folder));
        }
    }
    // More components first: every folder goes before the one holding it.
    const auto depth = [](const std::string& folder) { return std::count(folder.begin(), folder.end(), '/'); };
    std::stable_sort(folders.begin(), folders.end(),
                     [&](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
    for (const std::string& folder : folders) removeEmptyFolder(joinUnder(identity_, folder));
}

}  // namespace base
