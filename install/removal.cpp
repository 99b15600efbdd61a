#include "install/removal.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "base/long_path.h"
#include "base/owned_folder.h"
#include "base/path_identity.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "base/unique_handle.h"
#include "install/client_process.h"
#include "install/folder_lock.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "update/kept_manifest.h"
#include "update/manifest_signature.h"
#include "update/verify_cache.h"

namespace installer {

namespace {

constexpr ULONGLONG kProgressIntervalMs = 50;

std::wstring shownPath(const std::string& path) {
    std::wstring shown = base::toWide(path);
    std::replace(shown.begin(), shown.end(), L'/', L'\\');
    return shown;
}

// A drive's root or a network share's: "C:\", "\\server\share", or whatever the system
// calls the root of a volume (a drive mounted into a folder).
bool isVolumeRoot(const std::wstring& identity) {
    if (identity.size() <= 3 && identity.size() >= 2 && identity[1] == L':') return true;
    if (identity.rfind(L"\\\\", 0) == 0 && identity.find(L'\\', identity.find(L'\\', 2) + 1) == std::wstring::npos)
        return true;
    std::wstring volume(identity.size() + 2, L'\0');
    if (!GetVolumePathNameW((identity + L"\\").c_str(), volume.data(), static_cast<DWORD>(volume.size())))
        return false;
    return base::sameComparable(base::comparablePath(volume.c_str()), identity);
}

// The folders no install or removal may be, or hold, in comparable form.
std::vector<std::wstring> protectedFolders() {
    static const KNOWNFOLDERID* const kKnown[] = {
        &FOLDERID_Profile,       &FOLDERID_Desktop,          &FOLDERID_Documents,
        &FOLDERID_Downloads,     &FOLDERID_Pictures,         &FOLDERID_Music,
        &FOLDERID_Videos,        &FOLDERID_SavedGames,       &FOLDERID_RoamingAppData,
        &FOLDERID_LocalAppData,  &FOLDERID_LocalAppDataLow,  &FOLDERID_ProgramData,
        &FOLDERID_ProgramFiles,  &FOLDERID_ProgramFilesX86,  &FOLDERID_ProgramFilesX64,
        &FOLDERID_Windows,       &FOLDERID_System,           &FOLDERID_Programs,
        &FOLDERID_StartMenu,     &FOLDERID_Public,
    };
    std::vector<std::wstring> folders;
    for (const KNOWNFOLDERID* id : kKnown) {
        PWSTR path = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(*id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path && *path)
            folders.push_back(base::comparablePath(path));
        CoTaskMemFree(path);
    }
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length > 0 && length <= MAX_PATH) folders.push_back(base::comparablePath(temp));
    return folders;
}

// Files (and links, which are never entered) under `root` after the deletions, but the
// setup's copy at its top when it is left for later.
int64_t countKept(const std::wstring& root, bool skipSetupCopy) {
    int64_t kept = 0;
    std::vector<std::wstring> pending{root};
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
            const DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                pending.push_back(folder + L"\\" + name);
            else if (!(skipSetupCopy && folder == root && base::sameComparable(name, kSetupCopyName)))
                ++kept;
        } while (FindNextFileW(find.get(), &found));
    }
    return kept;
}

