#pragma once
// The update run: fetch the manifest, compare the install with it, repair what differs.
// Called on the worker thread; progress goes to the caller's callback on that thread.

#include <memory>
#include <string>
#include <vector>

#include "base/failure.h"
#include "update/http.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/progress.h"

namespace pcupd {

// What a run may vary. The program runs with the defaults; tests and benchmarks pass others.
struct UpdateOptions {
    // The running program. When the manifest lists it (the setup's copy in the install folder,
    // shipped by the operator) and it differs, its file is moved aside to "<name>.old" and the
    // new one takes its place, so the next start runs the new one; a running program's file
    // cannot be written over, only renamed. Empty: no file is the running program.
    std::wstring selfPath;
    // False: every file is hashed (a deep verification), whatever the cache says.
    bool useCache = true;
    unsigned downloads = 4;    // repair downloads at once; 1: one after another on this thread
    unsigned hashThreads = 0;  // threads a verification hashes on; 0: up to min(4, cores)
    std::vector<std::string> manifestKeys = builtInManifestKeys();  // empty: unsigned manifests
    // The release the folder last completed, when known: a very large file that changed since
    // is patched in place from it (update/chunk_patch.h) instead of rebuilt whole.
    std::shared_ptr<const Manifest> previous;
    TransferOptions transfer;
};

struct UpdateResult {
    bool ok = false;
    bool selfReplaced = false;  // the running program's file now holds the new release's
    bool upToDate = false;      // nothing needed repair
    uint64_t bytesHashed = 0;   // what the verification read back from disk
    base::Failure error;        // none on success
};

// Verifies `installDir` against the manifest at `manifestUrl` (read into `manifest` with
// readManifest: signed, unexpired and not older than `installDir` has accepted, when keys are
// in force) and repairs the files that differ. Reports kConnecting, kChecking, then either
// kUpToDate or repair's stages.
UpdateResult runUpdate(const std::string& manifestUrl, const std::wstring& installDir,
                       const UpdateOptions& options, Manifest& manifest, ProgressCallback callback);

// The same over a manifest the caller has already read (an install reads it once, for the
// archive and for the verification that follows): starts at kChecking.
UpdateResult runUpdate(const Manifest& manifest, const std::wstring& installDir,
                       const UpdateOptions& options, ProgressCallback callback);

}  // namespace pcupd
