#include "tests/support/temp_dir.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

using UnixNameFunction = char*(CDECL*)(LPCWSTR);

// Wine's own export; absent on Windows.
UnixNameFunction wineUnixName() {
    return reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

std::string unixName(UnixNameFunction function, const std::filesystem::path& path) {
    char* name = function(path.c_str());
    std::string text = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// Starts a Unix program under Wine (which starts one given by its path on the Z: drive).
// Wine neither waits for its end nor reports its exit code: callers look for its effect.
void runUnix(const std::string& command) {
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// Links makeLink made, unlinked by the TempDir holding them before it removes the rest:
// removing a folder's contents follows a Unix link under Wine, into what it points at.
std::mutex gLinksLock;
std::vector<std::filesystem::path> gLinks;

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = L"orvane-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter++) + L"-" + std::to_wstring(GetTickCount());
        if (std::filesystem::create_directory(base / name)) {
            path_ = base / name;
            return;
        }
    }
    throw std::runtime_error("cannot create a temp folder");
}

TempDir::~TempDir() {
    bool linked = false;
    if (wineUnixName()) {
        std::lock_guard<std::mutex> hold(gLinksLock);
        const std::wstring inside = path_.wstring() + L"\\";
        const auto ours = [&](const std::filesystem::path& link) { return link.wstring().rfind(inside, 0) == 0; };
        linked = std::any_of(gLinks.begin(), gLinks.end(), ours);
        gLinks.erase(std::remove_if(gLinks.begin(), gLinks.end(), ours), gLinks.end());
    }
    // Unix removes links as links; Wine's view of them would lead the removal into their
    // targets.
    std::error_code ignored;
    if (!linked) {
        std::filesystem::remove_all(path_, ignored);
        return;
    }
    // Wine does not wait for a Unix program's end: the folder's going tells.
    runUnix("Z:\\bin\\rm -rf \"" + unixName(wineUnixName(), path_) + "\"");
    for (int waited = 0; waited < 10000 && GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; waited += 20)
        Sleep(20);
}

bool makeLink(const std::filesystem::path& link, const std::filesystem::path& target) {
    const UnixNameFunction function = wineUnixName();
    if (!function) {
        const DWORD folder = std::filesystem::is_directory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
        return CreateSymbolicLinkW(link.c_str(), target.c_str(), folder | 0x2 /* unprivileged */) != FALSE;
    }
    // The parent exists, the link does not yet: its Unix name is the parent's plus its own.
    const std::string from = unixName(function, link.parent_path()) + "/" + link.filename().u8string();
    const std::string to = unixName(function, target);
    if (to.empty() || from.size() <= 1) return false;
    runUnix("Z:\\bin\\ln -s \"" + to + "\" \"" + from + "\"");
    {
        std::lock_guard<std::mutex> hold(gLinksLock);
        gLinks.push_back(link);
    }
    for (int waited = 0; waited < 5000; waited += 20) {
        if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(20);
    }
    return false;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace testsupport
