#include "base/chunker.h"

#include <algorithm>

namespace base {
namespace {

// One random 64-bit value per byte value: splitmix64 from the seed 0x4F525643484B31
// ("ORVCHK1"). Never change a value: every published chunk index depends on this table.
constexpr uint64_t kGear[256] = {
    0x4d87fbc6ede695d8ULL, 0xbd67d116d7409db4ULL, 0xc7e36106180a20cfULL,
    0xaed958ec7544d1d1ULL, 0x717914601783572eULL, 0xb732c8dcc7b713feULL,
    0x158a30dc15239b62ULL, 0x752dba9f96e2be7dULL, 0xeecce3208177469fULL,
    0x46927b267ac4fc8bULL, 0xebac46ad97d2ec15ULL, 0x833eda6f5194b55dULL,
    0x134c1c6bdc801819ULL, 0x2678e15f9ca86b65ULL, 0x7bb9e2064d6c67b0ULL,
    0x3cc74bb6c14827a7ULL, 0xf3f768257b2dd81cULL, 0x9d3a456951fb0d95ULL,
    0xc406741668b27eacULL, 0x61867215dbcefcc9ULL, 0x07adddaddca83409ULL,
    0x8687f90a12ed9246ULL, 0x830924e207266770ULL, 0x2155b7867f028226ULL,
    0x315f0f079d0d56faULL, 0xdf7cf1c4f9f0b255ULL, 0xa8d03f4019624891ULL,
    0x973639ab7cf86d55ULL, 0xd2022b31f511c335ULL, 0x59f70c2d28d815bdULL,
    0x2562cca0644feb44ULL, 0xf884ba0f6feb4f25ULL, 0x3f69ce85be1de7dbULL,
    0xf42eaac7a9de8133ULL, 0x2d510a9f23f72934ULL, 0x471b5e9674ee603dULL,
    0xff0e524b42c47215ULL, 0x9fde206c98d4c57eULL, 0xbed7220430c34562ULL,
    0x2701615850ac898dULL, 0x75761d09cc5eeebcULL, 0x814626376ad48810ULL,
    0x65ea987a3f42d53bULL, 0x7ee32f9369215882ULL, 0x48cabe6eb107a121ULL,
    0xabdfe5aeee6339d2ULL, 0x0d9b472c984f1cdaULL, 0x61c77fe4bd4c366cULL,
    0x34e0b68f9b45d7b3ULL, 0xd0850f21de3effc2ULL, 0xb8034f13344483cdULL,
    0x31ce121c0b88d386ULL, 0x7342df0719557ec5ULL, 0x79f3675f67c112c1ULL,
    0x6e1449669210e2ebULL, 0xde066b17601fd4b4ULL, 0x5f20e444db1bad55ULL,
    0x83b9c9469a4bc537ULL, 0x820ca0ca41e28686ULL, 0x41db3732735b0279ULL,
    0x78b33379775c16c7ULL, 0x16aedf5e87beba6dULL, 0xaa350d326d8a52b4ULL,
    0x7844e27b68b7904aULL, 0xc035394e7048cca2ULL, 0xe0e5474e5524ec26ULL,
    0xa8dfe2628dfc70b2ULL, 0x2b3128f2b4e906c9ULL, 0x0d5b34abbc64e327ULL,
    0x7049337432c132b9ULL, 0xaaa94faa4c1d7b0aULL, 0x54ec12097d775e85ULL,
    0x85dbf0e150c5440cULL, 0xf714ffb2fabab618ULL, 0x7435cced118fbe7aULL,
    0x521a20fb10dab609ULL, 0xca32323b6b72b613ULL, 0x0311ee4fdd2611a8ULL,
    0x9bb38456e98e9b25ULL, 0x4f4a08eacf266f59ULL, 0xb5e5ebf24897b2bfULL,
    0x99f12efa889c5231ULL, 0x0785140f950419aaULL, 0x2cedaef82931e9acULL,
    0x5b77c2cd82d64b8eULL, 0x2f6df6a0df04b55aULL, 0x7e8cd7a4c325c468ULL,
    0xc17d6cb8f8449e4cULL, 0x6f1647b7ab608011ULL, 0x250c40b34ef9d3a4ULL,
    0xb1c3798f2d463539ULL, 0x4c6b4a01770f4c74ULL, 0x598d2deb37931c03ULL,
    0x1dd400f34477f6c6ULL, 0x62ee0ad993f4da48ULL, 0xdbd876ea6aaa1408ULL,
    0xc38c146e10172416ULL, 0x60d278529a425605ULL, 0x51452eb08135bde4ULL,
    0xa65ff861cd5a91f0ULL, 0x11add426c0569732ULL, 0xd107931ce3306629ULL,
    0x97beeffd79a07ad2ULL, 0x085bd15411ed31f1ULL, 0x3fc168b201e807cbULL,
    0xd50a8575c94092d5ULL, 0x18cb4ed401ab5140ULL, 0xd388faf9e866b7f5ULL,
    0x0de5ae934f7510e5ULL, 0x9d2420b688694384ULL, 0xf1713f3746c54b8aULL,
    0xf2287dd67b327510ULL, 0xe769bf6089296661ULL, 0xe9fd033a61d39b67ULL,
    0xede218c6fe419d28ULL, 0xacb10f4cbfd6a55dULL, 0x3baf70930e578372ULL,
    0xfe86955672f05788ULL, 0x3de911013b1a49cdULL, 0x07e78874fb62b614ULL,
    0x9b9d1bd1bc08d046ULL, 0xfefe8b8482971124ULL, 0x6d1fae4b371636a0ULL,
    0xb3e8158ca2025949ULL, 0x7c944ea329f27db3ULL, 0x790c8ec56164c696ULL,
    0x912edac944a7d703ULL, 0x4194d16f2e7283f7ULL, 0xcbc5f249006314daULL,
    0x63d605b7462fec73ULL, 0xc693c59a724d415cULL, 0x0180e160e07b9da4ULL,
    0xcd8523c03e2d5a17ULL, 0x7e5959b26afc56eaULL, 0x2332cf60d351771fULL,
    0xc1c57b5d1951d83fULL, 0x2bf95bd1ce03964cULL, 0x3d2ebc3b9bf9220dULL,
    0x1666ddec8c6ee605ULL, 0x06a48de0a53ed9ffULL, 0xffb44c0d5485c318ULL,
    0xa76a67af23359d6bULL, 0x7c60301a93d969ddULL, 0x8f9dc5a200de3db5ULL,
    0x7923a57ebbcd2438ULL, 0x45c284f56a4e9da9ULL, 0x6af67ee90149bc14ULL,
    0x137c2c2cddada772ULL, 0xdcf02e5df382e003ULL, 0x76df6bcf795a0408ULL,
    0xb5b01d1d227c1d88ULL, 0x61528fe9429540dcULL, 0xbfb245f36f2f59d6ULL,
    0x408ca8bde7f096b7ULL, 0xe8cf6dd80728fb7cULL, 0x5177358ac6d19763ULL,
    0xf5f2a0aa003352b0ULL, 0x0d6c0b305929ef47ULL, 0xb204cf803fa18453ULL,
    0x7db0a5a4692587dcULL, 0x8086e8fae847657bULL, 0x6f01b1a9f267dc3eULL,
    0xda27f78bf767b9feULL, 0xcd69e4608039d755ULL, 0x59f2547c3fea0533ULL,
    0x1dd97d57e5b1dc66ULL, 0x706097d9be7fdf9cULL, 0x07c2d237c3aac36fULL,
    0xfc284a5b946c5eeaULL, 0x654d96b9557c1514ULL, 0x0ee1a6de47822c7aULL,
    0xf6ea16caae220919ULL, 0x2d8372d1dd64acb6ULL, 0x98a8aba500a096e9ULL,
    0xa1a6c1222a5e645bULL, 0xeae07a3d2adef280ULL, 0x047847bf17bc8356ULL,
    0x72fba4a9943df267ULL, 0x4b9ee8678e10a5bbULL, 0x705ced2f5309bcbaULL,
    0x68b88b0538f2a879ULL, 0xcfa80d0eff3b30d1ULL, 0x535a7613f93691fdULL,
    0x41a0f1d8662ae090ULL, 0x6ffc9c70a033863fULL, 0xca06bb770c1b362dULL,
    0xcd5876c5215f56c2ULL, 0x7778aa0105f2fa70ULL, 0xa05619691c78821cULL,
    0xb27e75e01c0f4567ULL, 0xe6f80bb82f726b58ULL, 0xc118276c1cb8dbcbULL,
    0x0cf7e378555b73dbULL, 0x0955734573eb46c8ULL, 0x1a7593f06c7e0a28ULL,
    0x7461d8add326ed5eULL, 0x5ff1fdc2c3bfadaeULL, 0x3f8098974dd9ab17ULL,
    0x958ccefd6b0b2c02ULL, 0xb7ff923f37bb9f73ULL, 0x34e8dd076ddb778cULL,
    0xca5e70d54d30bd71ULL, 0x4cd53bd17ea64fcfULL, 0x16d4d592cbf3c44dULL,
    0x4e1a7d1e521fc72fULL, 0x2dcdafbda815a2f7ULL, 0xc321e9b45d58e155ULL,
    0x9552dcdb38e625a5ULL, 0xc774bf6ef5e5056aULL, 0x18a00f98bf6940feULL,
    0xdc48da340d64a9d1ULL, 0x7a28f9e75df36989ULL, 0xd9fc410009e9fe83ULL,
    0xb136e29366a480a6ULL, 0x58198adee83ba5d8ULL, 0x52f859add3de0cc0ULL,
    0xed759a3e4fde67e5ULL, 0x6fe03830cb34fa39ULL, 0x9600b60c9f16fb59ULL,
    0x56edd906e8d39796ULL, 0x15adc9ab205afdedULL, 0xfa9d3ca9a2012730ULL,
    0x42089d5849825ac7ULL, 0x37a6c0b73568de37ULL, 0x3f53163868aaa0d5ULL,
    0xb6cc6c727bf88021ULL, 0x172115f52e5ca267ULL, 0xb85d66648deef7fcULL,
    0xe9765256bf1ec050ULL, 0xce96f6e5a7d8f6bcULL, 0x03e4194d73317e09ULL,
    0x092c4433bb9798ecULL, 0x88704fd5ce47f58bULL, 0x866b9b79a6d5f3f7ULL,
    0x939138ee87d2c366ULL, 0x1095d69ed46d4d32ULL, 0xbe3ace778a624083ULL,
    0xb629c9b97a068f7bULL, 0x4c0ba66ae3f323a5ULL, 0x5892c99a0b3f11ffULL,
    0x9e90634c73c75a34ULL, 0x1ab975c8bf70269dULL, 0x3703d92c670de8e5ULL,
    0xd3f6109aa3a47fddULL, 0xde926688bdaa401eULL, 0x7ec1abb75319b8e8ULL,
    0x1a70f5e70b659f94ULL, 0x8e574afe995e12d1ULL, 0xeda75f411dfe9ca1ULL,
    0x2cfbd04aa806d7b3ULL, 0x53973979115eaabeULL, 0x8101d9fc68f75cdbULL,
    0xb445d55792baf3e5ULL, 0x576d87b36ec87869ULL, 0x800dd8599a6c1722ULL,
    0x8f264a3dcc4be26cULL,
};

// The hash shifts left once per byte, so after 64 bytes it depends only on the last 64; the
// boundary test reads its top bits, which are the ones that have seen the whole window.
constexpr uint32_t kWindow = 64;

uint32_t log2Of(uint32_t power) {
    uint32_t bits = 0;
    while (power > 1) power >>= 1, ++bits;
    return bits;
}

// Hashes bytes up to `stop`; true, with `data` just past it, at the first byte after which
// the hash passes `mask`.
inline bool scan(const uint8_t*& data, const uint8_t* stop, uint64_t mask, uint64_t& hash) {
    while (data < stop) {
        hash = (hash << 1) + kGear[*data++];
        if ((hash & mask) == 0) return true;
    }
    return false;
}

}  // namespace

bool validChunkSizes(const ChunkSizes& sizes) {
    const uint32_t average = sizes.average;
    return average >= 1024 && average <= (1u << 20) && (average & (average - 1)) == 0 &&
           sizes.min >= 4 * kWindow && sizes.min <= average / 4 * 3 && sizes.max >= average &&
           sizes.max <= (4u << 20);
}

// Nothing can cut before the minimum, so the hash starts only one window earlier: the skipped
// bytes could not have changed it anyway, and this is what keeps chunking cheaper than SHA-256.
// Normalized chunking: a harder test (two more bits) below three quarters of the average and
// an easier one (two fewer) above draw the sizes towards the average instead of the long
// tail a single test gives.
Chunker::Chunker(const ChunkSizes& sizes)
    : hashStart_(sizes.min - kWindow),
      min_(sizes.min),
      normal_(sizes.average / 4 * 3),
      max_(sizes.max),
      maskHard_(~uint64_t{0} << (64 - (log2Of(sizes.average) + 2))),
      maskEasy_(~uint64_t{0} << (64 - (log2Of(sizes.average) - 2))) {}

void Chunker::feed(const uint8_t* data, size_t size, std::vector<uint32_t>& lengths) {
    uint64_t hash = hash_;
    uint32_t length = length_;
    const uint8_t* const end = data + size;
    auto cut = [&] {
        lengths.push_back(length);
        length = 0;
        hash = 0;
    };
    // Each phase runs to the end of its stretch of the chunk or of the piece, whichever is first.
    while (data < end) {
        const size_t left = static_cast<size_t>(end - data);
        if (length < hashStart_) {
            const auto step = static_cast<uint32_t>(std::min<size_t>(left, hashStart_ - length));
            data += step;
            length += step;
        } else if (length < min_) {
            const auto step = static_cast<uint32_t>(std::min<size_t>(left, min_ - length));
            for (const uint8_t* stop = data + step; data < stop; ++data)
                hash = (hash << 1) + kGear[*data];
            length += step;
        } else {
            const bool early = length < normal_;
            const size_t stretch = (early ? normal_ : max_) - length;
            const uint8_t* const start = data;
            const bool found = scan(data, data + std::min(left, stretch),
                                    early ? maskHard_ : maskEasy_, hash);
            length += static_cast<uint32_t>(data - start);
            if (found || length == max_) cut();
        }
    }
    hash_ = hash;
    length_ = length;
}

void Chunker::finish(std::vector<uint32_t>& lengths) {
    if (length_ > 0) lengths.push_back(length_);
    length_ = 0;
    hash_ = 0;
}

std::vector<uint32_t> chunkLengths(const uint8_t* data, size_t size, const ChunkSizes& sizes) {
    std::vector<uint32_t> lengths;
    lengths.reserve(size / sizes.average + 1);
    Chunker chunker(sizes);
    chunker.feed(data, size, lengths);
    chunker.finish(lengths);
    return lengths;
}

}  // namespace base
