#include "tools/orvpak/manifest_patches.h"

#include <set>
#include <system_error>

#include "base/manifest_patch.h"
#include "tools/orvpak/file_io.h"
#include "tools/orvpak/sha256_hasher.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

bool sha256Of(const std::string& bytes, std::string& hex, std::string& error) {
    Sha256Hasher hasher;
    Digest digest{};
    if (hasher.ready()) hasher.update(bytes.data(), bytes.size());
    if (!hasher.ready() || !hasher.finish(digest)) {
        error = "SHA-256 of a manifest failed";
        return false;
    }
    hex = toHex(digest);
    return true;
}

bool writePatch(const fs::path& path, const std::string& patch, std::string& error) {
    std::error_code failure;
    fs::create_directories(path.parent_path(), failure);
    if (failure) {
        error = "cannot create " + displayPath(path.parent_path()) + ": " + failure.message();
        return false;
    }
    AtomicOutputFile file;
    return file.open(path, error) && file.write(patch.data(), patch.size(), error) &&
           file.commit(error);
}

}  // namespace

bool writeManifestPatches(const fs::path& platformDir, const std::vector<Release>& releases,
                          size_t keep, std::vector<ReleasePatch>& patches, std::string& error) {
    patches.clear();
    if (releases.empty()) return true;
    const std::string& live = releases.back().manifest;
    const size_t first = releases.size() - 1 > keep ? releases.size() - 1 - keep : 0;
    base::ManifestPatchHeader header;
    header.newSize = live.size();
    if (!sha256Of(live, header.newSha256, error)) return false;
    const fs::path folder = platformDir / kPatchesFolder;
    for (size_t i = first; i + 1 < releases.size(); ++i) {
        const std::string& earlier = releases[i].manifest;
        if (earlier == live) continue;
        ReleasePatch entry;
        entry.release = releases[i].number;
        if (!sha256Of(earlier, entry.manifestSha256, error)) return false;
        header.oldSha256 = entry.manifestSha256;
        header.oldSize = earlier.size();
        std::string patch, existing, ignored;
        // A patch no smaller than the manifest itself would only add a request.
        if (base::makeManifestPatch(earlier, live, header, patch) && patch.size() < live.size()) {
            const fs::path path = folder / entry.manifestSha256;
            // The same publish again finds its patches in place and leaves them untouched.
            if (!(readWholeFile(path, existing, ignored) && existing == patch) &&
                !writePatch(path, patch, error))
                return false;
            entry.bytes = patch.size();
        }
        patches.push_back(std::move(entry));
    }
    return true;
}

bool pruneManifestPatches(const fs::path& platformDir, const std::vector<ReleasePatch>& patches,
                          std::string& error) {
    std::set<std::string> written;
    for (const ReleasePatch& patch : patches)
        if (patch.bytes) written.insert(patch.manifestSha256);
    const fs::path folder = platformDir / kPatchesFolder;
    std::error_code failure;
    if (!fs::exists(fs::symlink_status(folder, failure))) return true;
    std::vector<fs::path> stale;
    fs::directory_iterator it(folder, failure);
    for (const fs::directory_iterator end; !failure && it != end; it.increment(failure))
        if (!written.count(it->path().filename().u8string())) stale.push_back(it->path());
    for (const fs::path& path : stale)
        if (!failure) fs::remove_all(path, failure);
    if (!failure) return true;
    error = "cannot prune " + displayPath(folder) + ": " + failure.message() +
            ": remove the patches of releases no longer kept by hand";
    return false;
}

}  // namespace orvpak
