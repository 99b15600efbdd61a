#pragma once
// A patch from one manifest's bytes to the next release's, so that a player holding the
// earlier manifest fetches only the lines that changed. Plain text:
//
//   ORVPATCH1 <old sha256> <old size> <new sha256> <new size>\n
//   copy N\n          the next N lines of the old manifest, as they are
//   skip N\n          the next N lines of the old manifest left out
//   add N\n           the N lines that follow in the patch
//
// A line is everything up to and including its '\n'; only the last line of a document may
// lack one, so an added line without it can only end the patch. Applied on bytes, the result
// is byte-exact; the header's digests (lowercase hex SHA-256) and sizes tie a patch to one
// pair of documents. Hashing is the caller's: each side brings its own SHA-256. Plain C++,
// shared by the publisher and the program.

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

constexpr char kManifestPatchMagic[] = "ORVPATCH1";

// The most lines a patch may skip and add together. Finding the shortest patch costs time in
// proportion to the documents' lines times this, and memory in proportion to its square
// (about 16 MB here): past it the change is a large one, and the whole manifest, compressed,
// is the better download anyway.
constexpr size_t kMaxPatchEdits = 2000;

struct ManifestPatchHeader {
    std::string oldSha256, newSha256;  // 64 lowercase hex digits each
    uint64_t oldSize = 0, newSize = 0;
};

// The patch that turns `from` into `to` (whose digests the header carries), with the fewest
// skipped and added lines. False, with `patch` empty, when they differ in more than
// `maxEdits` lines: then no patch is worth publishing.
bool makeManifestPatch(const std::string& from, const std::string& to,
                       const ManifestPatchHeader& header, std::string& patch,
                       size_t maxEdits = kMaxPatchEdits);

// Reads the header line of `patch`; false when it is not one.
bool readManifestPatchHeader(const std::string& patch, ManifestPatchHeader& header);

// Applies `patch` to `from`, whose SHA-256 is `fromSha256`, into `to`. False, with `to`
// empty, when the patch is damaged, is for another document (digest or size), reads past the
// old document's end or leaves part of it unread, or gives a result of another size than its
// header says. The result's digest is the caller's to check against `header.newSha256`.
bool applyManifestPatch(const std::string& from, const std::string& fromSha256,
                        const std::string& patch, std::string& to, ManifestPatchHeader& header);

}  // namespace base
