#pragma once
// Room on a disk for the client: what an install needs, how much a volume has free, and
// whether the one holds the other. The choose screen and the install worker ask here alike,
// so the window never calls a drive big enough that the worker then turns down.

#include <cstdint>
#include <optional>
#include <string>

namespace base {

// The room an install of a client of `clientBytes` needs: the client, plus 1/50 of it for
// the clusters thousands of files leave part empty, plus 32 MB for files written beside the
// ones they replace, the setup's copy and the folder's records. Saturates.
uint64_t spaceNeeded(uint64_t clientBytes);

enum class Room {
    kUnknown,  // the client's size or the free space is not known (yet)
    kEnough,
    kShort,
};

// Whether `freeBytes` holds an install of a client of `clientBytes`.
Room roomFor(std::optional<uint64_t> clientBytes, std::optional<uint64_t> freeBytes);

struct Volume {
    std::wstring name;       // as the player knows it: "D:", "\\server\share", a mount folder
    uint64_t freeBytes = 0;  // free to this user: a quota counts
};

// The volume that will hold `folder`, which need not exist yet: the nearest existing folder
// above it answers. False when none does (no such drive, or no access).
bool volumeOf(const std::wstring& folder, Volume& volume);

}  // namespace base
