#pragma once
// File repair: downloads each changed file beside its target, checks it and swaps it in.

#include <string>

#include "update/file_scan.h"
#include "update/progress.h"
#include "update/update.h"
#include "update/verify_cache.h"

namespace pcupd {

// Repairs `changed` and fills `result` (ok, or the first failure). At every moment each
// target holds either its old content or the verified new content; a download that fails or
// does not match leaves no ".part" file. A target that is options.selfPath, the running
// program, is moved aside to "<target>.old" for the new one (update/update.h). Repaired files
// are recorded in `cache`.
// Reports kDownloading while a file downloads, kUpdated when it is in place, kRepaired when
// all are.
// Up to options.downloads files download at once, on helper threads; the reports still reach `callback`
// on the calling thread, one at a time, with bytes counted once. The failure reported is the
// first in manifest order (the own program's file, replaced alone after all others, last);
// downloads of later files stop. The calling thread owns `cache` again when this returns.
// A file with a chunk index and an old copy is rebuilt from the chunks that copy still has
// and byte ranges for the rest; anything unexpected there falls back to the whole download.
void repairFiles(UpdateResult& result, const ChangedFiles& changed, const std::wstring& installDir,
                 const UpdateOptions& options, ProgressCallback callback, VerifyCache& cache);

}  // namespace pcupd
