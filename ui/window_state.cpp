#include "ui/window_state.h"

#include "lang/texts.h"
#include "render/painter.h"
#include "ui/taskbar.h"

#ifndef ORVANE_MANIFEST_URL
#error "ORVANE_MANIFEST_URL must be set by the build"
#endif

namespace ui {

WindowState::WindowState() : manifestUrl(ORVANE_MANIFEST_URL), taskbar(std::make_unique<TaskbarButton>()) {}
WindowState::~WindowState() = default;

std::wstring windowTitle(lang::Language language) { return lang::text(language, lang::Text::kWindowTitle); }

WindowState& windowState() {
    static WindowState state;
    return state;
}

}  // namespace ui
