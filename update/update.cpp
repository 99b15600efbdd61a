#include "update/update.h"

#include "update/download_hosts.h"
#include "update/file_scan.h"
#include "update/leftovers.h"
#include "update/repair.h"
#include "update/verify_cache.h"

namespace pcupd {
namespace {

// Checking, and repair when needed, of a manifest already read: everything after the fetch.
UpdateResult checkAndRepair(const Manifest& manifest, const std::wstring& installDir,
                            const UpdateOptions& given, Progress& progress,
                            const ProgressCallback& callback) {
    // The files may come from the manifest's mirrors too, unless the caller has already set
    // up where from (the install worker does, to log the hosts).
    UpdateOptions options = given;
    if (!options.transfer.hosts) options.transfer.hosts = DownloadHosts::of(manifest);
    UpdateResult result;
    const auto report = [&] {
        if (callback) callback(progress);
    };
    progress.stage = UpdateStage::kChecking;
    report();
    VerifyCache cache;
    cache.load(installDir);
    ChangedFiles changed;
    std::vector<std::string> partFiles;
    const uint64_t hashed = scanFiles(manifest, installDir, options.useCache, options.hashThreads,
                                      cache, changed, &partFiles);
    // The scan's one search of each folder also found what earlier runs left unfinished.
    removeLeftovers(manifest, installDir, options.selfPath, partFiles);
    // Only saves work; a failure to save is no failure. A cache that every file matched, as on
    // most starts, is left as it is: every entry it holds is trusted already.
    if (cache.unsaved()) cache.save(installDir, false);

    if (!changed.empty()) {
        repairFiles(result, changed, installDir, options, callback, cache);
        result.bytesHashed = hashed;
        // The next verification should read none of the files just written.
        cache.save(installDir, true);
        return result;
    }

    result.ok = true;
    result.upToDate = true;
    result.bytesHashed = hashed;
    progress.stage = UpdateStage::kUpToDate;
    report();
    return result;
}

}  // namespace

UpdateResult runUpdate(const std::string& manifestUrl, const std::wstring& installDir,
                       const UpdateOptions& options, Manifest& manifest, ProgressCallback callback) {
    Progress progress;
    progress.stage = UpdateStage::kConnecting;
    if (callback) callback(progress);
    UpdateResult result;
    if (readManifest(manifestUrl, options.manifestKeys, installDir, manifest, nullptr, result.error,
                     options.transfer))
        result = checkAndRepair(manifest, installDir, options, progress, callback);
    callback = nullptr;  // the caller's callback is not kept past the run
    return result;
}

UpdateResult runUpdate(const Manifest& manifest, const std::wstring& installDir,
                       const UpdateOptions& options, ProgressCallback callback) {
    Progress progress;
    UpdateResult result = checkAndRepair(manifest, installDir, options, progress, callback);
    callback = nullptr;
    return result;
}

}  // namespace pcupd
