#include "ui/install_location.h"

#include <windows.h>

namespace ui {

InstallLocation makeInstallLocation(const std::wstring& folder) {
    InstallLocation location;
    location.chosen = folder;
    std::wstring base = folder;
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
    location.installDir = base + L"\\" + kInstallFolderName;
    const std::wstring client = location.installDir + L"\\" + kClientExecutable;
    location.installationExists = GetFileAttributesW(client.c_str()) != INVALID_FILE_ATTRIBUTES;
    return location;
}

}  // namespace ui
