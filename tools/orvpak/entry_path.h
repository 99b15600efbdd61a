#pragma once
// What makes a relative path acceptable as an archive entry and a manifest file: the
// publisher refuses such names before writing anything, and verify flags them in an archive.

#include <cstddef>
#include <string>

#include "base/archive_format.h"
#include "base/ascii.h"

namespace orvpak {

constexpr size_t kMaxPathLength = base::kMaxArchivePath;  // bytes of UTF-8

// True for well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUtf8(const std::string& text);

// Why the installer would refuse `path` ('/'-separated UTF-8) as an entry, as a phrase that
// follows the path in a message; empty when the path is acceptable.
std::string entryPathProblem(const std::string& path);

// `path` in double quotes for a message; control characters, and every byte of a path
// that is not UTF-8, appear as \xNN so a hostile name cannot garble the terminal.
std::string quotedPath(const std::string& path);

// Paths are folded as the installer folds them: "A".."Z" only.
using base::toLowerAscii;

}  // namespace orvpak
