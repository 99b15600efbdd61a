#include "update/file_scan.h"

#include <unordered_set>

#include "base/long_path.h"
#include "base/safe_path.h"
#include "update/sha256.h"

namespace pcupd {

void scanFiles(const Manifest& manifest, const std::wstring& installDir, bool useCache,
               VerifyCache& cache, ChangedFiles& changed) {
    const std::wstring root = base::fullPath(installDir);
    std::unordered_set<std::string> listed;
    for (const ManifestFile& file : manifest.files) {
        listed.insert(VerifyCache::key(file.path));
        if (!base::isSafeRelativePath(file.path)) {
            changed.push_back(&file);
            continue;
        }
        const std::wstring path = base::joinUnder(root, file.path);
        FileStamp stamp;
        if (!fileStamp(path, stamp) ||
            (file.size != 0 && stamp.size != static_cast<uint64_t>(file.size))) {
            cache.forget(file.path);
            changed.push_back(&file);
            continue;
        }
        if (useCache) {
            // A trusted digest decides either way: no need to read a file known to differ.
            const std::string cached = cache.trustedDigest(file.path, stamp);
            if (!cached.empty()) {
                if (cached != file.sha256) changed.push_back(&file);
                continue;
            }
        }
        // The stamp was read before the content: a file that changes while it is hashed
        // gets a new time and is hashed again next time.
        const std::string digest = hashFile(path);
        if (digest.empty())
            cache.forget(file.path);
        else
            cache.record(file.path, stamp, digest);
        if (digest != file.sha256) changed.push_back(&file);
    }
    cache.retain([&listed](const std::string& key) { return listed.count(key) > 0; });
}

}  // namespace pcupd
