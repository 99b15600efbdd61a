#include "base/safe_path.h"

#include <cstring>

#include "base/ascii.h"

namespace base {
namespace {

bool equalsIgnoringCase(const std::string& text, const char* word) {
    return toLowerAscii(text) == word;
}

// Windows maps these names to devices in any folder, whatever extension follows
// ("nul.txt", "CON .log"); the superscript digits count as digits for COM and LPT.
bool isDeviceName(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (const char* name : {"con", "prn", "aux", "nul", "conin$", "conout$"})
        if (equalsIgnoringCase(stem, name)) return true;
    if (stem.size() < 4) return false;
    const std::string prefix = stem.substr(0, 3), digit = stem.substr(3);
    if (!equalsIgnoringCase(prefix, "com") && !equalsIgnoringCase(prefix, "lpt")) return false;
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
           digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

bool isSafeComponent(const std::string& component) {
    if (component.empty() || component == "." || component == "..") return false;
    for (const char c : component) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || std::strchr("<>:\"|?*", c)) return false;
    }
    const char last = component.back();
    if (last == '.' || last == ' ') return false;
    return !isDeviceName(component);
}

}  // namespace

bool isSafeRelativePath(const std::string& utf8Path) {
    // A leading separator (root, UNC, \\?\) shows up as an empty first component; a drive
    // as a ':' in the first one.
    size_t start = 0;
    for (;;) {
        const size_t end = utf8Path.find_first_of("/\\", start);
        if (!isSafeComponent(utf8Path.substr(start, end - start))) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

}  // namespace base
