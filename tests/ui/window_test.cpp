// The window's state machine driven through its procedure and handlers, with no window: the
// worker is replaced by a launcher the test controls, questions by a stub.

#include "render/gdiplus_headers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include "lang/numbers.h"
#include "render/painter.h"
#include "render/screen_text.h"
#include "base/disk_space.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"
#include "ui/access_tree.h"
#include "ui/actions.h"
#include "ui/animation.h"
#include "ui/main_window.h"
#include "ui/window_proc.h"
#include "ui/window_state.h"
#include "ui/work_progress.h"


using namespace ui;

namespace {

bool quitPosted() {
    MSG message;
    bool quit = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message == WM_QUIT) quit = true;
    return quit;
}

LPARAM at(int x, int y) { return MAKELPARAM(x, y); }

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        quitPosted();
        WindowState& s = windowState();
        s.screen = render::kScreenChoose;
        s.hover = 0;
        s.keyboardCues = false;
        s.autoStart = false;
        s.removal = false;
        s.language = lang::Language::kEnglish;
        s.error.clear();
        s.splashStart = 0;
        s.displayedProgress = 0.0f;
        s.work.reset();
        s.prefetch.reset();
        s.clientBytes.reset();
        s.launchWorker = [this](const installer::Job& job, const std::shared_ptr<WorkProgress>& work) {
            ++launches;
            launched = job;
            EXPECT_EQ(work, windowState().work);
        };
        s.confirmCancel = [this] { ++questions; return answer; };
        chooseLocation(s, temp.str());
        layOut(s);
    }
    void TearDown() override {
        if (windowState().window) DestroyWindow(windowState().window);
        windowState().window = nullptr;
        windowState().launchWorker = nullptr;
        windowState().confirmCancel = nullptr;
        windowState().work.reset();
        windowState().prefetch.reset();
        windowState().clientBytes.reset();
    }
    // The worker's end, as the real one reports it.
    void finish(const std::wstring& error = std::wstring(), int64_t kept = 0) {
        installer::Outcome outcome;
        outcome.succeeded = error.empty();
        outcome.error = error;
        outcome.keptFiles = kept;
        windowState().work->finished(outcome);
        windowProc(nullptr, kMsgFinished, 0, 0);
    }

    testsupport::TempDir temp;
    int launches = 0, questions = 0;
    bool answer = false;
    installer::Job launched;
};

}  // namespace

TEST_F(WindowTest, SplashEndsAndStartsTheWorkWhenAsked) {
    WindowState& s = windowState();
    s.screen = render::kScreenSplash;
    layOut(s);
    s.autoStart = true;
    const uint32_t start = GetTickCount();
    s.splashStart = start;
    windowProc(nullptr, WM_LBUTTONDOWN, 0, at(10, 10));  // a skip this early is ignored
    tick(s, start + 1499);
    EXPECT_EQ(s.screen, render::kScreenSplash);
    tick(s, start + 1500);
    EXPECT_EQ(s.screen, render::kScreenWorking);
    EXPECT_FALSE(s.autoStart);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(s.buttons.size(), 1u);
    EXPECT_EQ(launched.installDir, temp.str() + L"\\OrvaneOnline");
    EXPECT_EQ(launched.kind, installer::JobKind::kInstall);
    EXPECT_EQ(launched.manifestUrl, s.manifestUrl);
}

