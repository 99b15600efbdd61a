#include "tools/orvpak/object_store.h"

#include <system_error>
#include <vector>

#include "tools/orvpak/file_io.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

constexpr size_t kFanOutDigits = 2;

bool isLowerHex(const std::string& text) {
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return !text.empty();
}

bool removeAll(const fs::path& path, std::string& error) {
    std::error_code failure;
    fs::remove_all(path, failure);
    if (!failure) return true;
    error = "cannot remove " + displayPath(path) + ", which no kept release needs: " +
            failure.message() + ": remove it by hand";
    return false;
}

// Lists `folder` without following links; a missing folder lists as empty.
bool listFolder(const fs::path& folder, std::vector<fs::directory_entry>& entries,
                std::string& error) {
    entries.clear();
    std::error_code failure;
    if (!fs::exists(fs::symlink_status(folder, failure))) return true;
    fs::directory_iterator it(folder, failure);
    for (const fs::directory_iterator end; !failure && it != end; it.increment(failure))
        entries.push_back(*it);
    if (!failure) return true;
    error = "cannot list " + displayPath(folder) + " to prune it: " + failure.message();
    return false;
}

}  // namespace

bool isSha256Hex(const std::string& text) { return text.size() == 64 && isLowerHex(text); }

std::string objectPath(const std::string& sha256) {
    return std::string(kObjectsFolder) + "/" + sha256.substr(0, kFanOutDigits) + "/" + sha256;
}

bool hasObject(const fs::path& platformDir, const std::string& sha256, uint64_t size) {
    std::error_code failure;
    const fs::path path = platformDir / fs::u8path(objectPath(sha256));
    return fs::is_regular_file(fs::symlink_status(path, failure)) &&
           fs::file_size(path, failure) == size && !failure;
}

bool pruneObjects(const fs::path& platformDir, const std::set<std::string>& referenced,
                  bool keepLegacy, PruneResult& result, std::string& error) {
    result = PruneResult();
    std::vector<fs::directory_entry> fanOut, objects;
    if (!listFolder(platformDir / kObjectsFolder, fanOut, error)) return false;
    for (const fs::directory_entry& folder : fanOut) {
        const std::string prefix = folder.path().filename().u8string();
        std::error_code ignored;
        // Anything but a two-digit folder is a stray or the leftover of a stopped publish.
        if (!(prefix.size() == kFanOutDigits && isLowerHex(prefix) &&
              folder.is_directory(ignored) && !folder.is_symlink(ignored))) {
            if (!removeAll(folder.path(), error)) return false;
            ++result.objectsRemoved;
            continue;
        }
        if (!listFolder(folder.path(), objects, error)) return false;
        size_t kept = 0;
        for (const fs::directory_entry& object : objects) {
            const std::string name = object.path().filename().u8string();
            if (isSha256Hex(name) && name.compare(0, kFanOutDigits, prefix) == 0 &&
                referenced.count(name) && object.is_regular_file(ignored) &&
                !object.is_symlink(ignored)) {
                ++kept;
                continue;
            }
            if (!removeAll(object.path(), error)) return false;
            ++result.objectsRemoved;
        }
        if (kept == 0 && !removeAll(folder.path(), error)) return false;
    }
    if (keepLegacy) return true;
    for (const char* legacy : {kLegacyFilesFolder, kLegacyArchiveName}) {
        const fs::path path = platformDir / legacy;
        std::error_code failure;
        if (!fs::exists(fs::symlink_status(path, failure))) continue;
        if (!removeAll(path, error)) return false;
        result.legacyRemoved = true;
    }
    return true;
}

}  // namespace orvpak
