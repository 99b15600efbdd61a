#pragma once
// The main window's procedure: a switch that hands each message to a short handler.

#include <windows.h>

namespace ui {

// A screen reader pressed the button whose id is wParam; posted, so that what the button does
// (a dialog, say) runs in the window's own loop and not inside the reader's call.
constexpr UINT kMsgPress = WM_APP + 3;
// The manifest fetched in the background has come, or failed to (ui/actions.h).
constexpr UINT kMsgManifest = WM_APP + 4;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

}  // namespace ui