TEST_F(WindowTest, StartCreatesTheFolderAndRunsTheWorker) {
    WindowState& s = windowState();
    // Press on Browse, release on Start: the button under the release acts.
    windowProc(nullptr, WM_LBUTTONDOWN, 0, at(650, 220));
    windowProc(nullptr, WM_LBUTTONUP, 0, at(380, 410));
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(s.screen, render::kScreenWorking);
    EXPECT_NE(GetFileAttributesW((temp.str() + L"\\OrvaneOnline").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(s.work->running());  // set before the thread runs: an early Escape asks

    // Escape while working asks; No keeps the work going, Yes ends the program.
    windowProc(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(quitPosted());
    answer = true;
    windowProc(nullptr, WM_CLOSE, 0, 0);
    EXPECT_EQ(questions, 2);
    EXPECT_TRUE(quitPosted());
}

TEST_F(WindowTest, TheKeyboardAloneInstallsAndPlays) {
    WindowState& s = windowState();
    s.screen = render::kScreenSplash;
    layOut(s);
    s.splashStart = GetTickCount() - 600;
    windowProc(nullptr, WM_KEYDOWN, VK_SPACE, 0);  // any key skips the splash once it has shown a while
    tick(s, GetTickCount());
    ASSERT_EQ(s.screen, render::kScreenChoose);
    EXPECT_EQ(s.focus, render::kButtonStart);
    EXPECT_FALSE(buildFrame(s).keyboardCues);  // no ring until the keyboard is used

    // Round the buttons and back: the ring shows from the first Tab on.
    windowProc(nullptr, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(s.focus, render::kButtonClose);
    EXPECT_TRUE(buildFrame(s).keyboardCues);
    EXPECT_EQ(buildFrame(s).focus, render::kButtonClose);
    windowProc(nullptr, WM_KEYDOWN, VK_TAB, 0);
    windowProc(nullptr, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(s.focus, render::kButtonStart);
    windowProc(nullptr, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(s.screen, render::kScreenWorking);
    EXPECT_EQ(s.focus, render::kButtonClose);  // Enter now asks before cancelling

    // Done: the focus is on PLAY; Alt+P would press it as well. A failure's TRY AGAIN by its letter.
    finish();
    EXPECT_EQ(s.focus, render::kButtonPlay);
    startInstall(s);
    finish(L"Install failed: disk full");
    windowProc(nullptr, WM_SYSKEYDOWN, 'T', 0);
    EXPECT_EQ(s.screen, render::kScreenChoose);
    windowProc(nullptr, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(launches, 3);
}

// The manifest is fetched while the splash shows. Until it comes the choose screen says what
// it always said; then the client's size and the drive's free space, and INSTALL only where
// the client fits. The run takes the same manifest: the server is asked for it once.
TEST_F(WindowTest, TheManifestFetchedDuringTheSplashSizesTheChooseScreen) {
    testsupport::LoopbackServer server;
    const auto manifestOf = [&](uint64_t size) {
        testsupport::Response response;
        response.body = "{\"files\":[{\"path\":\"Engine.exe\",\"sha256\":\"00\",\"size\":" +
                        std::to_string(size - 1000) + ",\"url\":\"" + server.url("/e") +
                        "\"},{\"path\":\"data/a.pak\",\"sha256\":\"00\",\"size\":1000,\"url\":\"" +
                        server.url("/a") + "\"}]}";
        response.delayMs = 300;
        return response;
    };
    const uint64_t client = 723ull << 20;
    server.route("/pc/manifest.json", manifestOf(client));
    WindowState& s = windowState();
    s.manifestUrl = server.url("/pc/manifest.json");
    const auto arrive = [&] {
        for (int i = 0; i < 500 && !s.prefetch->clientBytes(); ++i) Sleep(10);
        windowProc(nullptr, kMsgManifest, 0, 0);  // what the fetch's thread posts
    };
    prefetchManifest(s);
    ASSERT_TRUE(s.prefetch);
    const std::wstring before = render::folderNoteText(buildFrame(s));
    EXPECT_NE(before.find(L"Needs about 1.5 GB."), std::wstring::npos) << before;
    arrive();
    const render::Frame frame = buildFrame(s);
    ASSERT_TRUE(s.location.freeBytes);
    EXPECT_EQ(render::folderNoteText(frame),
              L"A folder named 'OrvaneOnline' will be created here. Needs about 723 MB; " + s.location.volume +
                  L" has " + lang::formatSize(lang::Language::kEnglish, *s.location.freeBytes) + L" free.");
    EXPECT_EQ(s.location.volume, temp.str().substr(0, 2));
    windowProc(nullptr, WM_LBUTTONUP, 0, at(380, 410));
    ASSERT_EQ(launches, 1);
    ASSERT_EQ(launched.prefetch, s.prefetch);
    pcupd::FetchedManifest fetched;
    EXPECT_TRUE(launched.prefetch->take(launched.manifestUrl, launched.engine.manifestKeys, launched.installDir,
                                        fetched));
    EXPECT_EQ(fetched.body, manifestOf(client).body);
    EXPECT_EQ(server.requestCount("/pc/manifest.json"), 1);

    // A client larger than the drive: the note warns and INSTALL waits; over an existing
    // client, REPAIR still works.
    server.route("/pc/manifest.json", manifestOf(*s.location.freeBytes));
    s.screen = render::kScreenSplash;
    prefetchManifest(s);
    arrive();
    s.screen = render::kScreenChoose;
    layOut(s);
    EXPECT_TRUE(render::noteWarns(buildFrame(s)));
    EXPECT_EQ(render::folderNoteText(buildFrame(s)).rfind(L"Not enough free space: the game needs ", 0), 0u);
    EXPECT_FALSE(s.buttons.back().enabled);
    windowProc(nullptr, WM_LBUTTONUP, 0, at(380, 410));
    // Nor from the keyboard: the focus leaves the grey button, its letter does nothing.
    EXPECT_NE(s.focus, render::kButtonStart);
    windowProc(nullptr, WM_KEYDOWN, 'I', 0);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(s.screen, render::kScreenChoose);
    testsupport::writeFile(temp / L"OrvaneOnline" / L"Engine.exe", "MZ");
    chooseLocation(s, temp.str());
    layOut(s);
    EXPECT_EQ(s.buttons.back().label, L"REPAIR");
    EXPECT_TRUE(s.buttons.back().enabled);
}

TEST_F(WindowTest, AThreadThatCannotStartShowsTheFailedScreen) {
    WindowState& s = windowState();
    s.launchWorker = [](const installer::Job&, const std::shared_ptr<WorkProgress>&) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    startInstall(s);
    EXPECT_EQ(s.screen, render::kScreenFailed);
    EXPECT_EQ(s.error, L"The installation could not be started.\n\nInstall failed: could not start the install");
    EXPECT_FALSE(s.work && s.work->running());
    EXPECT_EQ(buildFrame(s).error, s.error);
    // Nothing runs, so closing does not ask.
    windowProc(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(questions, 0);
    EXPECT_TRUE(quitPosted());
}

TEST_F(WindowTest, FinishedShowsDoneOrFailedAndRetryGoesBack) {
    WindowState& s = windowState();
    startInstall(s);
    finish();
    EXPECT_EQ(s.screen, render::kScreenDone);
    EXPECT_EQ(s.buttons.back().id, render::kButtonPlay);

    startInstall(s);
    s.work->phase(installer::Phase::kVerifying, L"data/a.pak");
    finish(L"Install failed: disk write failed (full/locked?)");
    EXPECT_EQ(s.screen, render::kScreenFailed);
    EXPECT_EQ(buildFrame(s).error, L"Install failed: disk write failed (full/locked?)");
    EXPECT_FALSE(s.work->running());
    // A run that ends without even its error's text still fails.
    startInstall(s);
    EXPECT_EQ(buildFrame(s).status, L"");  // nothing of the earlier run shows through
    s.work->finished(installer::Outcome());
    windowProc(nullptr, kMsgFinished, 0, 0);
    EXPECT_EQ(s.screen, render::kScreenFailed);

    // TRY AGAIN: back to the chosen location, which now holds a client, so the job is a repair.
    testsupport::writeFile(temp / L"OrvaneOnline" / L"Engine.exe", "MZ");
    windowProc(nullptr, WM_LBUTTONUP, 0, at(300, 400));
    EXPECT_EQ(s.screen, render::kScreenChoose);
    EXPECT_EQ(s.location.chosen, temp.str());
    EXPECT_EQ(s.buttons.back().label, L"REPAIR");
}

// With a painter, the buttons the mouse hits are the ones drawn: as wide as their labels.
TEST_F(WindowTest, TheMouseHitsButtonsAsWideAsTheirLabels) {
    WindowState& s = windowState();
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    s.painter = std::make_unique<render::Painter>(nullptr);
    s.language = lang::Language::kGerman;
    startInstall(s);
    finish(L"Install failed");
    const render::Button retry = s.buttons.back();
    EXPECT_LT(retry.left, 264);  // ERNEUT VERSUCHEN is wider than the usual 232 units
    // Past the usual edge, on the wider button: TRY AGAIN, back to the choose screen.
    windowProc(nullptr, WM_LBUTTONUP, 0, at(retry.left + 4, 417));
    EXPECT_EQ(s.screen, render::kScreenChoose);
    const render::Button browse = s.buttons[1];
    EXPECT_EQ(browse.id, render::kButtonBrowse);
    EXPECT_LT(browse.left, 600);  // Durchsuchen... grows to the left
    // A screen reader finds the location field where it is drawn, short of Browse.
    const std::vector<AccessItem> items = accessTree(buildFrame(s));
    EXPECT_EQ(items[3].bounds.right, static_cast<float>(browse.left) - 12.0f);
    s.painter.reset();
    s.language = lang::Language::kEnglish;
    layOut(s);
    Gdiplus::GdiplusShutdown(token);
}

TEST_F(WindowTest, EverythingTheWindowSaysIsInItsLanguage) {
    WindowState& s = windowState();
    s.language = lang::Language::kGerman;
    layOut(s);
    EXPECT_EQ(s.buttons.back().label, L"INSTALLIEREN");
    startInstall(s);
    s.work->phase(installer::Phase::kDownloading, L"");
    s.work->bytes(512ull << 20, 1536ll << 20);
    const render::Frame working = buildFrame(s);
    EXPECT_EQ(working.status, L"Client wird heruntergeladen...");
    EXPECT_EQ(render::bytesLineText(working), L"512\u00A0MB von 1,50\u00A0GB");
    EXPECT_EQ(render::percentText(working), L"0\u00A0%");  // the bar eases from 0

    installer::Outcome outcome;
    outcome.error = L"Install failed: HTTP status 503 for https://cdn/a.pak";
    outcome.problem = installer::Problem::kDownload;
    outcome.cause = base::Failure::http(503, "");
    s.work->finished(outcome);
    windowProc(nullptr, kMsgFinished, 0, 0);
    EXPECT_EQ(s.screen, render::kScreenFailed);
    EXPECT_EQ(s.error.rfind(L"Das Spiel konnte nicht heruntergeladen und installiert werden.", 0), 0u);
    EXPECT_EQ(render::headingText(buildFrame(s)), L"Installation fehlgeschlagen");
    EXPECT_EQ(s.buttons.back().label, L"ERNEUT VERSUCHEN");

    startInstall(s);
    outcome = installer::Outcome();
    outcome.succeeded = true;
    outcome.obsoleteRemoved = 3;
    s.work->finished(outcome);
    windowProc(nullptr, kMsgFinished, 0, 0);
    EXPECT_EQ(buildFrame(s).doneNote, L"3 Dateien, die diese Version nicht mehr enthält, wurden entfernt.");
    EXPECT_EQ(s.buttons.back().label, L"SPIELEN");
}

TEST_F(WindowTest, ARemovalEndsWithCloseAndAsksItsOwnQuestion) {
    WindowState& s = windowState();
    s.removal = true;
    startInstall(s);
    EXPECT_EQ(launches, 1);
    EXPECT_TRUE(buildFrame(s).removal);
    bool asked = false;
    s.confirmCancel = [&] { asked = true; return false; };
    windowProc(nullptr, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(quitPosted());

    EXPECT_EQ(launched.kind, installer::JobKind::kRemoval);
    finish(L"", 2);
    EXPECT_EQ(s.screen, render::kScreenDone);
    EXPECT_EQ(buildFrame(s).keptFiles, 2);
    // Nothing to play after a removal: CLOSE ends the program.
    EXPECT_EQ(s.buttons.back().id, render::kButtonFinish);
    EXPECT_EQ(s.buttons.back().label, L"CLOSE");
    windowProc(nullptr, WM_LBUTTONUP, 0, at(300, 400));
    EXPECT_TRUE(quitPosted());
}

TEST_F(WindowTest, IdleScreensRepeatTheirFrameWorkingOnesMove) {
    WindowState& s = windowState();
    // Choose location: once the bar has settled, every tick gives the same frame.
    tick(s, 5000);
    render::Frame last = buildFrame(s);
    for (uint32_t t = 5016; t < 5200; t += 16) {
        tick(s, t);
        const render::Frame next = buildFrame(s);
        EXPECT_FALSE(render::frameChanged(last, 1.5f, next, 1.5f));
        last = next;
    }
    EXPECT_TRUE(render::frameChanged(last, 1.5f, last, 1.25f));
    windowProc(nullptr, WM_MOUSEMOVE, 0, at(650, 220));
    EXPECT_EQ(s.hover, render::kButtonBrowse);
    EXPECT_TRUE(render::frameChanged(last, 1.5f, buildFrame(s), 1.5f));

    // Working and busy: the spinner turns on every tick.
    startInstall(s);
    last = buildFrame(s);
    tick(s, 6000);
    EXPECT_TRUE(last.busy);
    EXPECT_TRUE(render::frameChanged(last, 1.0f, buildFrame(s), 1.0f));

    // Bytes arrive: the bar eases toward them and speed shows after a second.
    s.work->bytes(50 << 20, 100 << 20);
    tick(s, 7000);
    EXPECT_GT(s.displayedProgress, 0.0f);
    EXPECT_LT(s.displayedProgress, 0.5f);
    EXPECT_LT(buildFrame(s).bytesPerSecond, 0.0);
    s.work->bytes(60 << 20, 100 << 20);
    tick(s, 8000);
    const render::Frame moving = buildFrame(s);
    EXPECT_NEAR(moving.bytesPerSecond, 10 << 20, 1.0);
    EXPECT_EQ(moving.secondsLeft, 4);
    EXPECT_FALSE(moving.busy);

    // With animations turned off the bar jumps; a high-contrast theme is a new frame in its colours.
    s.look.reducedMotion = true;
    tick(s, 8016);
    EXPECT_FLOAT_EQ(s.displayedProgress, 0.6f);
    s.look.highContrast = true;
    s.look.colors.window = 0xFFFFFFFF;
    const render::Frame contrast = buildFrame(s);
    EXPECT_TRUE(contrast.highContrast);
    EXPECT_EQ(contrast.system.window, 0xFFFFFFFFu);
    EXPECT_TRUE(render::frameChanged(moving, 1.0f, contrast, 1.0f));
    s.look = SystemLook();
}

TEST_F(WindowTest, TheRealWindowTakesTheScaleOfTheMonitorItMovesTo) {
    WindowState& s = windowState();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerWindowClass(instance, nullptr, nullptr);
    const HWND window = createMainWindow(instance, s);
    ASSERT_NE(window, nullptr);
    for (const int dpi : {144, 120, 96}) {
        SCOPED_TRACE(dpi);
        // The system's suggestion, a pixel off from the window's own size at that scale.
        RECT suggested{40, 30, 40 + 760 * dpi / 96 + 1, 30 + 500 * dpi / 96 - 1};
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT now{};
        GetWindowRect(window, &now);
        EXPECT_EQ(now.left, 40);
        EXPECT_EQ(now.top, 30);
        EXPECT_EQ(now.right - now.left, 760 * dpi / 96);
        EXPECT_EQ(now.bottom - now.top, 500 * dpi / 96);
        EXPECT_FLOAT_EQ(s.scale, dpi / 96.0f);
    }
}

namespace {

std::vector<std::pair<DWORD, LONG>> heardEvents;

void CALLBACK hearEvent(HWINEVENTHOOK, DWORD event, HWND, LONG object, LONG child, DWORD, DWORD) {
    if (object == OBJID_CLIENT) heardEvents.push_back({event, child});
}

}  // namespace

TEST_F(WindowTest, TheRealWindowTellsReadersOfFocusAndANewScreen) {
    WindowState& s = windowState();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerWindowClass(instance, nullptr, nullptr);
    ASSERT_NE(createMainWindow(instance, s), nullptr);
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, hearEvent, GetCurrentProcessId(), 0,
                                               WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    heardEvents.clear();
    windowProc(s.window, WM_KEYDOWN, VK_TAB, 0);  // from INSTALL round to the close button, item 1
    startInstall(s);
    windowProc(s.window, WM_TIMER, kTimerId, 0);
    quitPosted();  // out-of-context events arrive as messages
    UnhookWinEvent(hook);
    const std::pair<DWORD, LONG> focusOnClose{EVENT_OBJECT_FOCUS, 1}, reorder{EVENT_OBJECT_REORDER, CHILDID_SELF};
    EXPECT_NE(std::find(heardEvents.begin(), heardEvents.end(), focusOnClose), heardEvents.end());
    EXPECT_NE(std::find(heardEvents.begin(), heardEvents.end(), reorder), heardEvents.end());
}
