#include "ui/buttons.h"

#include <cwctype>

#include "base/disk_space.h"
#include "lang/texts.h"

namespace ui {

namespace {

render::Button makeButton(int32_t id, int32_t left, int32_t top, int32_t right, int32_t bottom,
                          std::wstring label, bool primary, bool enabled) {
    render::Button button;
    // Every label's first letter is its own on its screen, in every language.
    for (wchar_t c : label) {
        if (iswalpha(c)) {
            button.accessKey = static_cast<wchar_t>(towupper(c));
            break;
        }
    }
    button.left = left;
    button.top = top;
    button.right = right;
    button.bottom = bottom;
    button.id = id;
    button.label = std::move(label);
    button.primary = primary;
    button.enabled = enabled;
    return button;
}

render::Button primaryButton(int32_t id, std::wstring label, bool enabled) {
    return makeButton(id, 264, 392, 496, 442, std::move(label), true, enabled);
}

}  // namespace

std::vector<render::Button> layoutButtons(int32_t screen, const InstallLocation& location,
                                          bool removal, lang::Language language,
                                          std::optional<uint64_t> clientBytes) {
    using lang::Text;
    const auto say = [language](Text key) { return lang::text(language, key); };
    std::vector<render::Button> buttons;
    if (screen == render::kScreenSplash) return buttons;
    buttons.push_back(makeButton(render::kButtonClose, 716, 14, 746, 44, L"", false, true));
    switch (screen) {
    case render::kScreenChoose: {
        buttons.push_back(makeButton(render::kButtonBrowse, 600, 206, 716, 246, say(Text::kButtonBrowse), false, true));
        const bool fits = location.installationExists ||
                          base::roomFor(clientBytes, location.freeBytes) != base::Room::kShort;
        buttons.push_back(primaryButton(render::kButtonStart,
                                        say(location.installationExists ? Text::kButtonRepair : Text::kButtonInstall),
                                        !location.chosen.empty() && fits));
        break;
    }
    case render::kScreenDone:
    case render::kScreenFailed:
        // After a removal there is nothing to play, and a second try is the same command.
        if (removal)
            buttons.push_back(primaryButton(render::kButtonFinish, say(Text::kButtonClose), true));
        else if (screen == render::kScreenDone)
            buttons.push_back(primaryButton(render::kButtonPlay, say(Text::kButtonPlay), true));
        else
            buttons.push_back(primaryButton(render::kButtonRetry, say(Text::kButtonTryAgain), true));
        break;
    default:
        break;
    }
    return buttons;
}

int32_t hitTest(const std::vector<render::Button>& buttons, int32_t x, int32_t y, float scale) {
    const int32_t ux = static_cast<int32_t>(static_cast<float>(x) / scale);
    const int32_t uy = static_cast<int32_t>(static_cast<float>(y) / scale);
    for (const render::Button& button : buttons) {
        if (button.enabled && button.left <= ux && ux < button.right && button.top <= uy &&
            uy < button.bottom)
            return button.id;
    }
    return render::kButtonNone;
}

}  // namespace ui
