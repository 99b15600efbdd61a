#include "tools/orvpak/archive_format.h"

namespace orvpak {
namespace {

void appendLittleEndian(std::string& out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string encodeHeader(const ArchiveHeader& header) {
    std::string bytes(kArchiveMagic, kMagicSize);
    bytes.push_back('\0');
    appendLittleEndian(bytes, header.version, 4);
    appendLittleEndian(bytes, header.entryCount, 4);
    appendLittleEndian(bytes, header.totalBytes, 8);
    return bytes;
}

std::string encodeEntryHead(const std::string& path, uint64_t dataSize, const Digest& digest) {
    std::string bytes;
    bytes.reserve(kPathLengthSize + path.size() + kEntryFixedSize);
    appendLittleEndian(bytes, path.size(), kPathLengthSize);
    bytes += path;
    appendLittleEndian(bytes, dataSize, 8);
    bytes.append(reinterpret_cast<const char*>(digest.data()), digest.size());
    return bytes;
}

uint64_t readLittleEndian(const unsigned char* bytes, size_t width) {
    uint64_t value = 0;
    for (size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

}  // namespace orvpak
