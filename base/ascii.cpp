#include "base/ascii.h"

namespace base {
namespace {

template <typename Text>
Text lowered(Text text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<typename Text::value_type>(c - 'A' + 'a');
    return text;
}

}  // namespace

std::string toLowerAscii(std::string text) { return lowered(std::move(text)); }
std::wstring toLowerAscii(std::wstring text) { return lowered(std::move(text)); }

}  // namespace base
