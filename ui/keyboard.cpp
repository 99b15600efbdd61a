#include "ui/keyboard.h"

#include <algorithm>

namespace ui {

namespace {

const render::Button* find(const std::vector<render::Button>& buttons, int32_t id) {
    for (const render::Button& button : buttons)
        if (button.id == id && id != render::kButtonNone) return &button;
    return nullptr;
}

}  // namespace

std::vector<int32_t> focusOrder(const std::vector<render::Button>& buttons) {
    std::vector<const render::Button*> enabled;
    for (const render::Button& button : buttons)
        if (button.enabled) enabled.push_back(&button);
    std::stable_sort(enabled.begin(), enabled.end(), [](const render::Button* a, const render::Button* b) {
        return a->top != b->top ? a->top < b->top : a->left < b->left;
    });
    std::vector<int32_t> order;
    for (const render::Button* button : enabled) order.push_back(button->id);
    return order;
}

int32_t initialFocus(const std::vector<render::Button>& buttons) {
    int32_t other = render::kButtonNone, close = render::kButtonNone;
    for (const render::Button& button : buttons) {
        if (!button.enabled) continue;
        if (button.primary) return button.id;
        if (button.id == render::kButtonClose)
            close = button.id;
        else if (other == render::kButtonNone)
            other = button.id;
    }
    return other != render::kButtonNone ? other : close;
}

int32_t keptFocus(const std::vector<render::Button>& buttons, int32_t focus) {
    const render::Button* button = find(buttons, focus);
    return button && button->enabled ? focus : initialFocus(buttons);
}

int32_t nextFocus(const std::vector<render::Button>& buttons, int32_t focus, bool backward) {
    const std::vector<int32_t> order = focusOrder(buttons);
    if (order.empty()) return render::kButtonNone;
    const auto at = std::find(order.begin(), order.end(), focus);
    if (at == order.end()) return backward ? order.back() : order.front();
    const size_t index = static_cast<size_t>(at - order.begin());
    const size_t count = order.size();
    return order[backward ? (index + count - 1) % count : (index + 1) % count];
}

KeyCommand keyCommand(UINT key, bool shift, const std::vector<render::Button>& buttons, int32_t focus) {
    KeyCommand command;
    switch (key) {
    case VK_TAB:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN: {
        const bool backward = key == VK_TAB ? shift : key == VK_LEFT || key == VK_UP;
        command.button = nextFocus(buttons, focus, backward);
        if (command.button != render::kButtonNone) command.action = KeyAction::kMoveFocus;
        return command;
    }
    case VK_RETURN:
    case VK_SPACE: {
        const render::Button* button = find(buttons, focus);
        if (button && button->enabled) command = {KeyAction::kPress, focus};
        return command;
    }
    case VK_ESCAPE: command.action = KeyAction::kClose; return command;
    default: break;
    }
    if (key < 'A' || key > 'Z') return command;
    for (const render::Button& button : buttons) {
        if (button.enabled && button.accessKey == static_cast<wchar_t>(key))
            return {KeyAction::kPress, button.id};
    }
    return command;
}

bool cuesAfterUiState(bool cues, WPARAM wParam) {
    if (!(HIWORD(wParam) & UISF_HIDEFOCUS)) return cues;
    switch (LOWORD(wParam)) {
    case UIS_CLEAR: return true;
    case UIS_SET: return false;
    default: return cues;
    }
}

}  // namespace ui
