#pragma once
// Paints the setup window. Window thread only: GDI+ objects are not shared across threads.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/frame.h"

namespace Gdiplus {
class Image;
}

namespace render {

// A 32-bit top-down DIB section: the painter's back buffer, copied to the window with one
// BitBlt, and what tests read pixels from.
class Canvas {
public:
    Canvas(int32_t width, int32_t height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool valid() const;
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    HDC dc() const;              // a memory DC with the DIB selected
    HBITMAP bitmap() const;
    uint32_t pixel(int32_t x, int32_t y) const;  // 0x00RRGGBB; 0 outside
    // Writes the canvas as a PNG with the GDI+ encoder; false on any failure.
    bool savePng(const std::wstring& path) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int32_t width_ = 0, height_ = 0;
};

class Painter {
public:
    // `logo` may be null (the painter then draws a wordmark of its own); not owned, and it
    // must outlive the painter. Needs GDI+ started.
    explicit Painter(Gdiplus::Image* logo);
    ~Painter();
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

    // Draws the whole window for `frame` at `scale` (dpi / 96) into `canvas`, which must be
    // kWindowWidth x kWindowHeight times `scale`, truncated.
    // The buttons are drawn as fitButtons() makes them.
    void paint(const Frame& frame, float scale, Canvas& canvas);

    // `buttons` widened to hold their labels in the painter's fonts (button_fit.h). The same
    // at every scale, so the window lays its buttons out once whatever its dpi.
    std::vector<Button> fitButtons(std::vector<Button> buttons);

    // Every text of ours that the last paint could not fit into its room, even at its
    // smallest size or on the lines its screen allows; empty when everything fitted.
    std::vector<std::wstring> overflows() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace render
