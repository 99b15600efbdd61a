#pragma once
// The program's own small files in the install folder (records, counters): read whole, and
// replaced whole so that a crash leaves the old file or the new one, never half of either.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace base {

// The whole of `path`; false when it is missing, unreadable or larger than `limit` bytes.
bool readSmallFile(const std::wstring& path, uint64_t limit, std::string& data);

// Writes `content` to `path`.tmp, flushes it, and moves it over `path`. False, with no .tmp
// left, when any step fails.
bool replaceFile(const std::wstring& path, const std::string& content);
// The same, with the content written by `write` into the open .tmp file (false: failed).
bool replaceFile(const std::wstring& path, const std::function<bool(HANDLE file)>& write);

// MoveFileExW(`from`, `to`, `flags`), given a moment when another program has `to` open for
// a while: a virus scanner, an indexer or the shell reading an icon opens files just written,
// and they let go within a second. A program that keeps the file open (the game itself)
// still fails it, after that second; the system's error is then GetLastError().
bool moveFileWhenFree(const std::wstring& from, const std::wstring& to, DWORD flags);

}  // namespace base
