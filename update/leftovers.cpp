#include "update/leftovers.h"

#include <windows.h>

#include <unordered_set>
#include <vector>

#include "base/long_path.h"
#include "base/owned_folder.h"
#include "base/path_identity.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "update/verify_cache.h"

namespace pcupd {

int removeLeftovers(const Manifest& manifest, const std::wstring& installDir,
                    const std::wstring& selfPath, const std::vector<std::string>& partFiles) {
    const base::OwnedFolder folder(installDir);
    const std::wstring& root = folder.identity();
    std::unordered_set<std::string> listed;
    for (const ManifestFile& file : manifest.files) listed.insert(VerifyCache::key(file.path));
    // Which manifest path the running program is, if any: its place relative to the folder,
    // worked out once rather than asked of the system for every file.
    std::string self;
    if (!selfPath.empty()) {
        const std::wstring selfIdentity = base::comparablePath(selfPath);
        if (base::holdsComparable(root, selfIdentity)) {
            const size_t start = root.size() + (root.back() == L'\\' ? 0 : 1);
            self = VerifyCache::key(base::toUtf8(selfIdentity.substr(start)));
            if (!listed.count(self)) self.clear();
        }
    }

    int removed = 0;
    const auto remove = [&](const std::string& path) {
        if (listed.count(VerifyCache::key(path)) || !base::isSafeRelativePath(path)) return;
        if (folder.deleteFile(base::joinUnder(root, path)).result == base::Deletion::kDeleted) ++removed;
    };
    // "<file>.part" of each listed file.
    for (const std::string& part : partFiles) {
        if (part.size() <= 5) continue;
        const std::string file = part.substr(0, part.size() - 5);
        if (listed.count(VerifyCache::key(file)) && base::isSafeRelativePath(file)) remove(part);
    }
    if (!self.empty()) remove(self + ".old");
    remove("pcupd.cache.tmp");
    remove("pcupd.sequence.tmp");
    remove("pcupd.release.tmp");
    remove("pcupd.manifest.tmp");
    return removed;
}

}  // namespace pcupd
