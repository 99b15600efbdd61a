#pragma once
// The local file scan: which of the manifest's files differ from what is on disk.

#include <string>
#include <vector>

#include "update/manifest.h"
#include "update/verify_cache.h"

namespace pcupd {

using ChangedFiles = std::vector<const ManifestFile*>;  // entries of the caller's Manifest

// Appends to `changed`, in manifest order, every file that is missing, has another size than
// a non-zero manifest size, or whose digest differs from the manifest's. An unsafe path goes
// on the list without the disk being touched, so that repair refuses it. With `useCache` a
// file whose stamp matches a trusted cache entry is not read: the cached digest is compared
// instead. Without it every file is hashed (a deep verification). `cache` ends up holding
// exactly what this scan learned. Files to hash are shared among `threads` threads (0: up to
// min(4, cores)); the result and the cache are the same as on one thread. The calling thread
// owns `cache`. Each folder that holds a listed file is searched once, and the names in it
// that end in ".part" are appended to `partFiles` (when given) as relative paths, for
// removeLeftovers. Returns the bytes it read back from disk to hash.
uint64_t scanFiles(const Manifest& manifest, const std::wstring& installDir, bool useCache,
                   unsigned threads, VerifyCache& cache, ChangedFiles& changed,
                   std::vector<std::string>* partFiles = nullptr);

}  // namespace pcupd
