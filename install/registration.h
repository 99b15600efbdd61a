#pragma once
// The game's entry in Apps & features: the per-user uninstall key, which needs no
// administrator rights.

#include <cstdint>
#include <string>

namespace installer {

constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvaneOnline";
// The setup's own copy in the install folder, which the entry's commands run.
constexpr wchar_t kSetupCopyName[] = L"OrvaneSetup.exe";

struct Registration {
    std::wstring installDir;      // full path
    std::string clientVersion;    // the manifest's
    std::string manifestUrl;      // where a repair reads its manifest
    uint64_t clientBytes = 0;     // the manifest's files together
};

// Writes the entry under HKCU for `registration`, replacing an earlier one. False with
// `error` set when the key cannot be written.
bool registerInstallation(const Registration& registration, std::string& error);

// Deletes the entry when it names `installDir` (another folder's entry stays). True when
// no entry for this folder is left.
bool unregisterInstallation(const std::wstring& installDir);

// The command lines the entry holds, for `installDir`.
std::wstring uninstallCommand(const std::wstring& installDir, bool quiet);
std::wstring modifyCommand(const std::wstring& installDir, const std::string& manifestUrl);

}  // namespace installer
