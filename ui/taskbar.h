#pragma once
// The window's taskbar button shows the work: its progress while Install, Repair or a
// removal runs, red when it failed, nothing otherwise.

#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <cstdint>

#include "render/frame.h"

namespace ui {

struct TaskbarState {
    TBPFLAG flag = TBPF_NOPROGRESS;
    uint64_t done = 0, total = 0;  // of the progress value; 0 / 0 without one
    bool operator==(const TaskbarState& o) const { return flag == o.flag && done == o.done && total == o.total; }
};

// What the button shows for `frame`: a spinner-like pulse before anything is counted, the
// bar in tenths of a percent while working, a full red bar after a failure.
TaskbarState taskbarState(const render::Frame& frame);

// The taskbar's list for one window, once the shell has made its button.
class TaskbarButton {
public:
    // The shell's "TaskbarButtonCreated" message, registered once.
    static UINT createdMessage();

    // The button exists (again, after an explorer restart): shows what was last asked for.
    void created(HWND window);
    // Shows `state` when it differs from what the button shows.
    void show(const TaskbarState& state);
    // Lets the taskbar's list go; before COM ends on this thread, which may unload its DLL.
    void release();

private:
    void apply();

    Microsoft::WRL::ComPtr<ITaskbarList3> list_;
    HWND window_ = nullptr;
    TaskbarState wanted_, shown_;
    bool applied_ = false;
};

}  // namespace ui
