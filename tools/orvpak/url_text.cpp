#include "tools/orvpak/url_text.h"

#include "tools/orvpak/entry_path.h"

namespace orvpak {
namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

}  // namespace

bool normalizeBaseUrl(const std::string& url, std::string& normalized, std::string& error) {
    const std::string lowered = toLowerAscii(url);
    size_t schemeEnd = 0;
    if (lowered.compare(0, 7, "http://") == 0)
        schemeEnd = 7;
    else if (lowered.compare(0, 8, "https://") == 0)
        schemeEnd = 8;
    else {
        error = "--base-url must start with http:// or https:// (got " + quotedPath(url) + ")";
        return false;
    }
    for (const char c : url) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '?' || c == '#') {
            error = "--base-url " + quotedPath(url) +
                    " may hold only printable ASCII without spaces, '?' or '#' "
                    "(percent-encode anything else)";
            return false;
        }
    }
    std::string trimmed = url;
    while (trimmed.size() > schemeEnd && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed.size() == schemeEnd || trimmed[schemeEnd] == '/') {
        error = "--base-url " + quotedPath(url) + " names no host (e.g. https://cdn.example.com)";
        return false;
    }
    normalized = trimmed;
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
