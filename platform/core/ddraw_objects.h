// The DirectDraw 7 objects as the core keeps them, shared by the files that
// give their methods (ddraw.cpp: the device, palettes and clippers;
// surface.cpp: surfaces; present.cpp: what Flip shows; gdi_text.cpp: text on
// a surface's device context) and read by a test harness.
//
// Reference counts follow DirectDraw 7: surfaces and palettes hold a
// reference on the device that made them; a surface holds its palette and
// clipper; GetAttachedSurface adds a reference to the back buffer, which was
// made with the primary and goes only when the primary goes. A released
// object is kept as a husk, so a call through it aborts with its name
// instead of touching freed memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/core/core.h"

namespace standin {

constexpr int kScreenWidth = backend::kPictureWidth;
constexpr int kScreenHeight = backend::kPictureHeight;
constexpr int kOpaque = 2;  // OPAQUE: a fresh device context's background mode

struct Tracked {
    virtual ~Tracked() = default;
    const char* kind = "";
    int refs = 1;
    bool dead = false;
    // Aborts when the object has been released: `call` is the entry that
    // used it.
    void CheckAlive(const ApiCall& call) const {
        if (dead) call.Unsupported("called on a %s that has been released", kind);
    }
};

// Every object made, husks included, and the kinds of the final releases in
// order.
extern std::vector<std::unique_ptr<Tracked>> objects;
extern std::vector<std::string> releaseLog;

template <typename T>
T* Track(T* object) {
    objects.emplace_back(object);
    return object;
}
void LogFinalRelease(Tracked* object);

struct Device;

struct Clipper final : IDirectDrawClipper, Tracked {
    bool hasList = false;
    std::vector<RECT> rects;
    RECT bound{};

    Clipper() { kind = "clipper"; }
    ULONG Release() override;
    HRESULT SetClipList(LPRGNDATA list, DWORD flags) override;
};

struct Palette final : IDirectDrawPalette, Tracked {
    Device* device;
    PALETTEENTRY entries[256];
    unsigned version = 1;  // bumped on every change; the presenter follows it

    explicit Palette(Device* owner) : device(owner) { kind = "palette"; }
    ULONG Release() override;
    HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY values) override;
};

struct Surface final : IDirectDrawSurface7, Tracked {
    Device* device;
    DWORD caps;
    int width, height, pitch;
    std::unique_ptr<BYTE[]> pixels;
    Surface* back = nullptr;     // the primary's back buffer
    Surface* primary = nullptr;  // the back buffer's primary
    Palette* palette = nullptr;
    Clipper* clipper = nullptr;
    bool hasKey = false;
    BYTE key = 0;
    bool locked = false;
    bool dcOut = false;
    bool lost = false;  // its memory was taken away (exclusive mode lost)
    HDC__ dc{};
    COLORREF textColour = 0;
    int bkMode = kOpaque;

    Surface(Device* owner, const char* what, DWORD surfaceCaps, int w, int h)
        : device(owner), caps(surfaceCaps), width(w), height(h) {
        kind = what;
        // Rows are padded to 16 bytes, as a driver might: code that steps by
        // the width instead of lPitch shows up at once.
        pitch = (w + 15) & ~15;
        pixels.reset(new BYTE[static_cast<size_t>(pitch) * h]());
    }

    bool Busy() const { return locked || dcOut; }
    bool InFlipChain() const { return back != nullptr || primary != nullptr; }
    // Drawing on the flip chain waits for a flip still due (DDBLT_WAIT,
    // DDLOCK_WAIT and GetDC all wait for it).
    void WaitForFlip() const {
        if (InFlipChain()) WaitForPendingFlip();
    }

    ULONG Release() override;
    HRESULT Blt(LPRECT destRect, LPDIRECTDRAWSURFACE7 source, LPRECT sourceRect, DWORD flags,
                LPDDBLTFX fx) override;
    HRESULT Flip(LPDIRECTDRAWSURFACE7 targetOverride, DWORD flags) override;
    HRESULT GetAttachedSurface(LPDDSCAPS2 wanted, LPDIRECTDRAWSURFACE7* attached) override;
    HRESULT GetDC(HDC* out) override;
    HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) override;
    HRESULT ReleaseDC(HDC hdc) override;
    HRESULT SetClipper(LPDIRECTDRAWCLIPPER newClipper) override;
    HRESULT SetColorKey(DWORD flags, LPDDCOLORKEY colourKey) override;
    HRESULT SetPalette(LPDIRECTDRAWPALETTE newPalette) override;
    HRESULT Unlock(LPRECT rect) override;

    void Destroy();
};

// What Flip presents: the primary's indices through the display palette's
// lookup, handed to the backend.
struct Presenter {
    bool open = false;  // the backend is ready to show pictures
    std::uint32_t lookup[256] = {};
    const Palette* lookupPalette = nullptr;
    unsigned lookupVersion = 0;
};

struct Device final : IDirectDraw7, Tracked {
    bool exclusive = false;
    bool modeSet = false;
    Surface* primary = nullptr;
    Palette* lastPalette = nullptr;
    Presenter presenter;

    Device() { kind = "device"; }

    ULONG Release() override;
    void ClosePresenter();

    HRESULT CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* out, IUnknown* outer) override;
    HRESULT CreatePalette(DWORD flags, LPPALETTEENTRY values, LPDIRECTDRAWPALETTE* out,
                          IUnknown* outer) override;
    HRESULT CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* out,
                          IUnknown* outer) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh,
                           DWORD flags) override;
    HRESULT RestoreAllSurfaces() override;
};

extern Device* liveDevice;  // the one device not yet released

// The palette the display shows: the primary's, else the last one made
// while it lives; null before there is one.
const Palette* DisplayPalette();
// Shows the primary's picture through the backend (Flip, after the swap).
void Present(Device* device);

}  // namespace standin
