#pragma once
// The update run: fetch the manifest, compare the install with it, repair what differs.
// Called on the worker thread; progress goes to the caller's callback on that thread.

#include <string>

#include "update/manifest.h"
#include "update/progress.h"

namespace pcupd {

struct UpdateResult {
    bool ok = false;
    bool selfUpdateStaged = false;  // the running program's own file waits as "<name>.new"
    bool upToDate = false;          // nothing needed repair
    std::string error;              // empty on success
};

// Verifies `installDir` against the manifest at `manifestUrl` (fetched into `manifest`) and
// repairs the files that differ. With manifest keys in force the manifest must be signed,
// unexpired and not older than `installDir` has accepted (update/manifest_signature.h).
// `selfPath` names the running program, whose replacement is staged rather than written
// over it. `useCache` false hashes every file. Reports kConnecting,
// kChecking, then either kUpToDate or repair's stages.
UpdateResult runUpdate(const std::string& manifestUrl, const std::wstring& installDir,
                       const std::wstring& selfPath, bool useCache, Manifest& manifest,
                       ProgressCallback callback);

// The same over a manifest the caller has already read (an install reads it once, for the
// archive and for the verification that follows): starts at kChecking.
UpdateResult runUpdate(const Manifest& manifest, const std::wstring& installDir,
                       const std::wstring& selfPath, bool useCache, ProgressCallback callback);

}  // namespace pcupd
