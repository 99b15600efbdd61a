#pragma once
// Tells screen readers what changed in the window (NotifyWinEvent): a new screen, the focus,
// the status line and the percent. The decisions are here, apart from the call, so tests
// read them without a window.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "render/frame.h"

namespace ui {

struct AccessEvent {
    DWORD event = 0;  // EVENT_OBJECT_* / EVENT_SYSTEM_*
    long child = 0;   // CHILDID_SELF or an item's child id (ui/accessible.h)
    bool operator==(const AccessEvent& other) const { return event == other.event && child == other.child; }
};

// At most one value event a second: a reader that spoke every percent would say nothing else.
constexpr uint32_t kValueEventMs = 1000;

class Announcer {
public:
    // The events that bring a reader from what it was last told to `frame`, at tick `now`.
    // A new screen: the client reorders, an outcome is an alert, and the focus lands. On the
    // same screen: focus moves, status renames, percent changes (throttled; a change held
    // back is told on a later call); the choose screen's folder note renames when the room
    // for the client becomes known, an alert when it does not fit, and Start changes state.
    std::vector<AccessEvent> next(const render::Frame& frame, uint32_t now);

private:
    bool told_ = false;
    int32_t screen_ = -1;
    int32_t focus_ = render::kButtonNone;
    std::wstring status_, percent_, note_;
    bool startEnabled_ = false;
    uint32_t valueAt_ = 0;
};

}  // namespace ui
