#include "update/update.h"

#include "update/file_scan.h"
#include "update/repair.h"
#include "update/verify_cache.h"

namespace pcupd {

UpdateResult runUpdate(const std::string& manifestUrl, const std::wstring& installDir,
                       const std::wstring& selfPath, bool useCache, Manifest& manifest,
                       ProgressCallback callback) {
    UpdateResult result;
    Progress progress;
    const auto report = [&] {
        if (callback) callback(progress);
    };

    progress.phase = 0;
    progress.message = "Connecting...";
    report();
    std::string error;
    if (!fetchManifest(manifestUrl, manifest, error)) {
        result.error = error;
        callback = nullptr;
        return result;
    }

    progress.phase = 1;
    progress.message = "Checking files...";
    report();
    VerifyCache cache;
    cache.load(installDir);
    ChangedFiles changed;
    scanFiles(manifest, installDir, useCache, cache, changed);
    cache.save(installDir, false);  // only saves work; a failure to save is no failure

    if (!changed.empty()) {
        repairFiles(result, changed, installDir, selfPath, callback, cache);
        // The next verification should read none of the files just written.
        cache.save(installDir, true);
        callback = nullptr;
        return result;
    }

    result.ok = true;
    result.upToDate = true;
    progress.phase = 5;
    progress.message = "Up to date";
    report();
    callback = nullptr;
    return result;
}

}  // namespace pcupd
