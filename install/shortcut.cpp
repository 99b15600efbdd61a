#include "install/shortcut.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "base/long_path.h"
#include "base/path_identity.h"
#include "install/client_process.h"

namespace installer {

using Microsoft::WRL::ComPtr;

namespace {

// COM for the calling thread, for as long as the object lives. A thread already initialised
// in another mode keeps it (and COM stays usable).
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = path;
    CoTaskMemFree(path);
    return folder;
}

// Where the shortcut at `linkPath` points; empty when it is no shell link we can read.
std::wstring shortcutTarget(const std::wstring& linkPath) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    std::wstring target(32768, L'\0');
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&file)) || FAILED(file->Load(linkPath.c_str(), STGM_READ)) ||
        link->GetPath(target.data(), static_cast<int>(target.size()), nullptr, 0) != S_OK)
        return std::wstring();
    target.resize(wcslen(target.c_str()));
    return target;
}

}  // namespace

std::wstring desktopFolder() {
    return knownFolder(FOLDERID_Desktop);
}

std::wstring programsFolder() {
    return knownFolder(FOLDERID_Programs);
}

bool createShortcut(const std::wstring& folder, const std::wstring& installDir, std::string& error) {
    if (folder.empty()) {
        error = "no folder for the shortcut";
        return false;
    }
    ComScope com;
    const std::wstring root = base::fullPath(installDir);
    const std::wstring target = root + L"\\" + kClientExe;

    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link)))) {
        error = "shell link unavailable";
        return false;
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link->SetPath(target.c_str())) || FAILED(link->SetWorkingDirectory(root.c_str())) ||
        FAILED(link->SetIconLocation(target.c_str(), 0)) ||
        FAILED(link->SetDescription(L"Orvane Online")) || FAILED(link.As(&file)) ||
        FAILED(file->Save((folder + L"\\" + kShortcutName).c_str(), TRUE))) {
        error = "could not write the shortcut";
        return false;
    }
    return true;
}

bool removeShortcutInto(const std::wstring& folder, const std::wstring& installDir) {
    if (folder.empty() || installDir.empty()) return false;
    const std::wstring linkPath = folder + L"\\" + kShortcutName;
    if (GetFileAttributesW(linkPath.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    std::wstring target;
    {
        // The link is released before its file is deleted: a loaded link may hold it open.
        ComScope com;
        target = shortcutTarget(linkPath);
    }
    // Whole components: a shortcut into C:\Games\Orvane2 is not one into C:\Games\Orvane.
    if (target.empty() || !base::isInsideFolder(target, installDir)) return false;
    // The shell may still be reading a shortcut it just noticed (for its icon): a moment's
    // sharing violation is not a refusal.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (DeleteFileW(linkPath.c_str())) return true;
        if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
        Sleep(50);
    }
    return false;
}

}  // namespace installer
