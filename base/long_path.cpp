#include "base/long_path.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "base/text.h"

namespace base {

std::wstring fullPath(const std::wstring& path) {
    // A bare drive names its root here, not the folder last current on it.
    if (path.size() == 2 && path[1] == L':' && iswalpha(path[0])) return path + L"\\";
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

std::wstring extendedLengthPath(const std::wstring& path) {
    // CreateDirectoryW stops 12 characters short of MAX_PATH (room for an 8.3 name).
    if (path.size() < MAX_PATH - 12) return path;
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
    return path;
}

std::wstring joinUnder(const std::wstring& root, const std::string& relativeUtf8) {
    std::wstring relative = toWide(relativeUtf8);
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    return extendedLengthPath(root + L"\\" + relative);
}

void createParentDirectories(const std::wstring& path) {
    const size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos) return;
    if (GetFileAttributesW(path.substr(0, last).c_str()) != INVALID_FILE_ATTRIBUTES) return;
    for (size_t end = path.find_first_of(L"\\/"); end != std::wstring::npos && end <= last;
         end = path.find_first_of(L"\\/", end + 1)) {
        const std::wstring prefix = path.substr(0, end);
        if (prefix.empty() || (prefix.size() == 2 && prefix[1] == L':')) continue;
        CreateDirectoryW(prefix.c_str(), nullptr);
    }
}

}  // namespace base
