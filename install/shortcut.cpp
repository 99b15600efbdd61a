#include "install/shortcut.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "base/long_path.h"
#include "install/client_process.h"

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

}  // namespace

std::wstring desktopFolder() {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path))) folder = path;
    CoTaskMemFree(path);
    return folder;
}

bool createShortcut(const std::wstring& folder, const std::wstring& installDir, std::string& error) {
    if (folder.empty()) {
        error = "no desktop folder";
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
