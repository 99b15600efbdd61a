#include "update/update.h"

#include "update/file_scan.h"
#include "update/leftovers.h"
#include "update/manifest_signature.h"
#include "update/repair.h"
#include "update/verify_cache.h"

namespace pcupd {
namespace {

// Checking, and repair when needed, of a manifest already read: everything after the fetch.
UpdateResult checkAndRepair(const Manifest& manifest, const std::wstring& installDir,
                            const std::wstring& selfPath, bool useCache, Progress& progress,
                            const ProgressCallback& callback) {
    UpdateResult result;
    const auto report = [&] {
        if (callback) callback(progress);
    };
    progress.stage = UpdateStage::kChecking;
    report();
    removeLeftovers(manifest, installDir, selfPath);
    VerifyCache cache;
    cache.load(installDir);
    ChangedFiles changed;
    scanFiles(manifest, installDir, useCache, cache, changed);
    cache.save(installDir, false);  // only saves work; a failure to save is no failure

    if (!changed.empty()) {
        repairFiles(result, changed, installDir, selfPath, callback, cache);
        // The next verification should read none of the files just written.
        cache.save(installDir, true);
        return result;
    }

    result.ok = true;
    result.upToDate = true;
    progress.stage = UpdateStage::kUpToDate;
    report();
    return result;
}

}  // namespace

UpdateResult runUpdate(const std::string& manifestUrl, const std::wstring& installDir,
                       const std::wstring& selfPath, bool useCache, Manifest& manifest,
                       ProgressCallback callback) {
    Progress progress;
    progress.stage = UpdateStage::kConnecting;
    if (callback) callback(progress);
    std::string error;
    UpdateResult result;
    if (!fetchManifest(manifestUrl, manifest, error) || !acceptManifest(manifest, installDir, error))
        result.error = error;
    else
        result = checkAndRepair(manifest, installDir, selfPath, useCache, progress, callback);
    callback = nullptr;  // the caller's callback is not kept past the run
    return result;
}

UpdateResult runUpdate(const Manifest& manifest, const std::wstring& installDir,
                       const std::wstring& selfPath, bool useCache, ProgressCallback callback) {
    Progress progress;
    UpdateResult result = checkAndRepair(manifest, installDir, selfPath, useCache, progress, callback);
    callback = nullptr;
    return result;
}

}  // namespace pcupd
