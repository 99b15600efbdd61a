// Stands in for the game client in the demo's sample client (as Engine.exe): the setup
// program's PLAY starts it, and its one small window says that the game has started.
// Escape or the close box ends it.

#include <windows.h>

#include "base/unique_handle.h"

namespace {

constexpr wchar_t kClassName[] = L"OrvaneEngineStandIn";
constexpr wchar_t kTitle[] = L"Orvane Online";
// Client area in 96-dpi units.
constexpr int kWidth = 480;
constexpr int kHeight = 250;

// The setup window's colours, so that the hand-over from it looks like one product.
constexpr COLORREF kBackground = RGB(0x0A, 0x0F, 0x2C);
constexpr COLORREF kAccent = RGB(0x2F, 0x7D, 0xFF);
constexpr COLORREF kSuccess = RGB(0x2F, 0xD3, 0x9A);
constexpr COLORREF kText = RGB(0xF3, 0xF5, 0xFF);
constexpr COLORREF kTextMuted = RGB(0xA7, 0xB0, 0xD4);
constexpr COLORREF kTextDim = RGB(0x73, 0x7C, 0xA3);

using UniqueGdiObject = base::UniqueOf<HGDIOBJ, &::DeleteObject>;

// The screen's device context, for as long as a measurement takes.
class ScreenDc {
public:
    ScreenDc() noexcept : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HDC dc_;
};

class PaintScope {
public:
    explicit PaintScope(HWND window) noexcept : window_(window) { dc_ = BeginPaint(window, &paint_); }
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

struct Look {
    int dpi = 96;
    UniqueGdiObject caption;  // the small spaced-out name above the heading
    UniqueGdiObject heading;
    UniqueGdiObject body;
    UniqueGdiObject hint;
};

Look look;

int scaled(int units) { return MulDiv(units, look.dpi, 96); }

int CALLBACK noteFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Segoe UI where Windows has it; Wine ships Tahoma instead.
const wchar_t* fontFace() {
    ScreenDc screen;
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(query.lfFaceName, L"Segoe UI", LF_FACESIZE);
    bool found = false;
    if (screen.get())
        EnumFontFamiliesExW(screen.get(), &query, noteFamily, reinterpret_cast<LPARAM>(&found), 0);
    return found ? L"Segoe UI" : L"Tahoma";
}

UniqueGdiObject makeFont(const wchar_t* face, int points, int weight) {
    return UniqueGdiObject(CreateFontW(-MulDiv(points, look.dpi, 72), 0, 0, 0, weight, FALSE, FALSE,
                                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                       DEFAULT_PITCH | FF_SWISS, face));
}

void prepareLook() {
    {
        ScreenDc screen;
        if (screen.get()) look.dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    }
    if (look.dpi <= 0) look.dpi = 96;
    const wchar_t* face = fontFace();
    look.caption = makeFont(face, 8, FW_BOLD);
    look.heading = makeFont(face, 17, FW_BOLD);
    look.body = makeFont(face, 10, FW_NORMAL);
    look.hint = makeFont(face, 8, FW_NORMAL);
}

void fill(HDC dc, const RECT& rect, COLORREF colour) {
    UniqueGdiObject brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
}

// One line of text centred across the window (moved right by `shift` pixels), its box
// starting `top` units down.
void centredLine(HDC dc, const wchar_t* text, const UniqueGdiObject& font, COLORREF colour,
                 int top, int height, int spacing = 0, int shift = 0) {
    RECT row{shift, scaled(top), scaled(kWidth) + shift, scaled(top + height)};
    HGDIOBJ previous = SelectObject(dc, font.get());
    SetTextColor(dc, colour);
    SetTextCharacterExtra(dc, scaled(spacing));
    DrawTextW(dc, text, -1, &row, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetTextCharacterExtra(dc, 0);
    SelectObject(dc, previous);
}

void onPaint(HWND window) {
    PaintScope paint(window);
    HDC dc = paint.dc();
    if (!dc) return;
    RECT client{};
    GetClientRect(window, &client);
    fill(dc, client, kBackground);
    fill(dc, RECT{0, 0, client.right, scaled(4)}, kAccent);
    SetBkMode(dc, TRANSPARENT);

    // A small lit dot before the caption says the game is running; dot and caption are
    // centred as one.
    constexpr wchar_t kCaption[] = L"ORVANE ONLINE";
    const int dot = scaled(8);
    const int gap = scaled(10);
    SIZE caption{};
    {
        HGDIOBJ previous = SelectObject(dc, look.caption.get());
        SetTextCharacterExtra(dc, scaled(2));
        GetTextExtentPoint32W(dc, kCaption, lstrlenW(kCaption), &caption);
        SetTextCharacterExtra(dc, 0);
        SelectObject(dc, previous);
    }
    const int shift = (dot + gap) / 2;
    const int dotX = (scaled(kWidth) - caption.cx) / 2 + shift - gap - dot;
    const int dotY = scaled(47) - dot / 2;
    {
        UniqueGdiObject brush(CreateSolidBrush(kSuccess));
        HGDIOBJ previousBrush = SelectObject(dc, brush.get());
        HGDIOBJ previousPen = SelectObject(dc, GetStockObject(NULL_PEN));
        Ellipse(dc, dotX, dotY, dotX + dot + 1, dotY + dot + 1);
        SelectObject(dc, previousPen);
        SelectObject(dc, previousBrush);
    }
    centredLine(dc, kCaption, look.caption, kTextMuted, 36, 22, 2, shift);
    centredLine(dc, L"The game has started", look.heading, kText, 70, 44);
    fill(dc, RECT{scaled(kWidth / 2 - 28), scaled(122), scaled(kWidth / 2 + 28), scaled(124)},
         kAccent);
    centredLine(dc, L"This window stands in for the game client.", look.body, kTextMuted, 140, 24);
    centredLine(dc, L"Press Escape to close it.", look.hint, kTextDim, 196, 22);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
    case WM_PAINT: onPaint(window); return 0;
    case WM_ERASEBKGND: return 1;  // the paint covers every pixel
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) DestroyWindow(window);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    SetProcessDPIAware();
    prepareLook();

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) return 1;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, scaled(kWidth), scaled(kHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;

    HWND window = CreateWindowExW(0, kClassName, kTitle, style, x, y, width, height, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    SetForegroundWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
