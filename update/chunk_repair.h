#pragma once
// Repair by chunks: a changed file that the manifest gives a chunk index is rebuilt from the
// chunks of the player's copy that are still right, wherever they now sit, and byte ranges of
// the published file for the rest. Never worse than a whole download: whatever goes wrong
// ends in "fall back", and the caller then downloads the whole file as it always did.
// Called on repair's download threads; nothing here is shared between calls.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/chunk_hasher.h"
#include "update/download.h"
#include "update/http.h"
#include "update/manifest.h"
#include "update/sha256.h"

namespace pcupd {

using ChunkDigest = std::array<uint8_t, kSha256Size>;

// Cuts a stream into the publisher's chunks and hashes each one as its bytes go by, with
// the program's own SHA-256 (see base/chunk_hasher.h).
using ChunkHasher = base::ChunkHasher<Sha256>;

// What a chunk repair tells its caller, on the thread that runs it.
struct ChunkRepairEvents {
    // Once, when the plan is made: the bytes that will be downloaded instead of the file's size.
    std::function<void(int64_t toDownload)> planned;
    // Bytes received since the last call: about once per kProgressInterval, and after each range.
    std::function<void(int64_t bytes)> received;
};

enum class ChunkRepairResult { Built, Fallback, Cancelled };

// GETs a chunk object the manifest names (an index, a groups object) into `body`; false with
// the reason in `why` ("WHAT: " + the transport's text, or "WHAT digest is wrong") unless its
// SHA-256 is `sha256`.
bool fetchChunkObject(const std::string& url, const std::string& sha256, const std::string& what,
                      std::string& body, std::string& why, const TransferOptions& transfer);

// True when `file` has a chunk index and `local` (its old copy) holds at least one byte.
bool chunkRepairApplies(const ManifestFile& file, const std::wstring& local);

// Builds `file` in `part` from `local` and Range requests on file.url (update/http.h's
// HttpStream::openRange, which takes only exactly the range asked for). Built: `part` holds
// the file, its digest (in `digest`) matches the manifest's and it is flushed to disk.
// Fallback (with the reason in `why`) or Cancelled (`*cancel` turned true): no `part` remains.
ChunkRepairResult repairByChunks(const ManifestFile& file, const std::wstring& local,
                                 const std::wstring& part, const std::atomic<bool>* cancel,
                                 const ChunkRepairEvents& events, const TransferOptions& transfer,
                                 std::string& digest, std::string& why);

}  // namespace pcupd
