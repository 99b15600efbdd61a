#include "update/leftovers.h"

#include <windows.h>

#include <unordered_set>

#include "base/long_path.h"
#include "base/safe_path.h"
#include "update/verify_cache.h"

namespace pcupd {

int removeLeftovers(const Manifest& manifest, const std::wstring& installDir,
                    const std::wstring& selfPath) {
    const std::wstring root = base::fullPath(installDir);
    std::unordered_set<std::string> listed;
    for (const ManifestFile& file : manifest.files) listed.insert(VerifyCache::key(file.path));
    const std::wstring self = selfPath.empty() ? std::wstring() : base::fullPath(selfPath);
    // Joined under the normalised root, a safe path is already a full path.
    const auto isSelf = [&](const std::string& path) {
        if (self.empty()) return false;
        const std::wstring full = base::joinUnder(root, path);
        return CompareStringOrdinal(full.c_str(), static_cast<int>(full.size()),
                                                     self.c_str(), static_cast<int>(self.size()),
                                                     TRUE) == CSTR_EQUAL;
    };

    int removed = 0;
    const auto remove = [&](const std::string& path) {
        if (listed.count(VerifyCache::key(path)) || !base::isSafeRelativePath(path)) return;
        const std::wstring full = base::joinUnder(root, path);
        const DWORD attributes = GetFileAttributesW(full.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
        if (DeleteFileW(full.c_str())) ++removed;
    };
    for (const ManifestFile& file : manifest.files) {
        if (!base::isSafeRelativePath(file.path)) continue;
        remove(file.path + ".part");
        if (isSelf(file.path)) {
            remove(file.path + ".new");
            remove(file.path + ".old");
        }
    }
    remove("pcupd.cache.tmp");
    remove("pcupd.sequence.tmp");
    return removed;
}

}  // namespace pcupd
