#pragma once
// The chunker's golden vectors, asserted by the program's tests under Wine and by the
// publisher's tests natively: if the two builds ever cut differently, one of them fails.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// splitmix64, the bytes of each value least significant first.
inline std::vector<uint8_t> pseudoRandomBytes(size_t size, uint64_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        if (i % 8 == 0) seed += 0x9E3779B97F4A7C15ULL;
        uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        bytes[i] = static_cast<uint8_t>(z >> (8 * (i % 8)));
    }
    return bytes;
}

// 2 MiB from the seed 12, and the lengths the chunker cuts them into.
inline std::vector<uint8_t> goldenBytes() { return pseudoRandomBytes(2 << 20, 12); }

inline const std::vector<uint32_t> kGoldenLengths = {
    53295, 54877, 51943, 137758, 54917, 51989, 51675, 56112,
    49884, 56617, 55791, 56369, 88042, 56929, 53075, 49199,
    95814, 73109, 71959, 50036, 50306, 76319, 59832, 23731,
    62587, 52908, 86882, 51296, 66131, 40107, 78124, 57112,
    71168, 51259,
};

// The first 512 KiB of the same bytes cut with base::kSmallChunks.
inline const std::vector<uint32_t> kGoldenSmallLengths = {
    13016, 14033, 13438, 12808, 22737, 16964, 12732, 12913,
    14319, 15678, 43852, 14963, 12980, 12584, 17256, 25950,
    20141, 16796, 18104, 13407, 18615, 14490, 13185, 12541,
    16043, 14954, 15952, 13438, 12378, 5032, 13257, 18010,
    11722,
};

}  // namespace testsupport
