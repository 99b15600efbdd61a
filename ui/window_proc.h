#pragma once
// The main window's procedure: a switch that hands each message to a short handler.

#include <windows.h>

namespace ui {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

}  // namespace ui
