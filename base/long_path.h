#pragma once
// Paths past MAX_PATH: an archive entry may be 1024 bytes long, which only the \\?\ form
// reaches on a Windows that is not set up for long paths.

#include <string>

namespace base {

// `path` made absolute and normalised (GetFullPathNameW), a bare drive ("C:") as its root;
// unchanged when that fails.
std::wstring fullPath(const std::wstring& path);

// The \\?\ (or \\?\UNC\) form of an absolute, normalised path when it is too long for the
// plain form; short, relative and already-prefixed paths come back unchanged.
std::wstring extendedLengthPath(const std::wstring& path);

// Where a relative UTF-8 path from the network lands under `root` (absolute, normalised, no
// trailing separator): `/` becomes `\`, and a long result takes the \\?\ form. Check the
// path with isSafeRelativePath first.
std::wstring joinUnder(const std::wstring& root, const std::string& relativeUtf8);

// Creates every missing folder above `path`, skipping a bare drive ("C:") and the \\?\ and
// UNC roots. Failures are left to the file creation that follows to report.
void createParentDirectories(const std::wstring& path);

}  // namespace base
