#include "ui/window_state.h"

#include "render/painter.h"
#include "ui/taskbar.h"

#ifndef ORVANE_MANIFEST_URL
#error "ORVANE_MANIFEST_URL must be set by the build"
#endif

namespace ui {

WindowState::WindowState() : manifestUrl(ORVANE_MANIFEST_URL), taskbar(std::make_unique<TaskbarButton>()) {}
WindowState::~WindowState() = default;

WindowState& windowState() {
    static WindowState state;
    return state;
}

}  // namespace ui
