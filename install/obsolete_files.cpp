#include "install/obsolete_files.h"

#include <unordered_set>

#include "base/long_path.h"
#include "base/owned_folder.h"
#include "base/path_identity.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "install/install_record.h"
#include "install/registration.h"
#include "install/removal.h"
#include "update/verify_cache.h"

namespace installer {

ObsoleteFiles removeObsoleteFiles(const std::wstring& installDir, const pcupd::Manifest& manifest) {
    ObsoleteFiles outcome;
    std::vector<std::string> recorded;
    if (!readInstallRecord(installDir, recorded)) return outcome;
    std::unordered_set<std::string> listed;
    for (const pcupd::ManifestFile& file : manifest.files) listed.insert(pcupd::VerifyCache::key(file.path));
    listed.insert(pcupd::VerifyCache::key(base::toUtf8(kSetupCopyName)));

    const base::OwnedFolder folder(installDir);
    std::vector<std::string> gone;
    for (const std::string& path : recorded) {
        if (listed.count(pcupd::VerifyCache::key(path))) continue;
        if (!base::isSafeRelativePath(path)) {
            gone.push_back(path);  // never deleted, and no longer kept either
            continue;
        }
        const std::wstring full = base::joinUnder(folder.identity(), path);
        const base::DeleteOutcome deletion = folder.deleteFile(full);
        if (deletion.result == base::Deletion::kFailed) {
            if (outcome.error.empty()) {
                outcome.systemError = deletion.error;
                outcome.error = "could not delete " + path + ", a file this release no longer has (" +
                                base::toUtf8(whyNotDeleted(deletion.error)) + ")";
            }
            continue;
        }
        // Gone, never there, or really elsewhere (through a link): nothing of ours is left.
        if (deletion.result == base::Deletion::kDeleted) ++outcome.removed;
        folder.deleteFile(full + L".part");
        gone.push_back(path);
    }
    if (gone.empty()) return outcome;
    folder.removeFoldersOf(gone);
    std::string recordError;
    if (!dropFromInstallRecord(installDir, gone, recordError) && outcome.error.empty())
        outcome.error = recordError;
    return outcome;
}

std::wstring obsoleteFilesLine(int64_t removed) {
    if (removed <= 0) return std::wstring();
    if (removed == 1) return L"1 file that this release no longer has was removed.";
    return std::to_wstring(removed) + L" files that this release no longer has were removed.";
}

}  // namespace installer
