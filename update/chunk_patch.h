#pragma once
// An update of a very large file in place. A pack of several gigabytes in which a release
// changed a few megabytes would otherwise cost a read of the whole player's copy to find its
// chunks, the whole chunk index, and a copy of every unchanged byte into a new file. Here,
// when the player's copy is the previous release's file (the verification cache vouches for
// its digest) and both releases publish chunk groups (base/chunk_groups.h):
//   - the two groups objects, a few kilobytes, say which groups are the same at the same
//     place in both releases; those bytes stay where they are, unread;
//   - for the groups that differ, only their records are fetched (byte ranges of the two
//     chunk indexes, each checked against its group's digest), and a chunk that is the same
//     at the same place stays too;
//   - every other chunk is downloaded with a Range request, checked against its digest and
//     only then written over the old bytes; the file then takes the new size.
// The new file's digest is not read back: every byte is vouched for by the signed manifest's
// chain of digests (groups object, group records, chunk), or is the previous release's,
// unchanged. Nothing is written before the plan is made; a failure after the first write
// leaves a file the caller then rebuilds the usual way (chunk repair or whole download,
// both checked in full), and a file left half-patched by a crash no longer matches its cache
// entry, so the next run reads and repairs it. Called on repair's download threads.

#include <atomic>
#include <cstdint>
#include <string>

#include "update/chunk_repair.h"
#include "update/http.h"
#include "update/manifest.h"

namespace pcupd {

// True when `file` and `previous` (the same path in the release the folder last completed)
// both have chunk groups and the file changed between them.
bool chunkPatchApplies(const ManifestFile& file, const ManifestFile& previous);

// Patches `target`, which the caller has shown to hold `previous`'s content, into `file`.
// Built: `target` holds the new content, flushed. Fallback with the reason in `why`: nothing
// was written when `written` is false; otherwise `target` is damaged and must be rebuilt.
// Cancelled: `*cancel` turned true (`written` says the same). Events as for repairByChunks.
ChunkRepairResult patchInPlace(const ManifestFile& file, const ManifestFile& previous,
                               const std::wstring& target, const std::atomic<bool>* cancel,
                               const ChunkRepairEvents& events, const TransferOptions& transfer,
                               bool& written, std::string& why);

}  // namespace pcupd
