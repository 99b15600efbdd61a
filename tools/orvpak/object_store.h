#pragma once
// The published objects under OUT_DIR/pc: every file copy and every full archive lives at
// objects/<first two hex digits>/<SHA-256 in hex>, so a name never changes its bytes and a
// cache may keep it for ever. Objects no kept release needs are pruned, together with the
// copies an earlier publisher kept under files/ and client.orvpak.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace orvpak {

constexpr char kObjectsFolder[] = "objects";
// Where publishers before content-named objects put the file copies and the archive.
constexpr char kLegacyFilesFolder[] = "files";
constexpr char kLegacyArchiveName[] = "client.orvpak";

// True for 64 lowercase hex digits, the only names objects/ holds.
bool isSha256Hex(const std::string& text);

// "objects/ab/ab12...": the object's '/'-separated path below OUT_DIR/pc, which is also its
// URL below the platform URL. `sha256` is lowercase hex.
std::string objectPath(const std::string& sha256);

// True when the object is in place as a regular file of `size` bytes. One of another size
// is damaged (the name promises the bytes), so the publisher writes it again.
bool hasObject(const std::filesystem::path& platformDir, const std::string& sha256,
               uint64_t size);

struct PruneResult {
    size_t objectsRemoved = 0;   // files under objects/, strays and leftovers included
    bool legacyRemoved = false;  // files/ or client.orvpak went
};

// Removes from `platformDir`/objects everything but the objects named in `referenced`, then
// the folders left empty; unless `keepLegacy`, also files/ and client.orvpak. Nothing else
// under `platformDir` is touched. False with a message naming what could not be removed.
bool pruneObjects(const std::filesystem::path& platformDir,
                  const std::set<std::string>& referenced, bool keepLegacy,
                  PruneResult& result, std::string& error);

}  // namespace orvpak
