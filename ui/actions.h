#pragma once
// What the window does: screen changes, the buttons' actions, starting and ending the work.
// Window thread only. With no window (tests) nothing is drawn and no dialog is shown.

#include <cstdint>
#include <string>

#include "render/frame.h"
#include "ui/window_state.h"

namespace ui {

// Rebuilds the buttons for the current screen.
void layOut(WindowState& state);
// Invalidates the whole window, without erasing.
void repaint(const WindowState& state);
void setScreen(WindowState& state, int32_t screen);

// Takes `folder` as the chosen location (the Browse result or --install=).
void chooseLocation(WindowState& state, const std::wstring& folder);

// Fetches the manifest in the background while the splash shows, so that the choose screen
// can tell the client's size and the first run need not fetch it again. Not for a removal.
void prefetchManifest(WindowState& state);

// The prefetched manifest has come (or failed to): its size, the drive's free space now, and
// the Start button that follows from them.
void manifestArrived(WindowState& state);

// The window is active again: the player may have freed room on the drive meanwhile.
void windowActivated(WindowState& state);

// Runs the action of button `id`.
void runButtonAction(WindowState& state, int32_t id);

// Close, Escape or WM_CLOSE: ends the program, after asking "Cancel the installation?" (or
// "Cancel the removal?") while the worker runs. True when it posted the quit message.
bool closeRequest(WindowState& state);

// The working screen, a fresh progress record, and the worker (the install's, or the
// removal's) on its own thread. A thread that cannot be made shows the failed screen instead
// of ending the program.
void startInstall(WindowState& state);

// The worker's finished message: the failed screen with its error, or the done screen.
void workerFinished(WindowState& state);

// One 16 ms tick at `now`: ends the splash when due (starting the work when it should start
// by itself), eases the bar (sets it, when the player turned animations off), measures speed,
// turns the spinner.
void tick(WindowState& state, uint32_t now);

// What the next frame shows: the window state and a snapshot of the current run.
render::Frame buildFrame(const WindowState& state);

}  // namespace ui
