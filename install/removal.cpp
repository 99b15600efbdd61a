#include "install/removal.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <unordered_set>

#include "base/long_path.h"
#include "base/safe_path.h"
#include "base/small_file.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "install/client_process.h"
#include "install/folder_lock.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "update/manifest_signature.h"
#include "update/verify_cache.h"

namespace {

constexpr char kRecordHeader[] = "pcupd.files 1";
// Far more than any client's list; a larger file is no record of ours.
constexpr uint64_t kMaxRecordBytes = 256ull << 20;
constexpr ULONGLONG kProgressIntervalMs = 50;

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The full path without trailing separators and without a \\?\ prefix, so that every
// spelling of one folder compares equal: "C:\Games\" and "c:\games" alike. A drive root
// becomes "C:".
std::wstring comparable(const std::wstring& path) {
    std::wstring full = base::fullPath(path);
    if (full.rfind(L"\\\\?\\UNC\\", 0) == 0)
        full = L"\\\\" + full.substr(8);
    else if (full.rfind(L"\\\\?\\", 0) == 0)
        full = full.substr(4);
    while (!full.empty() && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return full;
}

// True when `folder` holds `path` at any depth, by whole components: C:\Users\m does not
// hold C:\Users\me. Both in comparable() form.
bool holds(const std::wstring& folder, const std::wstring& path) {
    return path.size() > folder.size() && path[folder.size()] == L'\\' &&
           equalsIgnoringCase(path.substr(0, folder.size()), folder);
}

std::wstring ownFile(const std::wstring& root, const wchar_t* name) {
    return base::extendedLengthPath(root + L"\\" + name);
}

// The paths of a pcupd.files, or false when the file is missing or not a record.
bool readRecordFile(const std::wstring& root, std::vector<std::string>& paths) {
    std::string data;
    if (!base::readSmallFile(ownFile(root, kRecordFileName), kMaxRecordBytes, data)) return false;
    bool header = true;
    for (size_t start = 0; start < data.size();) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        size_t length = end - start;
        if (length > 0 && data[start + length - 1] == '\r') --length;  // edited by hand
        if (header) {
            if (data.compare(start, length, kRecordHeader) != 0) return false;
            header = false;
        } else if (length > 0) {
            paths.emplace_back(data, start, length);
        }
        start = end + 1;
    }
    return !header;
}

bool isFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Deletes the file at `path`, clearing the read-only flag a player's tool or an archive may
// have set. Returns 0 on success or when there is no such file (a folder of that name
// stays), else the error; on failure the file keeps its attributes. `deleted` says whether a
// file went. The delete comes first: a client holds thousands of files, and a look at each
// before deleting it would cost as much again.
DWORD deleteFile(const std::wstring& path, bool* deleted = nullptr) {
    if (deleted) *deleted = false;
    if (DeleteFileW(path.c_str())) {
        if (deleted) *deleted = true;
        return 0;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (!isFile(attributes)) return 0;
    if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY)) {
        const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW(path.c_str(), writable ? writable : FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(path.c_str())) {
            if (deleted) *deleted = true;
            return 0;
        }
        error = GetLastError();
        SetFileAttributesW(path.c_str(), attributes);
    }
    return error ? error : ERROR_ACCESS_DENIED;
}

std::wstring reason(DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return L"in use by another program";
    if (error == ERROR_ACCESS_DENIED) return L"access denied";
    return L"error " + std::to_wstring(error);
}

std::wstring shownPath(const std::string& path) {
    std::wstring shown = base::toWide(path);
    std::replace(shown.begin(), shown.end(), L'/', L'\\');
    return shown;
}

