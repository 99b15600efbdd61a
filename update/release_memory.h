#pragma once
// The newest signed release accepted so far, kept in two places so that nothing older can be
// handed out again. The install folder's record (pcupd.sequence, beside pcupd.cache) goes
// with the folder; this user's (HKCU\Software\OrvaneOnline\Setup, one value per signing key)
// outlives it, so a second folder, a fresh one or a reinstall after a removal refuses an older
// release too. Both hold the manifest's "sequence" as a full unsigned 64-bit number. Called
// on the worker thread.

#include <cstdint>
#include <optional>
#include <string>

namespace pcupd {

constexpr wchar_t kSequenceFileName[] = L"pcupd.sequence";
constexpr wchar_t kUserMemoryKey[] = L"Software\\OrvaneOnline\\Setup";

// The folder record's text for `sequence` ("18446744073709551615\n" at most), and back: every
// 64-bit value; false for anything else (no digits, a sign, a space, a value that does not
// fit), never a quiet 0.
std::string sequenceText(uint64_t sequence);
bool parseSequenceText(const std::string& text, uint64_t& sequence);

// The highest sequence accepted for `installDir`, or nullopt when the folder has no record.
// False with "the install folder's record of accepted releases (pcupd.sequence) is damaged"
// when it cannot be read or holds anything but a sequence.
bool readFolderSequence(const std::wstring& installDir, std::optional<uint64_t>& sequence,
                        std::string& error);
// Replaces the folder's record (a crash leaves the old one or the new one).
bool saveFolderSequence(const std::wstring& installDir, uint64_t sequence);

// The release the install folder last completed (pcupd.release): the SHA-256 of the manifest
// that a run verified and repaired the whole folder against. A run of that same release again
// is the player asking for a repair and reads every byte; a run of another release is an
// update, which trusts the verification cache for the files it vouches for.
constexpr wchar_t kCompletedReleaseFileName[] = L"pcupd.release";
// Empty when the folder has no such record, or one that holds no digest.
std::string readCompletedRelease(const std::wstring& installDir);
bool saveCompletedRelease(const std::wstring& installDir, const std::string& manifestSha256);

// The registry value (a REG_QWORD under kUserMemoryKey) that holds this user's highest
// sequence for the signing key `key` (128 hex): "Sequence " and the key's first 16 digits.
std::wstring userSequenceName(const std::string& key);
// This user's highest sequence for `key`, or nullopt when none is recorded. False with "the
// record of accepted releases in the registry (HKCU\...) is damaged" for a value of
// another type or size.
bool readUserSequence(const std::string& key, std::optional<uint64_t>& sequence,
                      std::string& error);
bool saveUserSequence(const std::string& key, uint64_t sequence);

}  // namespace pcupd
