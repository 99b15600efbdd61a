#include "install/client_process.h"

#include <tlhelp32.h>

#include <vector>

#include "base/path_identity.h"
#include "base/unique_handle.h"

namespace installer {

namespace {

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring imagePath(HANDLE process) {
    std::vector<wchar_t> buffer(32768);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &size)) return {};
    return std::wstring(buffer.data(), size);
}

BOOL CALLBACK askToClose(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId) && GetWindow(window, GW_OWNER) == nullptr)
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

int stopRunningClient(const std::wstring& installDir, DWORD graceMs) {
    const std::wstring folder = base::comparablePath(installDir);
    std::vector<base::UniqueHandle> targets;
    {
        base::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) return 0;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            if (!equalsIgnoringCase(entry.szExeFile, kClientExe) ||
                entry.th32ProcessID == GetCurrentProcessId())
                continue;
            base::UniqueHandle process(OpenProcess(
                PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                entry.th32ProcessID));
            // A common name: only the client in this install folder is ours to stop.
            if (process && base::holdsComparable(folder, base::comparablePath(imagePath(process.get())))) {
                EnumWindows(askToClose, static_cast<LPARAM>(entry.th32ProcessID));
                targets.push_back(std::move(process));
            }
        }
    }
    const DWORD start = GetTickCount();
    for (base::UniqueHandle& process : targets) {
        const DWORD spent = GetTickCount() - start;
        if (WaitForSingleObject(process.get(), spent < graceMs ? graceMs - spent : 0) == WAIT_OBJECT_0)
            continue;
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);  // its files are released once it is gone
    }
    return static_cast<int>(targets.size());
}

}  // namespace installer
