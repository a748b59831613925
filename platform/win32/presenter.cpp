// The Win32 backend's presenter: GDI and a DIB section the size of the
// window's inside, written by the desktop backends' span scaler
// (platform/desktop/scaler.h) and copied 1:1 to the window.
//
// Why GDI rather than Direct3D 9 or DXGI: it is there on every Windows and
// under Wine with no GPU driver at all (a virtual machine, a server, Wine in
// a virtual X server), nothing can fail to initialise, and a play frame
// changes only where jewels, the basket and the numbers moved, so scaling and
// copying only those spans costs well under a per cent of a core. GDI's own
// stretching cannot filter (HALFTONE is slow and soft), so the scaling is
// ours and the copy to the window is 1:1. What GDI cannot do is wait for the
// vertical blank: the core paces the frames itself, as it does for any
// presenter that does not.
#include <cstdint>

#include "platform/backend.h"
#include "platform/desktop/scaler.h"
#include "platform/desktop/settings.h"
#include "platform/win32/win32_backend.h"

namespace {

struct Presenter {
    bool open = false;
    HDC windowDc = nullptr;
    HDC bitmapDc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ bitmapWas = nullptr;
    desktop::Surface surface;  // the bitmap's pixels
} presenter;

desktop::SpanPresenter spans;

void DropBitmap() {
    Presenter& p = presenter;
    if (p.bitmapDc != nullptr) {
        SelectObject(p.bitmapDc, p.bitmapWas);
        DeleteDC(p.bitmapDc);
    }
    if (p.bitmap != nullptr) DeleteObject(p.bitmap);
    p.bitmapDc = nullptr;
    p.bitmap = nullptr;
    p.surface = desktop::Surface{};
}

// The bitmap the size of the window's inside; false when there is none (a
// minimised window, or no memory for it).
bool EnsureBitmap() {
    Presenter& p = presenter;
    RECT inside;
    if (!GetClientRect(win32::Window(), &inside)) return false;
    const int w = inside.right - inside.left, h = inside.bottom - inside.top;
    if (w <= 0 || h <= 0) return false;
    if (p.bitmap != nullptr && p.surface.width == w && p.surface.height == h) return true;
    DropBitmap();
    spans.Forget();  // a new bitmap shows nothing yet
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    p.bitmap = CreateDIBSection(p.windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    p.bitmapDc = CreateCompatibleDC(p.windowDc);
    if (p.bitmap == nullptr || p.bitmapDc == nullptr || bits == nullptr) {
        DropBitmap();
        return false;
    }
    p.bitmapWas = SelectObject(p.bitmapDc, p.bitmap);
    p.surface = desktop::Surface{static_cast<std::uint32_t*>(bits), w * 4, w, h};
    return true;
}

void Copy(const desktop::Rect& part) {
    if (part.w <= 0 || part.h <= 0) return;
    BitBlt(presenter.windowDc, part.x, part.y, part.w, part.h, presenter.bitmapDc, part.x, part.y,
           SRCCOPY);
}

}  // namespace

namespace win32 {

void RedrawPicture() {
    if (!presenter.open || !spans.Valid() || !EnsureBitmap()) return;
    GdiFlush();
    Copy(spans.Redraw(presenter.surface, desktop::settings.scaling));
}

void WindowResized() {
    if (presenter.open) RedrawPicture();
}

}  // namespace win32

namespace backend {

bool OpenPresenter() {
    Presenter& p = presenter;
    if (p.open || desktop::showNothing) return true;  // unseen: nothing is presented
    if (win32::Window() == nullptr) return false;
    p.windowDc = GetDC(win32::Window());  // the class's own DC: kept while the window lives
    if (p.windowDc == nullptr) return false;
    spans.Forget();
    p.open = true;
    return true;
}

void ClosePresenter() {
    DropBitmap();
    if (presenter.windowDc != nullptr) ReleaseDC(win32::Window(), presenter.windowDc);
    presenter = Presenter{};
}

bool Present(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    Presenter& p = presenter;
    if (!p.open || desktop::showNothing) return false;
    const bool ready = EnsureBitmap();
    GdiFlush();
    const desktop::Rect changed = spans.Present(ready ? p.surface : desktop::Surface{}, pixels,
                                                pitch, lookup, desktop::settings.scaling, false);
    if (ready) Copy(changed);
    return false;
}

}  // namespace backend
