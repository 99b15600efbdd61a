// The window's client object as a screen reader gets it: a real window answers WM_GETOBJECT,
// and the test asks the system for the object and reads the screens back through it.

#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "tests/support/child_variant.h"
#include "ui/access_tree.h"
#include "ui/accessible.h"
#include "ui/buttons.h"

using namespace ui;

namespace {

const wchar_t* const kTestClass = L"OrvaneAccessibleTest";
const AccessSource* servedSource = nullptr;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_GETOBJECT && servedSource) {
        const LRESULT answer = answerGetObject(window, wParam, lParam, *servedSource);
        if (answer) return answer;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

using testsupport::childVariant;

render::Frame screen(int32_t which, const InstallLocation& location = {}) {
    render::Frame frame;
    frame.screen = which;
    frame.buttons = layoutButtons(which, location);
    return frame;
}

class AccessibleTest : public ::testing::Test {
protected:
    // The window's client area starts here, in screen pixels.
    static constexpr int kLeft = 100, kTop = 50;

    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        source.items = [this] { return accessTree(frame); };
        source.scale = [this] { return scale; };
        source.press = [this](int32_t id) { pressed.push_back(id); };
        source.focus = [this](int32_t id) { focused.push_back(id); };
        servedSource = &source;
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = testWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kTestClass;
        RegisterClassExW(&windowClass);  // fails harmlessly from the second test on
        window = CreateWindowExW(0, kTestClass, L"Orvane Online Setup", WS_POPUP | WS_VISIBLE, kLeft, kTop,
                                 1140, 750, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(window, nullptr) << "no window: under Wine this needs an X display or the null "
                                      "display driver that scripts/wine-run sets up";
        ASSERT_EQ(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             reinterpret_cast<void**>(client.GetAddressOf())),
                  S_OK);
    }
    void TearDown() override {
        client.Reset();
        if (window) DestroyWindow(window);
        servedSource = nullptr;
        CoUninitialize();
    }

    // A text property of child `id`, freed at once; `hr` gets the call's result.
    std::wstring text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), long id,
                      HRESULT* hr = nullptr) {
        BSTR got = nullptr;
        const HRESULT result = (client.Get()->*get)(childVariant(id), &got);
        if (hr) *hr = result;
        std::wstring copy = got ? std::wstring(got, SysStringLen(got)) : std::wstring();
        SysFreeString(got);
        return copy;
    }
    std::wstring name(long id, HRESULT* hr = nullptr) { return text(&IAccessible::get_accName, id, hr); }
    std::wstring value(long id, HRESULT* hr = nullptr) { return text(&IAccessible::get_accValue, id, hr); }
    long number(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), long id) {
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ((client.Get()->*get)(childVariant(id), &out), S_OK);
        EXPECT_EQ(out.vt, VT_I4);
        return out.lVal;
    }
    long role(long id) { return number(&IAccessible::get_accRole, id); }
    long state(long id) { return number(&IAccessible::get_accState, id); }
    long childCount() {
        long count = -1;
        EXPECT_EQ(client->get_accChildCount(&count), S_OK);
        return count;
    }
    // The child id of the item named `wanted`, found through the object; 0: none.
    long childNamed(const std::wstring& wanted) {
        for (long id = 1; id <= childCount(); ++id)
            if (name(id) == wanted) return id;
        ADD_FAILURE() << "no child named " << testing::PrintToString(wanted);
        return 0;
    }

    render::Frame frame;
    float scale = 1.0f;
    std::vector<int32_t> pressed, focused;
    AccessSource source;
    HWND window = nullptr;
    Microsoft::WRL::ComPtr<IAccessible> client;
};

}  // namespace

