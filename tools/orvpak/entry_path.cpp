#include "tools/orvpak/entry_path.h"

#include "base/safe_path.h"

namespace orvpak {

bool isValidUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // UTF-16 surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return false;
        }
        i += length;
    }
    return true;
}

std::string entryPathProblem(const std::string& path) {
    if (path.empty()) return "is empty";
    if (path.size() > kMaxPathLength)
        return "is " + std::to_string(path.size()) + " bytes long, more than the " +
               std::to_string(kMaxPathLength) + " an archive path may have";
    if (!isValidUtf8(path)) return "is not valid UTF-8";
    // On Windows a backslash splits the name into folders the operator never made.
    if (path.find('\\') != std::string::npos) return "contains a backslash";
    if (!base::isSafeRelativePath(path))
        return "is a name Windows or the installer refuses (a reserved device name such as "
               "CON or NUL, a ':', one of <>\"|?*, a control character, an empty, '.' or '..' "
               "component, or a component ending in a dot or space)";
    return {};
}

std::string quotedPath(const std::string& path) {
    static const char kDigits[] = "0123456789ABCDEF";
    const bool utf8 = isValidUtf8(path);
    std::string quoted = "\"";
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && !utf8)) {
            quoted += "\\x";
            quoted += kDigits[u >> 4];
            quoted += kDigits[u & 0x0F];
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace orvpak