// After the deletions: removes every folder under `root` left empty, deepest first, then
// `root` itself; returns the regular files still there but `skip` (in joinUnder's form). A junction or link
// inside is neither entered nor removed: what it points to is not this folder's.
int64_t removeEmptyFolders(const std::wstring& root, const std::wstring& skip) {
    int64_t files = 0;
    std::vector<std::wstring> folders{root}, pending{root};
    while (!pending.empty()) {
        const std::wstring folder = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW found;
        base::UniqueFind find(FindFirstFileExW(base::extendedLengthPath(folder + L"\\*").c_str(),
                                               FindExInfoBasic, &found, FindExSearchNameMatch,
                                               nullptr, 0));
        if (!find) continue;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (!equalsIgnoringCase(base::extendedLengthPath(path), skip)) ++files;
            } else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                folders.push_back(path);
                pending.push_back(path);
            }
        } while (FindNextFileW(find.get(), &found));
    }
    // Each folder was listed after the one holding it: backwards, children go first.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        RemoveDirectoryW(base::extendedLengthPath(*folder).c_str());
    return files;
}

// The removal proper, under the folder lock; see removeInstallation.
std::wstring removeRecorded(const std::wstring& root, const std::vector<std::string>& paths,
                            const std::wstring& leave, RemovalResult& result,
                            const RemovalProgress& onProgress) {
    stopRunningClient(root);

    const int64_t total = static_cast<int64_t>(paths.size());
    int64_t failed = 0;
    std::wstring firstFailure;
    ULONGLONG lastReport = 0;
    for (int64_t done = 0; done < total; ++done) {
        const std::string& path = paths[static_cast<size_t>(done)];
        const ULONGLONG now = GetTickCount64();
        if (onProgress && (done == 0 || now - lastReport >= kProgressIntervalMs)) {
            lastReport = now;
            onProgress(done, total, shownPath(path));
        }
        // A record is only a file in the folder: a line naming anything outside it is ignored.
        if (!base::isSafeRelativePath(path)) continue;
        const std::wstring full = base::joinUnder(root, path);
        if (leave.empty() || !equalsIgnoringCase(full, leave)) {
            bool deleted = false;
            if (const DWORD error = deleteFile(full, &deleted)) {
                if (failed++ == 0) firstFailure = shownPath(path) + L" (" + reason(error) + L")";
            } else if (deleted) {
                ++result.removed;
            }
        }
        deleteFile(full + L".part");
    }
    if (onProgress) onProgress(total, total, std::wstring());

    for (const wchar_t* name : {L"pcupd.cache.tmp", L"pcupd.sequence.tmp", L"pcupd.files.tmp"})
        deleteFile(ownFile(root, name));
    removeShortcutInto(desktopFolder(), root);
    removeShortcutInto(programsFolder(), root);
    if (failed == 0) {
        // The record goes last: until then a removal that stops half-way can be run again.
        deleteFile(ownFile(root, pcupd::kCacheFileName));
        deleteFile(ownFile(root, pcupd::kSequenceFileName));
        deleteFile(ownFile(root, kRecordFileName));
        unregisterInstallation(root);
    }
    result.kept = removeEmptyFolders(root, leave);
    if (failed == 0) return std::wstring();
    return L"Removal incomplete: " + std::to_wstring(failed) +
           (failed == 1 ? L" file could not be deleted: " : L" files could not be deleted, first ") +
           firstFailure;
}

}  // namespace

bool addToInstallRecord(const std::wstring& installDir, const std::vector<std::string>& paths,
                        std::string& error) {
    error = "could not write the install record";
    const std::wstring root = comparable(installDir);
    if (root.empty()) return false;
    std::vector<std::string> listed;
    const bool existing = readRecordFile(root, listed);
    std::unordered_set<std::string> keys;
    for (const std::string& path : listed) keys.insert(pcupd::VerifyCache::key(path));
    const size_t before = listed.size();
    for (const std::string& path : paths)
        if (base::isSafeRelativePath(path) && keys.insert(pcupd::VerifyCache::key(path)).second)
            listed.push_back(path);
    if (existing && listed.size() == before) {
        error.clear();
        return true;
    }

    std::string text = std::string(kRecordHeader) + "\n";
    for (const std::string& path : listed) text += path + "\n";
    const std::wstring path = ownFile(root, kRecordFileName);
    base::createParentDirectories(path);
    if (!base::replaceFile(path, text)) return false;
    error.clear();
    return true;
}

