#pragma once
// Where the client goes: the location the player chose and the folder made under it.

#include <cstdint>
#include <optional>
#include <string>

namespace ui {

struct InstallLocation {
    std::wstring chosen;      // as the player (or --install=) gave it; empty: none yet
    std::wstring installDir;  // chosen + "\OrvaneOnline"
    bool installationExists = false;  // Engine.exe or the install record is there: a repair
    // The volume that would hold installDir ("D:") and its free space, when the system says.
    std::wstring volume;
    std::optional<uint64_t> freeBytes;
};

constexpr const wchar_t* kInstallFolderName = L"OrvaneOnline";
constexpr const wchar_t* kClientExecutable = L"Engine.exe";

// The install location for `folder`, looking at the disk for an existing client and for the
// free space. A trailing separator of `folder` is not doubled ("D:\" gives "D:\OrvaneOnline").
InstallLocation makeInstallLocation(const std::wstring& folder);

// Looks at the free space of the volume that would hold `location`'s install folder again.
void measureRoom(InstallLocation& location);

// The install location of a folder named itself (--install-dir=, or the folder a removal
// runs from): chosen is the folder that holds it.
InstallLocation locationOfInstallDir(const std::wstring& installDir);

}  // namespace ui
