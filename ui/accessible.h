#pragma once
// The window's client area as an Active Accessibility object: screen readers ask for it with
// WM_GETOBJECT and find the items of ui/access_tree.h as its simple children (child id 1 is
// the first item). The object reads the tree afresh on every call, so it never goes stale; a
// window that is gone answers as disconnected.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "ui/access_tree.h"

namespace ui {

// Where the object gets what it serves. Called on the window's thread (the object lives in
// the window thread's apartment).
struct AccessSource {
    std::function<std::vector<AccessItem>()> items;  // the current tree
    std::function<float()> scale;                    // window pixels per 96-dpi unit
    std::function<void(int32_t buttonId)> press;     // a reader's default action
    std::function<void(int32_t buttonId)> focus;     // a reader moving the focus
};

// The answer to WM_GETOBJECT: the client object for OBJID_CLIENT, else 0 so that the caller
// hands the message to DefWindowProc.
LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam, const AccessSource& source) noexcept;

// The child id events and clients use for item `index` of the tree.
constexpr long childIdOf(size_t index) { return static_cast<long>(index) + 1; }

}  // namespace ui
