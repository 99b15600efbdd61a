#include "base/disk_space.h"

#include <windows.h>

#include <limits>
#include <vector>

#include "base/long_path.h"

namespace base {

namespace {

constexpr uint64_t kFixedMargin = 32ull << 20;

uint64_t addSaturating(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

// The root of the volume that holds the existing `path`, without its trailing separator
// except where that would leave a bare "\\"; empty when the system will not say.
std::wstring volumeName(const std::wstring& path) {
    std::vector<wchar_t> root(path.size() + 2);
    if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) return {};
    std::wstring name = root.data();
    // The \\?\ form is ours, not the player's.
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0)
        name = L"\\\\" + name.substr(8);
    else if (name.rfind(L"\\\\?\\", 0) == 0)
        name = name.substr(4);
    while (name.size() > 2 && name.back() == L'\\') name.pop_back();
    return name;
}

}  // namespace

uint64_t spaceNeeded(uint64_t clientBytes) {
    return addSaturating(addSaturating(clientBytes, clientBytes / 50), kFixedMargin);
}

Room roomFor(std::optional<uint64_t> clientBytes, std::optional<uint64_t> freeBytes) {
    if (!clientBytes || !freeBytes) return Room::kUnknown;
    return *freeBytes >= spaceNeeded(*clientBytes) ? Room::kEnough : Room::kShort;
}

bool volumeOf(const std::wstring& folder, Volume& volume) {
    std::wstring path = fullPath(folder);
    for (;;) {
        ULARGE_INTEGER available{};
        if (GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
            volume.freeBytes = available.QuadPart;
            volume.name = volumeName(path);
            if (volume.name.empty()) volume.name = path;
            return true;
        }
        const size_t slash = path.find_last_of(L'\\');
        // Not past a share's name: "\\server" and "\" are no folders.
        if (slash == std::wstring::npos || slash < 2 || slash + 1 >= path.size()) return false;
        path = path.substr(0, slash == 2 && path[1] == L':' ? 3 : slash);
    }
}

}  // namespace base
