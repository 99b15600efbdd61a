#include "ui/announcer.h"

#include <oleacc.h>

#include <algorithm>

#include "render/screen_text.h"
#include "ui/access_tree.h"
#include "ui/accessible.h"

namespace ui {

namespace {

// The child id of the first item `match` accepts; CHILDID_SELF when none does.
template <typename Match>
long childWhere(const std::vector<AccessItem>& items, Match match) {
    for (size_t i = 0; i < items.size(); ++i)
        if (match(items[i])) return childIdOf(i);
    return CHILDID_SELF;
}

}  // namespace

std::vector<AccessEvent> Announcer::next(const render::Frame& frame, uint32_t now) {
    std::vector<AccessEvent> events;
    const std::vector<AccessItem> items = accessTree(frame);
    const long focusChild = childWhere(items, [&](const AccessItem& item) {
        return item.buttonId != render::kButtonNone && item.buttonId == frame.focus;
    });
    const std::wstring percent = frame.screen == render::kScreenWorking ? render::percentText(frame) : L"";
    const bool choosing = frame.screen == render::kScreenChoose;
    const std::wstring note = choosing ? render::folderNoteText(frame) : L"";
    const auto start = std::find_if(frame.buttons.begin(), frame.buttons.end(),
                                    [](const render::Button& b) { return b.id == render::kButtonStart; });
    const bool startEnabled = start != frame.buttons.end() && start->enabled;
    if (!told_ || frame.screen != screen_) {
        events.push_back({EVENT_OBJECT_REORDER, CHILDID_SELF});
        // The outcome is said at once, before the button that now has the focus.
        if (frame.screen == render::kScreenDone || frame.screen == render::kScreenFailed) {
            const long outcome = childWhere(items, [](const AccessItem& item) {
                return item.role == ROLE_SYSTEM_STATICTEXT || item.role == ROLE_SYSTEM_TEXT;
            });
            events.push_back({EVENT_SYSTEM_ALERT, outcome});
        }
        if (frame.focus != render::kButtonNone) events.push_back({EVENT_OBJECT_FOCUS, focusChild});
        told_ = true;
        screen_ = frame.screen;
        focus_ = frame.focus;
        status_ = frame.status;
        percent_ = percent;
        note_ = note;
        startEnabled_ = startEnabled;
        valueAt_ = now;
        return events;
    }
    if (frame.focus != focus_) {
        focus_ = frame.focus;
        if (frame.focus != render::kButtonNone) events.push_back({EVENT_OBJECT_FOCUS, focusChild});
    }
    if (choosing && note != note_) {
        note_ = note;
        const long child = childWhere(items, [&](const AccessItem& item) { return item.name == note; });
        events.push_back({EVENT_OBJECT_NAMECHANGE, child});
        if (render::noteWarns(frame)) events.push_back({EVENT_SYSTEM_ALERT, child});
    }
    if (choosing && startEnabled != startEnabled_) {
        startEnabled_ = startEnabled;
        events.push_back({EVENT_OBJECT_STATECHANGE, childWhere(items, [](const AccessItem& item) {
                              return item.buttonId == render::kButtonStart;
                          })});
    }
    if (frame.screen != render::kScreenWorking) return events;
    if (frame.status != status_) {
        status_ = frame.status;
        const long status = childWhere(items, [&](const AccessItem& item) {
            return item.role == ROLE_SYSTEM_STATICTEXT && item.name == frame.status;
        });
        if (status != CHILDID_SELF) events.push_back({EVENT_OBJECT_NAMECHANGE, status});
    }
    if (percent != percent_ && now - valueAt_ >= kValueEventMs) {
        percent_ = percent;
        valueAt_ = now;
        events.push_back({EVENT_OBJECT_VALUECHANGE,
                          childWhere(items, [](const AccessItem& item) { return item.role == ROLE_SYSTEM_PROGRESSBAR; })});
    }
    return events;
}

}  // namespace ui
