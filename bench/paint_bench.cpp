// Time to paint one frame of the working screen at 144 dpi (scale 1.5), the screen that
// repaints on every 16 ms tick while bytes stream in. The first frame draws the cached
// layer; the median covers the frames after it, each with new progress and byte counts.
//   paint_bench.exe [--frames N]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <vector>

#include "render/gdiplus_headers.h"
#include "render/painter.h"
#include "resources/resource_ids.h"

namespace {

// The program's embedded logo, as the window loads it; none when the resource is missing.
std::unique_ptr<Gdiplus::Image> loadLogo() {
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_LOGO_PNG), RT_RCDATA);
    HGLOBAL data = info ? LoadResource(nullptr, info) : nullptr;
    if (!data) return nullptr;
    const DWORD size = SizeofResource(nullptr, info);
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    void* target = copy ? GlobalLock(copy) : nullptr;
    if (!target) {
        if (copy) GlobalFree(copy);
        return nullptr;
    }
    memcpy(target, LockResource(data), size);
    GlobalUnlock(copy);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
        GlobalFree(copy);
        return nullptr;
    }
    std::unique_ptr<Gdiplus::Image> image(new Gdiplus::Image(stream));
    stream->Release();
    return image->GetLastStatus() == Gdiplus::Ok ? std::move(image) : nullptr;
}

double run(int frames) {
    std::unique_ptr<Gdiplus::Image> logo = loadLogo();
    const float scale = 1.5f;
    render::Painter painter(logo.get());
    render::Canvas canvas(static_cast<int32_t>(render::kWindowWidth * scale),
                          static_cast<int32_t>(render::kWindowHeight * scale));
    if (!canvas.valid()) return -1.0;

    render::Frame frame;
    frame.screen = render::kScreenWorking;
    render::Button close;
    close.left = 716, close.top = 14, close.right = 746, close.bottom = 44;
    close.id = render::kButtonClose;
    frame.buttons = {close};
    frame.status = L"Downloading client...";
    frame.detail = L"data\\textures\\environment\\highlands_terrain_diffuse_04.dds";
    frame.bytesTotal = 1610612736;
    painter.paint(frame, scale, canvas);  // builds the cached layer

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
        frame.progress = static_cast<float>(i + 1) / static_cast<float>(frames + 1);
        frame.bytesDone = static_cast<uint64_t>(frame.progress * frame.bytesTotal);
        frame.bytesPerSecond = 11.0 * 1024 * 1024 + i * 4096.0;
        frame.secondsLeft = (frames - i) / 2;
        if (i % 25 == 0) frame.detail = L"data\\maps\\region_" + std::to_wstring(i) + L".pak";
        QueryPerformanceCounter(&start);
        painter.paint(frame, scale, canvas);
        GdiFlush();
        QueryPerformanceCounter(&end);
        times.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int frames = 300;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"--frames") == 0) frames = std::max(1, _wtoi(argv[i + 1]));
    }
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::fprintf(stderr, "paint_bench: GDI+ did not start\n");
        return 1;
    }
    const double median = run(frames);
    Gdiplus::GdiplusShutdown(token);
    if (median < 0) {
        std::fprintf(stderr, "paint_bench: no canvas\n");
        return 1;
    }
    std::printf("paint working screen @1.5: %.2f ms/frame\n", median);
    return 0;
}
