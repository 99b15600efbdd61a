#include "ui/taskbar.h"

#include <algorithm>
#include <cmath>

namespace ui {

TaskbarState taskbarState(const render::Frame& frame) {
    TaskbarState state;
    if (frame.screen == render::kScreenWorking) {
        if (frame.busy) {
            state.flag = TBPF_INDETERMINATE;
            return state;
        }
        state.flag = TBPF_NORMAL;
        state.done = static_cast<uint64_t>(std::lround(std::clamp(frame.progress, 0.0f, 1.0f) * 1000.0f));
        state.total = 1000;
    } else if (frame.screen == render::kScreenFailed) {
        state.flag = TBPF_ERROR;
        state.done = state.total = 1000;
    }
    return state;
}

UINT TaskbarButton::createdMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

void TaskbarButton::created(HWND window) {
    window_ = window;
    list_.Reset();
    Microsoft::WRL::ComPtr<ITaskbarList3> list;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&list))) ||
        FAILED(list->HrInit()))
        return;
    list_ = list;
    applied_ = false;
    apply();
}

void TaskbarButton::show(const TaskbarState& state) {
    wanted_ = state;
    if (!applied_ || !(shown_ == wanted_)) apply();
}

void TaskbarButton::release() {
    list_.Reset();
    window_ = nullptr;
}

void TaskbarButton::apply() {
    if (!list_ || !window_) return;
    // A value implies the normal state: the flag goes last so that error or paused stays.
    if (wanted_.total > 0) list_->SetProgressValue(window_, wanted_.done, wanted_.total);
    list_->SetProgressState(window_, wanted_.flag);
    shown_ = wanted_;
    applied_ = true;
}

}  // namespace ui
