#pragma once
// The full-archive stream installer: one GET of an ORVPAK1 archive, each entry written
// straight to its place under the install folder and hashed as it is written. Runs on the
// install worker thread; progress goes to the shared install state.

#include <cstdint>
#include <string>

// ORVPAK1: a 24-byte header ("ORVPAK1", one ignored byte, version, entry count, total data
// bytes), then per entry: path length (1..1024), UTF-8 path, data size, raw SHA-256, data.
// All integers little-endian.
constexpr char kArchiveMagic[] = "ORVPAK1";
constexpr uint32_t kArchiveVersion = 1;
constexpr uint16_t kMaxArchivePath = 1024;

// True when every entry was written and matched its digest. On the first failure `error`
// gets its message and the call stops; entries already written stay.
bool installFullArchive(const std::string& url, const std::wstring& installDir, std::string& error);