// The removal proper, under the folder lock; see removeInstallation.
std::wstring removeRecorded(const base::OwnedFolder& folder, const std::vector<std::string>& paths,
                            bool leaveSetupCopy, RemovalResult& result, const RemovalProgress& onProgress) {
    const std::wstring& root = folder.identity();
    stopRunningClient(root);

    const std::string setupKey = pcupd::VerifyCache::key(base::toUtf8(kSetupCopyName));
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
        if (!leaveSetupCopy || pcupd::VerifyCache::key(path) != setupKey) {
            const base::DeleteOutcome outcome = folder.deleteFile(full);
            if (outcome.result == base::Deletion::kDeleted) {
                ++result.removed;
            } else if (outcome.result == base::Deletion::kFailed && failed++ == 0) {
                firstFailure = shownPath(path) + L" (" + whyNotDeleted(outcome.error) + L")";
                result.firstError = outcome.error;
            }
        }
        folder.deleteFile(full + L".part");
        // The setup's own earlier file, moved aside when a release replaced it (update/repair.h).
        if (pcupd::VerifyCache::key(path) == setupKey) folder.deleteFile(full + L".old");
    }
    if (onProgress) onProgress(total, total, std::wstring());

    const auto own = [&root](const wchar_t* name) { return base::extendedLengthPath(root + L"\\" + name); };
    for (const wchar_t* name : {L"pcupd.cache.tmp", L"pcupd.sequence.tmp", L"pcupd.release.tmp",
                                L"pcupd.files.tmp", L"pcupd.manifest.tmp"})
        folder.deleteFile(own(name));
    removeShortcutInto(desktopFolder(), root);
    removeShortcutInto(programsFolder(), root);
    if (failed == 0) {
        // The record goes last: until then a removal that stops half-way can be run again.
        folder.deleteFile(own(pcupd::kCacheFileName));
        folder.deleteFile(own(pcupd::kSequenceFileName));
        folder.deleteFile(own(pcupd::kCompletedReleaseFileName));
        folder.deleteFile(own(pcupd::kKeptManifestFileName));
        folder.deleteFile(own(kRecordFileName));
        unregisterInstallation(root);
    }
    folder.removeFoldersOf(paths);
    folder.removeEmptyFolder(root);
    result.kept = countKept(root, leaveSetupCopy);
    if (failed == 0) return std::wstring();
    result.problem = Problem::kRemovalIncomplete;
    result.notDeleted = failed;
    return L"Removal incomplete: " + std::to_wstring(failed) +
           (failed == 1 ? L" file could not be deleted: " : L" files could not be deleted, first ") +
           firstFailure;
}

bool listsSetupCopy(const std::vector<std::string>& paths) {
    const std::string setupKey = pcupd::VerifyCache::key(base::toUtf8(kSetupCopyName));
    return std::any_of(paths.begin(), paths.end(),
                       [&](const std::string& path) { return pcupd::VerifyCache::key(path) == setupKey; });
}

}  // namespace

bool isProtectedFolder(const std::wstring& folder) {
    const std::wstring identity = base::comparablePath(folder);
    if (identity.empty() || isVolumeRoot(identity)) return true;
    for (const std::wstring& known : protectedFolders())
        if (base::sameComparable(known, identity) || base::holdsComparable(identity, known)) return true;
    return false;
}

std::wstring removalRefusal(const std::wstring& installDir) {
    if (isProtectedFolder(installDir))
        return L"Nothing was removed: " + base::fullPath(installDir) +
               L" is a system or personal folder, which this setup never removes.";
    std::vector<std::string> paths;
    return readInstallRecord(installDir, paths) ? std::wstring() : kNothingToRemove;
}

bool canRemove(const std::wstring& installDir) { return removalRefusal(installDir).empty(); }

std::wstring whyNotDeleted(uint32_t error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return L"in use by another program";
    if (error == ERROR_ACCESS_DENIED) return L"access denied";
    return L"error " + std::to_wstring(error);
}

std::wstring removeInstallation(const std::wstring& installDir, const std::wstring& leaveForLater,
                                RemovalResult& result, const RemovalProgress& onProgress) {
    result = RemovalResult();
    const std::wstring refusal = removalRefusal(installDir);
    if (!refusal.empty()) {
        result.problem = isProtectedFolder(installDir) ? Problem::kProtectedFolder : Problem::kNothingToRemove;
        return refusal;
    }
    FolderLock folderLock;
    if (!folderLock.acquire(installDir)) {
        result.problem = Problem::kFolderBusy;
        return L"Removal failed: a setup is working in this folder";
    }
    // Another setup may have added to the record before it let the folder go.
    std::vector<std::string> paths;
    if (!readInstallRecord(installDir, paths)) {
        result.problem = Problem::kNothingToRemove;
        return kNothingToRemove;
    }
    const base::OwnedFolder folder(installDir);
    result.setupCopyLeft = !leaveForLater.empty() && listsSetupCopy(paths) &&
                           base::samePath(leaveForLater, folder.identity() + L"\\" + kSetupCopyName);
    return removeRecorded(folder, paths, result.setupCopyLeft, result, onProgress);
}

bool removeSetupCopy(const std::wstring& installDir, const std::wstring& file) {
    const base::OwnedFolder folder(installDir);
    // Only the setup's own copy, and never in a folder no removal may touch.
    if (!base::samePath(file, folder.identity() + L"\\" + kSetupCopyName) || isProtectedFolder(installDir))
        return false;
    const base::DeleteOutcome outcome = folder.deleteFile(file);
    if (outcome.result != base::Deletion::kDeleted && outcome.result != base::Deletion::kAbsent) return false;
    folder.removeEmptyFolder(folder.identity());
    return true;
}

}  // namespace installer