bool readInstallRecord(const std::wstring& installDir, std::vector<std::string>& paths) {
    paths.clear();
    const std::wstring root = comparable(installDir);
    if (root.empty()) return false;
    if (readRecordFile(root, paths)) return true;
    paths.clear();
    pcupd::VerifyCache cache;
    cache.load(root);
    if (cache.empty()) return false;
    paths.reserve(cache.size());
    cache.retain([&paths](const std::string& path) {
        paths.push_back(path);
        return true;
    });
    return true;
}

bool isProtectedFolder(const std::wstring& folder) {
    const std::wstring full = comparable(folder);
    if (full.empty() || (full.size() == 2 && full[1] == L':')) return true;
    std::wstring volume(full.size() + 2, L'\0');
    if (GetVolumePathNameW((full + L"\\").c_str(), volume.data(), static_cast<DWORD>(volume.size())) &&
        equalsIgnoringCase(comparable(volume.c_str()), full))
        return true;

    static const KNOWNFOLDERID* const kKnown[] = {
        &FOLDERID_Profile,       &FOLDERID_Desktop,         &FOLDERID_Documents,
        &FOLDERID_Downloads,     &FOLDERID_Windows,         &FOLDERID_System,
        &FOLDERID_ProgramFiles,  &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramData,
        &FOLDERID_LocalAppData,  &FOLDERID_RoamingAppData,  &FOLDERID_Programs,
        &FOLDERID_StartMenu,
    };
    for (const KNOWNFOLDERID* id : kKnown) {
        PWSTR path = nullptr;
        std::wstring known;
        if (SUCCEEDED(SHGetKnownFolderPath(*id, KF_FLAG_DONT_VERIFY, nullptr, &path))) known = path;
        CoTaskMemFree(path);
        if (known.empty()) continue;
        known = comparable(known);
        if (equalsIgnoringCase(known, full) || holds(full, known)) return true;
    }
    return false;
}

bool canRemove(const std::wstring& installDir) {
    std::vector<std::string> paths;
    return !isProtectedFolder(installDir) && readInstallRecord(installDir, paths);
}

std::wstring removeInstallation(const std::wstring& installDir, const std::wstring& leaveForLater,
                                RemovalResult& result, const RemovalProgress& onProgress) {
    result = RemovalResult();
    std::vector<std::string> paths;
    if (isProtectedFolder(installDir) || !readInstallRecord(installDir, paths)) return kNothingToRemove;
    FolderLock folderLock;
    if (!folderLock.acquire(installDir)) return L"Removal failed: a setup is working in this folder";
    // Another setup may have added to the record before it let the folder go.
    if (!readInstallRecord(installDir, paths)) return kNothingToRemove;
    // In the form joinUnder gives a recorded path, which is already full and normalised.
    const std::wstring leave =
        leaveForLater.empty() ? std::wstring() : base::extendedLengthPath(comparable(leaveForLater));
    return removeRecorded(comparable(installDir), paths, leave, result, onProgress);
}

bool removeLeftFile(const std::wstring& installDir, const std::wstring& file) {
    const std::wstring root = comparable(installDir);
    const std::wstring full = comparable(file);
    // Only a file of the installation, and never a folder no removal may touch.
    if (root.empty() || !holds(root, full) || isProtectedFolder(root)) return false;
    if (deleteFile(base::extendedLengthPath(full)) != 0) return false;
    for (std::wstring folder = full.substr(0, full.find_last_of(L'\\'));
         folder.size() >= root.size(); folder.resize(folder.find_last_of(L'\\'))) {
        if (!RemoveDirectoryW(base::extendedLengthPath(folder).c_str()) || folder.size() == root.size())
            break;
    }
    return true;
}
