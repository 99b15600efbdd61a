#include "base/archive_format.h"

#include <cstring>

namespace base {

bool hasArchiveMagic(const unsigned char* bytes) {
    return std::memcmp(bytes, kArchiveMagic, kArchiveMagicSize) == 0;
}

ArchiveHeader decodeArchiveHeader(const unsigned char (&bytes)[kArchiveHeaderSize]) {
    ArchiveHeader header;
    header.version = static_cast<uint32_t>(readLittleEndian(bytes + 8, 4));
    header.entryCount = static_cast<uint32_t>(readLittleEndian(bytes + 12, 4));
    header.totalBytes = readLittleEndian(bytes + 16, 8);
    return header;
}

std::string encodeArchiveHeader(const ArchiveHeader& header) {
    std::string bytes(kArchiveMagic, kArchiveMagicSize);
    bytes.push_back('\0');
    appendLittleEndian(bytes, header.version, 4);
    appendLittleEndian(bytes, header.entryCount, 4);
    appendLittleEndian(bytes, header.totalBytes, 8);
    return bytes;
}

std::string encodeEntryHead(const std::string& path, uint64_t dataSize, const uint8_t* digest) {
    std::string bytes;
    bytes.reserve(kEntryPathLengthSize + path.size() + kEntryFixedSize);
    appendLittleEndian(bytes, path.size(), kEntryPathLengthSize);
    bytes += path;
    appendLittleEndian(bytes, dataSize, 8);
    bytes.append(reinterpret_cast<const char*>(digest), kArchiveDigestSize);
    return bytes;
}

}  // namespace base
