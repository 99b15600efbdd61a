#pragma once
// Keeping OUT_DIR/pc/files in step with the client: what an earlier publish left there
// either makes way for a new copy or, once the new manifest is in place, goes.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace orvpak {

// Makes room for the copy of `path` under `filesDir`: removes a folder standing where the
// file goes, or a file standing where one of its folders goes (both from an earlier publish
// of a client laid out differently), and creates the folders. False with a message.
bool clearCopyPath(const std::filesystem::path& filesDir, const std::string& path,
                   std::string& error);

// Removes everything under `filesDir` that is not the copy of one of `published` (sorted
// '/'-separated paths), then the folders that end up empty. `removed` counts the files.
bool removeStaleCopies(const std::filesystem::path& filesDir,
                       const std::vector<std::string>& published, size_t& removed,
                       std::string& error);

}  // namespace orvpak
