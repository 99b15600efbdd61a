#include "tools/orvpak/url_text.h"

#include <algorithm>

#include "tools/orvpak/entry_path.h"

namespace orvpak {
namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

// `url` (normalized) with its scheme and host in lower case: two spellings of one host match.
std::string hostFolded(const std::string& url) {
    const size_t hostStart = url.find("://") + 3;
    const size_t pathStart = std::min(url.find('/', hostStart), url.size());
    return toLowerAscii(url.substr(0, pathStart)) + url.substr(pathStart);
}

}  // namespace

bool normalizeBaseUrl(const std::string& url, std::string& normalized, std::string& error,
                      const std::string& option) {
    const std::string lowered = toLowerAscii(url);
    size_t schemeEnd = 0;
    if (lowered.compare(0, 7, "http://") == 0)
        schemeEnd = 7;
    else if (lowered.compare(0, 8, "https://") == 0)
        schemeEnd = 8;
    else {
        error = option + " must start with http:// or https:// (got " + quotedPath(url) + ")";
        return false;
    }
    for (const char c : url) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '?' || c == '#') {
            error = option + " " + quotedPath(url) +
                    " may hold only printable ASCII without spaces, '?' or '#' "
                    "(percent-encode anything else)";
            return false;
        }
    }
    std::string trimmed = url;
    while (trimmed.size() > schemeEnd && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed.size() == schemeEnd || trimmed[schemeEnd] == '/') {
        error = option + " " + quotedPath(url) + " names no host (e.g. https://cdn.example.com)";
        return false;
    }
    normalized = trimmed;
    return true;
}

bool normalizeMirrors(const std::string& baseUrl, const std::vector<std::string>& mirrors,
                      std::vector<std::string>& normalized, std::string& error) {
    std::vector<std::string> taken{hostFolded(baseUrl)};
    std::vector<std::string> result;
    for (const std::string& mirror : mirrors) {
        std::string url;
        if (!normalizeBaseUrl(mirror, url, error, "--mirror")) return false;
        const std::string folded = hostFolded(url);
        const auto seen = std::find(taken.begin(), taken.end(), folded);
        if (seen == taken.begin()) {
            error = "--mirror " + quotedPath(mirror) +
                    " is the base URL itself: mirrors are the other hosts serving OUT_DIR";
            return false;
        }
        if (seen != taken.end()) {
            error = "--mirror " + quotedPath(mirror) + " is given twice";
            return false;
        }
        taken.push_back(folded);
        result.push_back(url);
    }
    normalized = std::move(result);
    return true;
}

std::string percentEncodePath(const std::string& path) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size() * 3);
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || isUnreserved(u)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[u >> 4];
            encoded += kDigits[u & 0x0F];
        }
    }
    return encoded;
}

}  // namespace orvpak
