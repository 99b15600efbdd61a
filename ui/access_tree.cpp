#include "ui/access_tree.h"

#include <windows.h>
#include <oleacc.h>

#include <algorithm>

#include "render/button_fit.h"
#include "render/screen_text.h"

namespace ui {

namespace {

using render::layout::Box;

void addText(std::vector<AccessItem>& items, const std::wstring& text, const Box& bounds) {
    if (text.empty()) return;
    AccessItem item;
    item.role = ROLE_SYSTEM_STATICTEXT;
    item.state = STATE_SYSTEM_READONLY;
    item.name = text;
    item.bounds = bounds;
    items.push_back(std::move(item));
}

void addChooseScreen(std::vector<AccessItem>& items, const render::Frame& frame) {
    namespace layout = render::layout;
    const float left = layout::kContentLeft, right = layout::kContentRight;
    addText(items, render::headingText(frame), {left, 70, right, 104});
    addText(items, render::adminNoteText(frame), {left, 110, right, 130});
    addText(items, lang::text(frame.language, lang::Text::kLocationFieldName, {render::locationText(frame)}),
            render::locationFieldBox(frame.buttons));
    addText(items, render::folderNoteText(frame), {left, 256, right, 278});
    if (frame.installationExists) addText(items, render::repairNoticeText(frame), {left, 278, right, 300});
    const std::vector<std::wstring> steps = render::stepTexts(frame);
    const float top = frame.installationExists ? 318 : 298;
    for (size_t i = 0; i < steps.size(); ++i) {
        const float x = left + 224.0f * static_cast<float>(i);
        addText(items, std::to_wstring(i + 1) + L". " + steps[i], {x, top, x + 224, top + 40});
    }
}

void addWorkingScreen(std::vector<AccessItem>& items, const render::Frame& frame) {
    namespace layout = render::layout;
    const Box& bar = layout::kProgressBar;
    addText(items, frame.status, {bar.left, layout::kStatusBaseline - 24, bar.right, layout::kStatusBaseline + 6});
    addText(items, frame.detail, {bar.left, layout::kDetailBaseline - 16, bar.right, layout::kDetailBaseline + 5});
    AccessItem progress;
    progress.role = ROLE_SYSTEM_PROGRESSBAR;
    progress.state = STATE_SYSTEM_READONLY;
    progress.name = lang::text(frame.language, frame.removal ? lang::Text::kRemovalProgressName : lang::Text::kProgressName);
    // While nothing is counted yet the bar has no value: a reader should not say "0%".
    progress.value = render::percentText(frame);
    if (frame.busy) progress.state |= STATE_SYSTEM_BUSY;
    progress.bounds = bar;
    items.push_back(std::move(progress));
    addText(items, render::bytesLineText(frame), {bar.left, layout::kBytesBaseline - 16, bar.right, layout::kBytesBaseline + 6});
}

void addDoneScreen(std::vector<AccessItem>& items, const render::Frame& frame) {
    namespace layout = render::layout;
    const float base = layout::kDoneHeadingBaseline;
    addText(items, render::headingText(frame), {100, base - 30, 660, base + 8});
    addText(items, render::doneLineText(frame), {100, base + 12, 660, base + 38});
    const std::wstring caption = render::folderCaptionText(frame);
    if (!caption.empty()) addText(items, caption + L" " + frame.installDir, layout::kInstalledIn);
    if (!frame.removal)
        addText(items, frame.doneNote, {layout::kInstalledIn.left, layout::kDoneNoteBaseline - 16,
                                        layout::kInstalledIn.right, layout::kDoneNoteBaseline + 6});
}

void addFailedScreen(std::vector<AccessItem>& items, const render::Frame& frame) {
    namespace layout = render::layout;
    const float base = layout::kFailedHeadingBaseline;
    addText(items, render::headingText(frame), {100, base - 28, 660, base + 8});
    // The error as text a reader can go through line by line and copy.
    AccessItem details;
    details.role = ROLE_SYSTEM_TEXT;
    details.state = STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE;
    details.name = lang::text(frame.language, lang::Text::kDetailsName);
    details.value = frame.error;
    details.bounds = layout::kErrorPanel;
    items.push_back(std::move(details));
}

AccessItem buttonItem(const render::Frame& frame, const render::Button& button) {
    AccessItem item;
    item.role = ROLE_SYSTEM_PUSHBUTTON;
    item.name = buttonName(button, frame.language);
    item.buttonId = button.id;
    item.bounds = {static_cast<float>(button.left), static_cast<float>(button.top),
                   static_cast<float>(button.right), static_cast<float>(button.bottom)};
    if (!button.enabled) {
        item.state = STATE_SYSTEM_UNAVAILABLE;
        return item;
    }
    item.state = STATE_SYSTEM_FOCUSABLE;
    if (frame.focus == button.id) item.state |= STATE_SYSTEM_FOCUSED;
    if (frame.hover == button.id) item.state |= STATE_SYSTEM_HOTTRACKED;
    if (button.primary) item.state |= STATE_SYSTEM_DEFAULT;
    item.defaultAction = lang::text(frame.language, lang::Text::kPressAction);
    if (button.accessKey) item.shortcut = std::wstring(L"Alt+") + button.accessKey;
    return item;
}

}  // namespace

std::wstring buttonName(const render::Button& button, lang::Language language) {
    return button.label.empty() && button.id == render::kButtonClose ? lang::text(language, lang::Text::kCloseWindowName)
                                                                     : button.label;
}

std::vector<AccessItem> accessTree(const render::Frame& frame) {
    std::vector<AccessItem> items;
    switch (frame.screen) {
    case render::kScreenSplash:
        addText(items, render::headingText(frame), render::layout::kSplashLogo);
        break;
    case render::kScreenChoose: addChooseScreen(items, frame); break;
    case render::kScreenWorking: addWorkingScreen(items, frame); break;
    case render::kScreenDone: addDoneScreen(items, frame); break;
    case render::kScreenFailed: addFailedScreen(items, frame); break;
    default: break;
    }
    for (const render::Button& button : frame.buttons) items.push_back(buttonItem(frame, button));
    // Reading order: from the top, left to right where two start level.
    std::stable_sort(items.begin(), items.end(), [](const AccessItem& a, const AccessItem& b) {
        return a.bounds.top != b.bounds.top ? a.bounds.top < b.bounds.top : a.bounds.left < b.bounds.left;
    });
    return items;
}

}  // namespace ui
