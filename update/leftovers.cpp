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
    const std::wstring self = selfPath.empty() ? std::wstring() : toLowerAscii(base::fullPath(selfPath));

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
        if (!self.empty() && toLowerAscii(base::fullPath(base::joinUnder(root, file.path))) == self) {
            remove(file.path + ".new");
            remove(file.path + ".old");
        }
    }
    remove("pcupd.cache.tmp");
    return removed;
}

}  // namespace pcupd
