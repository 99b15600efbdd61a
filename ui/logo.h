#pragma once
// The logo art kept in the program's resources.

#include <windows.h>

namespace Gdiplus {
class Image;
}

namespace ui {

// The PNG in RCDATA `id` of `module` as a GDI+ image, or null when it is missing or cannot be
// decoded (the painter then draws without it). The caller deletes it; GDI+ must be running.
Gdiplus::Image* loadPngResource(HMODULE module, int id);

// Deletes an image from loadPngResource (null is fine).
void deleteImage(Gdiplus::Image* image);

}  // namespace ui
