#include "ui/install_location.h"

#include <windows.h>

#include "base/disk_space.h"
#include "base/long_path.h"
#include "install/install_record.h"

namespace ui {

namespace {

// The client, or this program's install record: a folder whose Engine.exe the player or an
// antivirus deleted is still an installation, repaired file by file rather than downloaded
// again whole.
bool clientIn(const std::wstring& installDir) {
    for (const wchar_t* name : {kClientExecutable, installer::kRecordFileName}) {
        const std::wstring path = installDir + L"\\" + name;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    }
    return false;
}

}  // namespace

InstallLocation makeInstallLocation(const std::wstring& folder) {
    InstallLocation location;
    location.chosen = folder;
    std::wstring base = folder;
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
    location.installDir = base + L"\\" + kInstallFolderName;
    location.installationExists = clientIn(location.installDir);
    measureRoom(location);
    return location;
}

void measureRoom(InstallLocation& location) {
    base::Volume volume;
    if (!location.installDir.empty() && base::volumeOf(location.installDir, volume)) {
        location.volume = volume.name;
        location.freeBytes = volume.freeBytes;
    } else {
        location.volume.clear();
        location.freeBytes.reset();
    }
}

InstallLocation locationOfInstallDir(const std::wstring& installDir) {
    InstallLocation location;
    location.installDir = base::fullPath(installDir);
    while (location.installDir.size() > 3 && location.installDir.back() == L'\\')
        location.installDir.pop_back();
    location.chosen = location.installDir.substr(0, location.installDir.find_last_of(L'\\'));
    location.installationExists = clientIn(location.installDir);
    measureRoom(location);
    return location;
}

}  // namespace ui
