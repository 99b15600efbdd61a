#pragma once
// The full-archive stream installer: one pass over an ORVPAK1 archive (format in
// base/archive_format.h; fetched over several connections at once where the server takes
// byte ranges, update/parallel_stream.h; a dropped connection is resumed from the next byte), each entry
// written straight to its place under the install folder and hashed as it is written. Runs
// on the install worker thread and reports to the worker's progress sink.

#include <string>

#include "base/failure.h"
#include "install/entry_writer.h"
#include "install/job.h"
#include "update/http.h"
#include "update/manifest.h"

namespace installer {

// Installs the archive a manifest names, bound to that manifest: an entry it does not list
// ("archive entry not in manifest: " + path) or lists with another digest or size ("archive
// entry differs from manifest: " + path) stops the install before anything of that entry is
// created. Where the manifest gives the archive's size and digest, the whole stream must
// match them ("archive size mismatch", "archive digest mismatch"); where it gives the heads
// digest, that one is checked instead, with the same failure, and each entry's data is
// hashed once only, against its own digest.
// True when every entry was written and matched its digest. On the first failure `error`
// gets it (kMismatch for the checks above and a wrong entry digest, kBadInput for a damaged
// archive, kDisk, or the transport's) and the call stops; entries already written stay. Reports to `progress`
// the bytes written of the archive header's total (from the writer's thread too) and, as
// Phase::kInstalling, the entry being received: every few small ones, and every large one.
// `transfer` says how many connections the archive may take (connections, windowBytes), the
// pauses between tries and the stall limit; `writer` how finished files are closed.
bool installFullArchive(const pcupd::FullArchive& archive, const pcupd::Manifest& manifest,
                        const std::wstring& installDir, ProgressSink& progress, base::Failure& error,
                        const pcupd::TransferOptions& transfer = pcupd::TransferOptions{},
                        const WriterOptions& writer = WriterOptions());

}  // namespace installer
