#include "ui/system_look.h"

namespace ui {

uint32_t argbOf(COLORREF color) {
    return 0xFF000000u | (static_cast<uint32_t>(GetRValue(color)) << 16) |
           (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

SystemLook readSystemLook() {
    SystemLook look;
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0))
        look.highContrast = (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
    render::SystemColors& c = look.colors;
    c.window = argbOf(GetSysColor(COLOR_WINDOW));
    c.windowText = argbOf(GetSysColor(COLOR_WINDOWTEXT));
    c.highlight = argbOf(GetSysColor(COLOR_HIGHLIGHT));
    c.highlightText = argbOf(GetSysColor(COLOR_HIGHLIGHTTEXT));
    c.buttonFace = argbOf(GetSysColor(COLOR_BTNFACE));
    c.buttonText = argbOf(GetSysColor(COLOR_BTNTEXT));
    c.grayText = argbOf(GetSysColor(COLOR_GRAYTEXT));
    c.hotlight = argbOf(GetSysColor(COLOR_HOTLIGHT));
    BOOL animate = TRUE;
    if (SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animate, 0)) look.reducedMotion = !animate;
    BOOL cues = FALSE;
    if (SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &cues, 0)) look.alwaysCues = cues != FALSE;
    return look;
}

}  // namespace ui
