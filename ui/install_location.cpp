#include "ui/install_location.h"

#include <windows.h>

#include "base/long_path.h"

namespace ui {

namespace {

bool clientIn(const std::wstring& installDir) {
    const std::wstring client = installDir + L"\\" + kClientExecutable;
    return GetFileAttributesW(client.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

InstallLocation makeInstallLocation(const std::wstring& folder) {
    InstallLocation location;
    location.chosen = folder;
    std::wstring base = folder;
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
    location.installDir = base + L"\\" + kInstallFolderName;
    location.installationExists = clientIn(location.installDir);
    return location;
}

InstallLocation locationOfInstallDir(const std::wstring& installDir) {
    InstallLocation location;
    location.installDir = base::fullPath(installDir);
    while (location.installDir.size() > 3 && location.installDir.back() == L'\\')
        location.installDir.pop_back();
    location.chosen = location.installDir.substr(0, location.installDir.find_last_of(L'\\'));
    location.installationExists = clientIn(location.installDir);
    return location;
}

}  // namespace ui