TEST_F(AccessibleTest, ReadsEachScreenAndActsOnItsButtons) {
    EXPECT_EQ(name(CHILDID_SELF), L"Orvane Online Setup");
    EXPECT_EQ(role(CHILDID_SELF), ROLE_SYSTEM_CLIENT);

    // Choose, with no location yet: the tree's items in order, and INSTALL out of reach.
    frame = screen(render::kScreenChoose);
    const std::vector<AccessItem> items = accessTree(frame);
    ASSERT_EQ(childCount(), static_cast<long>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].name);
        EXPECT_EQ(name(childIdOf(i)), items[i].name);
        EXPECT_EQ(role(childIdOf(i)), items[i].role);
        EXPECT_EQ(state(childIdOf(i)), items[i].state);
    }
    const long install = childNamed(L"INSTALL");
    EXPECT_TRUE(state(install) & STATE_SYSTEM_UNAVAILABLE);
    HRESULT hr = S_OK;
    EXPECT_EQ(text(&IAccessible::get_accDefaultAction, install, &hr), L"");
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(client->accDoDefaultAction(childVariant(install)), DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(pressed.empty());
    name(static_cast<long>(items.size()) + 1, &hr);
    EXPECT_EQ(hr, E_INVALIDARG);

    // Working: the bar's percent; while busy no number and a busy bar.
    frame = screen(render::kScreenWorking);
    frame.status = L"Downloading client...";
    frame.progress = 0.46f;
    const long bar = childNamed(L"Progress");
    EXPECT_EQ(role(bar), ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(value(bar), L"46%");
    frame.busy = true;
    EXPECT_EQ(value(bar, &hr), L"");
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(state(bar) & STATE_SYSTEM_BUSY);

    // Failed: the whole error as the details' value.
    frame = screen(render::kScreenFailed);
    frame.error = L"Install failed: the update server answered 503 (Service Unavailable).";
    EXPECT_EQ(value(childNamed(L"Details")), frame.error);

    // Done: PLAY's action and shortcut; a reader presses it and moves the focus to it.
    frame = screen(render::kScreenDone);
    frame.installDir = L"C:\\Games\\OrvaneOnline";
    const long play = childNamed(L"PLAY");
    EXPECT_EQ(text(&IAccessible::get_accKeyboardShortcut, play), L"Alt+P");
    EXPECT_EQ(text(&IAccessible::get_accDefaultAction, play), L"Press");
    EXPECT_EQ(client->accDoDefaultAction(childVariant(play)), S_OK);
    EXPECT_EQ(pressed, std::vector<int32_t>{render::kButtonPlay});
    EXPECT_EQ(client->accSelect(SELFLAG_TAKEFOCUS, childVariant(play)), S_OK);
    EXPECT_EQ(focused, std::vector<int32_t>{render::kButtonPlay});
}

TEST_F(AccessibleTest, PlacesFindsAndFocusesItemsInScreenPixels) {
    scale = 1.5f;
    frame = screen(render::kScreenDone);
    frame.installDir = L"C:\\Games\\OrvaneOnline";
    const long play = childNamed(L"PLAY");

    // PLAY spans 264..496 x 392..442 units.
    long left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(client->accLocation(&left, &top, &width, &height, childVariant(play)), S_OK);
    EXPECT_EQ(left, kLeft + 396);
    EXPECT_EQ(top, kTop + 588);
    EXPECT_EQ(width, 348);
    EXPECT_EQ(height, 75);
    VARIANT hit;
    ASSERT_EQ(client->accHitTest(kLeft + 570, kTop + 625, &hit), S_OK);
    EXPECT_EQ(hit.vt, VT_I4);
    EXPECT_EQ(hit.lVal, play);
    ASSERT_EQ(client->accHitTest(kLeft + 5, kTop + 745, &hit), S_OK);  // on no item
    EXPECT_EQ(hit.lVal, CHILDID_SELF);
    EXPECT_EQ(client->accHitTest(kLeft - 5, kTop, &hit), S_FALSE);  // beside the window
    EXPECT_EQ(hit.vt, VT_EMPTY);

    // From the first child to the last and no further.
    VARIANT to;
    ASSERT_EQ(client->accNavigate(NAVDIR_LASTCHILD, childVariant(CHILDID_SELF), &to), S_OK);
    EXPECT_EQ(to.lVal, childCount());
    EXPECT_EQ(client->accNavigate(NAVDIR_NEXT, childVariant(to.lVal), &to), S_FALSE);
    EXPECT_EQ(client->accNavigate(NAVDIR_FIRSTCHILD, childVariant(CHILDID_SELF), &to), S_OK);
    EXPECT_EQ(to.lVal, 1);
    EXPECT_EQ(client->accNavigate(NAVDIR_PREVIOUS, childVariant(1), &to), S_FALSE);

    // The focus: on PLAY while the window has it, else on the client itself.
    SetFocus(window);
    ASSERT_EQ(GetFocus(), window);
    frame.focus = render::kButtonPlay;
    VARIANT focus;
    ASSERT_EQ(client->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.lVal, play);
    EXPECT_TRUE(state(play) & STATE_SYSTEM_FOCUSED);
    EXPECT_EQ(state(CHILDID_SELF), STATE_SYSTEM_FOCUSABLE);
    frame.focus = render::kButtonNone;
    ASSERT_EQ(client->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.lVal, CHILDID_SELF);
    EXPECT_EQ(state(CHILDID_SELF), STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);
}

TEST_F(AccessibleTest, AWindowThatIsGoneAnswersDisconnected) {
    frame = screen(render::kScreenDone);
    DestroyWindow(window);
    window = nullptr;
    long count = 0;
    EXPECT_EQ(client->get_accChildCount(&count), RPC_E_DISCONNECTED);
    HRESULT hr = S_OK;
    name(CHILDID_SELF, &hr);
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);
    EXPECT_EQ(client->accDoDefaultAction(childVariant(1)), RPC_E_DISCONNECTED);
    EXPECT_TRUE(pressed.empty());
}
