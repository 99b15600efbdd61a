#include "tools/orvpak/stale_copies.h"

#include <algorithm>
#include <iterator>
#include <system_error>
#include <unordered_map>

#include "tools/orvpak/entry_path.h"
#include "tools/orvpak/file_io.h"

namespace fs = std::filesystem;

namespace orvpak {
namespace {

bool isRealDirectory(const fs::path& path) {
    std::error_code ignored;
    return fs::is_directory(fs::symlink_status(path, ignored));
}

bool removeOne(const fs::path& path, bool recursive, std::string& error) {
    std::error_code failure;
    if (recursive)
        fs::remove_all(path, failure);
    else
        fs::remove(path, failure);
    if (!failure) return true;
    error = "cannot remove " + displayPath(path) + " left by an earlier publish: " +
            failure.message() + ": remove it by hand";
    return false;
}

}  // namespace

bool clearCopyPath(const fs::path& filesDir, const std::string& path, std::string& error) {
    fs::path folder = filesDir;
    const fs::path relative = fs::u8path(path);
    for (auto part = relative.begin(); part != relative.end(); ++part) {
        const fs::path target = folder / *part;
        std::error_code failure;
        const fs::file_status status = fs::symlink_status(target, failure);
        const bool last = std::next(part) == relative.end();
        if (fs::exists(status)) {
            if (last && fs::is_directory(status)) return removeOne(target, true, error);
            if (!last && !fs::is_directory(status) && !removeOne(target, false, error))
                return false;
        }
        if (!last && !isRealDirectory(target) && !fs::create_directory(target, failure)) {
            error = "cannot create the folder " + displayPath(target) + ": " +
                    failure.message() + " (check that the output folder is writable)";
            return false;
        }
        folder = target;
    }
    return true;
}

bool removeStaleCopies(const fs::path& filesDir, const std::vector<std::string>& published,
                       size_t& removed, std::string& error) {
    removed = 0;
    std::unordered_map<std::string, const std::string*> byLowered;
    for (const std::string& path : published) byLowered.emplace(toLowerAscii(path), &path);

    // Collected first: removing while the iterator walks would pull folders from under it.
    std::vector<fs::path> stale, folders;
    std::error_code failure;
    fs::recursive_directory_iterator it(filesDir, fs::directory_options::none, failure);
    for (const fs::recursive_directory_iterator end; !failure && it != end; it.increment(failure)) {
        const fs::path& found = it->path();
        if (isRealDirectory(found)) {
            folders.push_back(found);
            continue;
        }
        const std::string path = relativeUtf8(filesDir, found);
        if (std::binary_search(published.begin(), published.end(), path)) continue;
        // On a case-insensitive disk a renamed-in-case file keeps its old spelling: it is
        // still the new copy, which the same-file test recognises.
        const auto match = byLowered.find(toLowerAscii(path));
        std::error_code ignored;
        if (match != byLowered.end() &&
            fs::equivalent(found, filesDir / fs::u8path(*match->second), ignored))
            continue;
        stale.push_back(found);
    }
    if (failure) {
        error = "cannot list " + displayPath(filesDir) + " to remove stale copies: " +
                failure.message();
        return false;
    }
    for (const fs::path& path : stale) {
        if (!removeOne(path, false, error)) return false;
        ++removed;
    }
    // Deepest first, so a folder that held only empty folders goes too.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        return a.native().size() > b.native().size();
    });
    for (const fs::path& folder : folders) {
        std::error_code ignored;
        if (fs::is_empty(folder, ignored) && !ignored) fs::remove(folder, ignored);
    }
    return true;
}

}  // namespace orvpak
