#include "base/long_path.h"

#include <windows.h>

#include <algorithm>

#include "base/text.h"

namespace base {

std::wstring fullPath(const std::wstring& path) {
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

namespace base {

bool samePath(const std::wstring& a, const std::wstring& b) {
    std::wstring left = fullPath(a), right = fullPath(b);
    // "C:\Games\" and "C:\Games" are one folder; "C:\" keeps its separator.
    while (left.size() > 3 && left.back() == L'\\') left.pop_back();
    while (right.size() > 3 && right.back() == L'\\') right.pop_back();
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

bool isInsideFolder(const std::wstring& path, const std::wstring& folder) {
    std::wstring full = fullPath(path), root = fullPath(folder);
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    // "C:\Games\OrvaneOnline2\x" is not inside "C:\Games\OrvaneOnline".
    if (full.size() <= root.size() + 1 || full[root.size()] != L'\\') return false;
    return CompareStringOrdinal(full.c_str(), static_cast<int>(root.size()), root.c_str(),
                                static_cast<int>(root.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace base
