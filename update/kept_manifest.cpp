#include "update/kept_manifest.h"

#include <cstdint>
#include <iterator>
#include <vector>

#include "base/hex.h"
#include "base/long_path.h"
#include "base/small_file.h"
#include "update/sha256.h"

namespace pcupd {
namespace {

// "ORVKEEP1\n", then one "name value\n" line per field in this order, an empty line, and the
// manifest's bytes to the end of the file.
constexpr char kMagic[] = "ORVKEEP1";
const char* const kFields[] = {"url", "etag", "modified", "signature", "sha256", "size"};
constexpr uint64_t kHeadLimit = 16384;

std::string sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.finish();
}

std::wstring keptPath(const std::wstring& installDir) {
    return installDir + L"\\" + kKeptManifestFileName;
}

bool parseSize(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

}  // namespace

bool loadKeptManifest(const std::wstring& installDir, const std::string& url, KeptManifest& kept) {
    kept = KeptManifest();
    if (installDir.empty()) return false;
    std::string data;
    if (!base::readSmallFile(keptPath(installDir), static_cast<uint64_t>(kMaxHttpGetBody) + kHeadLimit, data))
        return false;
    size_t at = 0;
    const auto line = [&data, &at](std::string& text) {
        const size_t end = data.find('\n', at);
        if (end == std::string::npos) return false;
        text = data.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string text;
    if (!line(text) || text != kMagic) return false;
    std::vector<std::string> values;
    for (const char* name : kFields) {
        const std::string prefix = std::string(name) + " ";
        if (!line(text) || text.compare(0, prefix.size(), prefix) != 0) return false;
        values.push_back(text.substr(prefix.size()));
    }
    std::vector<uint8_t> signature;
    uint64_t size = 0;
    if (!line(text) || !text.empty() || !base::fromHex(values[3], signature) ||
        !parseSize(values[5], size) || data.size() - at != size)
        return false;
    kept.url = values[0];
    kept.validators = {values[1], values[2]};
    kept.signature.assign(signature.begin(), signature.end());
    kept.body = data.substr(at);
    kept.sha256 = sha256Hex(kept.body);
    if (kept.url == url && !kept.sha256.empty() && kept.sha256 == values[4]) return true;
    kept = KeptManifest();
    return false;
}

bool saveKeptManifest(const std::wstring& installDir, KeptManifest kept) {
    if (installDir.empty()) return false;
    kept.sha256 = sha256Hex(kept.body);
    const std::string values[] = {kept.url, kept.validators.etag, kept.validators.lastModified,
                                  base::toHex(reinterpret_cast<const uint8_t*>(kept.signature.data()),
                                              kept.signature.size()),
                                  kept.sha256, std::to_string(kept.body.size())};
    std::string head = std::string(kMagic) + "\n";
    for (size_t i = 0; i < std::size(kFields); ++i) {
        // A value that would break its line is not kept (a URL or validator never has one).
        if (values[i].find('\n') != std::string::npos) return false;
        head += std::string(kFields[i]) + " " + values[i] + "\n";
    }
    head += "\n";
    if (kept.sha256.empty() || head.size() > kHeadLimit) return false;
    base::createParentDirectories(keptPath(installDir));
    return base::replaceFile(keptPath(installDir), head + kept.body);
}

}  // namespace pcupd
