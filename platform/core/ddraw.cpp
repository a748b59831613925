// DirectDraw 7: the device, 8-bit surfaces (the primary flip chain and
// off-screen plain surfaces), the palette, clippers, fills and colour-keyed
// copies, Flip and the palette lookup of what it presents (the backend shows
// it), and the GDI text drawn through a surface's device context.
//
// Reference counts follow DirectDraw 7: surfaces and palettes hold a
// reference on the device that made them; a surface holds its palette and
// clipper; GetAttachedSurface adds a reference to the back buffer, which was
// made with the primary and goes only when the primary goes. A released
// object is kept as a husk, so a call through it aborts with its name
// instead of touching freed memory.
#include <algorithm>
#include <cstring>

#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/run.h"

const IID IID_IDirectDraw7 = {
    0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};

namespace standin {

namespace {

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;
constexpr int kOpaque = 2;  // OPAQUE: a fresh device context's background mode

struct Tracked {
    virtual ~Tracked() = default;
    const char* kind = "";
    int refs = 1;
    bool dead = false;
    void CheckAlive(const char* call) const {
        NoteCall();
        if (dead) Unsupported(call, "called on a %s that has been released", kind);
    }
};

std::vector<std::unique_ptr<Tracked>> objects;  // every object made, husks included

template <typename T>
T* Track(T* object) {
    objects.emplace_back(object);
    return object;
}

void LogFinalRelease(Tracked* object) {
    object->dead = true;
    releaseLog.push_back(object->kind);
}

}  // namespace

std::vector<std::string> releaseLog;

struct Clipper final : IDirectDrawClipper, Tracked {
    bool hasList = false;
    std::vector<RECT> rects;
    RECT bound{};

    Clipper() { kind = "clipper"; }

    ULONG Release() override {
        CheckAlive("IDirectDrawClipper::Release");
        if (--refs == 0) LogFinalRelease(this);
        return static_cast<ULONG>(refs);
    }

    HRESULT SetClipList(LPRGNDATA list, DWORD flags) override {
        CheckAlive("IDirectDrawClipper::SetClipList");
        if (flags != 0)
            Unsupported("IDirectDrawClipper::SetClipList", "flags must be 0, got 0x%X", flags);
        HRESULT failure;
        if (InjectedFailure(seam::Call::SetClipList, DDERR_GENERIC, &failure)) return failure;
        if (list == nullptr) {  // removes the list
            hasList = false;
            rects.clear();
            return DD_OK;
        }
        if (list->rdh.dwSize != sizeof(RGNDATAHEADER) || list->rdh.iType != RDH_RECTANGLES) {
            Unsupported("IDirectDrawClipper::SetClipList",
                        "the header needs dwSize %zu and iType RDH_RECTANGLES, got %u and %u",
                        sizeof(RGNDATAHEADER), list->rdh.dwSize, list->rdh.iType);
        }
        // The clipper keeps its own copy: the caller may free the block at once.
        rects.resize(list->rdh.nCount);
        if (!rects.empty()) std::memcpy(rects.data(), list->Buffer, rects.size() * sizeof(RECT));
        bound = list->rdh.rcBound;
        hasList = true;
        return DD_OK;
    }
};

struct Palette final : IDirectDrawPalette, Tracked {
    Device* device;
    PALETTEENTRY entries[256];
    unsigned version = 1;  // bumped on every change; the presenter follows it

    explicit Palette(Device* owner) : device(owner) { kind = "palette"; }
    ULONG Release() override;

    HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY values) override {
        CheckAlive("IDirectDrawPalette::SetEntries");
        if (flags != 0)
            Unsupported("IDirectDrawPalette::SetEntries", "flags must be 0, got 0x%X", flags);
        HRESULT failure;
        if (InjectedFailure(seam::Call::SetEntries, DDERR_GENERIC, &failure)) return failure;
        if (values == nullptr || start > 256 || count > 256 - start) return DDERR_INVALIDPARAMS;
        std::memcpy(entries + start, values, count * sizeof(PALETTEENTRY));
        ++version;
        return DD_OK;
    }
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
    bool lost = false;  // its memory was taken away; see seam::LoseSurfaces
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
// lookup, handed to the backend (or, in tests, kept in memory).
struct Presenter {
    bool open = false;                // the backend is ready to show pictures
    std::vector<std::uint32_t> argb;  // the last presented picture, for tests
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

    ULONG Release() override {
        CheckAlive("IDirectDraw7::Release");
        if (--refs == 0) {
            LogFinalRelease(this);
            ClosePresenter();
        }
        return static_cast<ULONG>(refs);
    }

    void ClosePresenter() {
        if (presenter.open) backend::ClosePresenter();
        presenter = Presenter{};
    }

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

namespace {

Device* liveDevice = nullptr;  // the one device not yet released
int flips = 0;
std::uint32_t presentedChecksum = 0;

// Objects come in as interface pointers; only ours exist.
Surface* AsSurface(IDirectDrawSurface7* surface) {
    return static_cast<Surface*>(surface);
}

struct Box {
    int left, top, right, bottom;
    bool Empty() const { return left >= right || top >= bottom; }
};

Box Intersect(Box a, Box b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

Box FromRect(const RECT& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

// The parts of `dest` that may be drawn: inside the surface and, with a
// clipper attached, inside each rectangle of its list.
template <typename Draw>
HRESULT ForEachVisiblePart(const Surface* surface, Box dest, Draw draw) {
    Box inside = Intersect(dest, {0, 0, surface->width, surface->height});
    if (surface->clipper == nullptr) {
        if (!inside.Empty()) draw(inside);
        return DD_OK;
    }
    if (!surface->clipper->hasList) return DDERR_NOCLIPLIST;
    for (const RECT& rect : surface->clipper->rects) {
        Box part = Intersect(inside, FromRect(rect));
        if (!part.Empty()) draw(part);
    }
    return DD_OK;
}

const Palette* DisplayPaletteObject() {
    if (liveDevice == nullptr) return nullptr;
    if (liveDevice->primary != nullptr && liveDevice->primary->palette != nullptr) {
        return liveDevice->primary->palette;
    }
    if (liveDevice->lastPalette != nullptr && !liveDevice->lastPalette->dead) {
        return liveDevice->lastPalette;
    }
    return nullptr;
}

// The display palette entry nearest to `colour` (squared RGB distance, ties
// to the lowest index).
BYTE NearestIndex(COLORREF colour) {
    const Palette* palette = DisplayPaletteObject();
    if (palette == nullptr) return 0;
    int red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY& entry = palette->entries[i];
        long dr = entry.peRed - red, dg = entry.peGreen - green, db = entry.peBlue - blue;
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<BYTE>(best);
}

std::uint32_t Checksum(const BYTE* pixels, int width, int height, int pitch) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (int y = 0; y < height; ++y) {
        const BYTE* row = pixels + static_cast<size_t>(y) * pitch;
        for (int x = 0; x < width; ++x) hash = (hash ^ row[x]) * 16777619u;
    }
    return hash;
}

// Rebuilds the lookup when the palette changed; true when it did.
bool UpdateLookup(Presenter& p, const Palette* palette) {
    if (palette == p.lookupPalette && (palette == nullptr || palette->version == p.lookupVersion)) {
        return false;
    }
    for (int i = 0; i < 256; ++i) {
        p.lookup[i] = palette == nullptr
                          ? 0xFF000000u
                          : 0xFF000000u | (std::uint32_t{palette->entries[i].peRed} << 16) |
                                (std::uint32_t{palette->entries[i].peGreen} << 8) |
                                palette->entries[i].peBlue;
    }
    p.lookupPalette = palette;
    p.lookupVersion = palette != nullptr ? palette->version : 0;
    return true;
}

void Convert(Presenter& p, const Surface* screen, void* out, int pitch) {
    UpdateLookup(p, screen->palette);
    for (int y = 0; y < kScreenHeight; ++y) {
        const BYTE* in = screen->pixels.get() + static_cast<size_t>(y) * screen->pitch;
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<BYTE*>(out) +
                                                     static_cast<size_t>(y) * pitch);
        for (int x = 0; x < kScreenWidth; ++x) row[x] = p.lookup[in[x]];
    }
}

void Present(Device* device) {
    Presenter& p = device->presenter;
    if (!p.open) return;
    const Surface* screen = device->primary;
    bool paced = false;
    if (SeamMode() && !seamState.presentLikeProgram) {
        // Tests look at the converted picture in memory and skip the display.
        if (!seamState.textsOnly) Convert(p, screen, p.argb.data(), kScreenWidth * 4);
    } else {
        UpdateLookup(p, screen->palette);
        paced = backend::Present(screen->pixels.get(), screen->pitch, p.lookup);
    }
    // The tests' virtual clock never waits.
    if (!paced && RealTime()) ScheduleFlip();
}

}  // namespace

// --- palette -------------------------------------------------------------------

ULONG Palette::Release() {
    CheckAlive("IDirectDrawPalette::Release");
    if (--refs == 0) {
        LogFinalRelease(this);
        device->Release();
    }
    return static_cast<ULONG>(refs);
}

// --- surface -------------------------------------------------------------------

ULONG Surface::Release() {
    CheckAlive("IDirectDrawSurface7::Release");
    if (refs <= 0)
        Unsupported("IDirectDrawSurface7::Release", "the %s has no references left", kind);
    --refs;
    // The back buffer was made with the primary and goes only with it.
    if (refs == 0 && primary == nullptr) Destroy();
    return static_cast<ULONG>(refs);
}

// Tears down a surface, or a whole flip chain from its primary: first every
// surface of it lets go of its clipper and palette (the back buffer's first),
// then the surfaces go, back buffer before primary, then the device
// reference that the surface (or the chain) held.
void Surface::Destroy() {
    Surface* chain[2] = {back != nullptr && !back->dead ? back : nullptr, this};
    for (Surface* surface : chain) {
        if (surface == nullptr) continue;
        if (surface->clipper != nullptr) surface->clipper->Release();
        if (surface->palette != nullptr) surface->palette->Release();
        surface->clipper = nullptr;
        surface->palette = nullptr;
    }
    for (Surface* surface : chain) {
        if (surface == nullptr) continue;
        LogFinalRelease(surface);
        surface->pixels.reset();
    }
    if (device->primary == this) device->primary = nullptr;
    device->Release();
}

HRESULT Surface::Blt(LPRECT destRect, LPDIRECTDRAWSURFACE7 source, LPRECT sourceRect, DWORD flags,
                     LPDDBLTFX fx) {
    CheckAlive("IDirectDrawSurface7::Blt");
    const DWORD known = DDBLT_WAIT | DDBLT_ASYNC | DDBLT_COLORFILL | DDBLT_KEYSRC;
    bool fill = (flags & DDBLT_COLORFILL) != 0;
    bool keyed = (flags & DDBLT_KEYSRC) != 0;
    if ((flags & ~known) != 0 || fill == keyed) {
        Unsupported("IDirectDrawSurface7::Blt",
                    "only a colour fill (DDBLT_COLORFILL) or a source-keyed copy (DDBLT_KEYSRC), "
                    "with DDBLT_WAIT/DDBLT_ASYNC, is supported, got flags 0x%X",
                    flags);
    }
    if (fill && (source != nullptr || sourceRect != nullptr || fx == nullptr)) {
        Unsupported("IDirectDrawSurface7::Blt",
                    "a colour fill takes no source and a DDBLTFX with the colour");
    }
    if (fill && fx->dwSize != sizeof(DDBLTFX)) {
        Unsupported("IDirectDrawSurface7::Blt", "DDBLTFX.dwSize must be %zu, got %u",
                    sizeof(DDBLTFX), fx->dwSize);
    }
    if (keyed && (source == nullptr || fx != nullptr)) {
        Unsupported("IDirectDrawSurface7::Blt",
                    "a keyed copy takes a source surface and no DDBLTFX");
    }
    HRESULT failure;
    if (InjectedFailure(seam::Call::Blt, DDERR_SURFACELOST, &failure)) return failure;
    if (lost || (source != nullptr && AsSurface(source)->lost)) return DDERR_SURFACELOST;
    if (Busy()) return DDERR_SURFACEBUSY;
    WaitForFlip();

    Box dest = destRect != nullptr ? FromRect(*destRect) : Box{0, 0, width, height};
    if (dest.left > dest.right || dest.top > dest.bottom) return DDERR_INVALIDRECT;

    if (fill) {
        BYTE colour = static_cast<BYTE>(fx->dwFillColor);
        return ForEachVisiblePart(this, dest, [&](Box part) {
            for (int y = part.top; y < part.bottom; ++y) {
                std::memset(pixels.get() + static_cast<size_t>(y) * pitch + part.left, colour,
                            part.right - part.left);
            }
        });
    }

    Surface* from = AsSurface(source);
    from->CheckAlive("IDirectDrawSurface7::Blt (source)");
    if (from == this)
        Unsupported("IDirectDrawSurface7::Blt", "copies within one surface are not supported");
    Box src = sourceRect != nullptr ? FromRect(*sourceRect) : Box{0, 0, from->width, from->height};
    if (src.left < 0 || src.top < 0 || src.right > from->width || src.bottom > from->height ||
        src.left > src.right || src.top > src.bottom) {
        return DDERR_INVALIDRECT;
    }
    if (src.right - src.left != dest.right - dest.left ||
        src.bottom - src.top != dest.bottom - dest.top) {
        Unsupported("IDirectDrawSurface7::Blt",
                    "stretching is not supported: source %dx%d, destination %dx%d",
                    src.right - src.left, src.bottom - src.top, dest.right - dest.left,
                    dest.bottom - dest.top);
    }
    // A keyed copy needs the source's colour key, as on the system.
    if (!from->hasKey) return DDERR_INVALIDPARAMS;
    if (from->Busy()) return DDERR_SURFACEBUSY;
    // Both surfaces hold indices into the one display palette: copies are
    // index-exact, never remapped.
    BYTE transparent = from->key;
    return ForEachVisiblePart(this, dest, [&](Box part) {
        for (int y = part.top; y < part.bottom; ++y) {
            const BYTE* in = from->pixels.get() +
                             static_cast<size_t>(src.top + y - dest.top) * from->pitch + src.left +
                             (part.left - dest.left);
            BYTE* out = pixels.get() + static_cast<size_t>(y) * pitch;
            for (int x = part.left; x < part.right; ++x, ++in) {
                if (*in != transparent) out[x] = *in;
            }
        }
    });
}

HRESULT Surface::Flip(LPDIRECTDRAWSURFACE7 targetOverride, DWORD flags) {
    CheckAlive("IDirectDrawSurface7::Flip");
    if (targetOverride != nullptr || (flags & ~DDFLIP_WAIT) != 0) {
        Unsupported("IDirectDrawSurface7::Flip",
                    "only Flip(NULL, DDFLIP_WAIT) is supported, got target %p, flags 0x%X",
                    static_cast<void*>(targetOverride), flags);
    }
    HRESULT failure;
    if (InjectedFailure(seam::Call::Flip, DDERR_SURFACELOST, &failure)) return failure;
    if (back == nullptr) return DDERR_NOTFLIPPABLE;
    if (lost || back->lost) return DDERR_SURFACELOST;
    if (Busy() || back->Busy()) return DDERR_SURFACEBUSY;
    WaitForFlip();
    // The interfaces stay where they are; their pictures change places.
    std::swap(pixels, back->pixels);
    Present(device);
    ++flips;
    if (runs::mode != runs::Mode::Off) runs::NotePicture();
    if (SeamMode()) {
        // Presenting as the program does leaves out the test records.
        if (!seamState.presentLikeProgram) {
            if (!seamState.textsOnly)
                presentedChecksum = Checksum(pixels.get(), width, height, pitch);
            std::swap(textsOfLastPresent, textsSinceFlip);
            textsSinceFlip.count = 0;
        }
        seamState.pollsWithoutProgress = 0;
        if (seamState.frameHook) seamState.frameHook();
    }
    PumpEvents();
    return DD_OK;
}

HRESULT Surface::GetAttachedSurface(LPDDSCAPS2 wanted, LPDIRECTDRAWSURFACE7* attached) {
    CheckAlive("IDirectDrawSurface7::GetAttachedSurface");
    if (wanted == nullptr || attached == nullptr || wanted->dwCaps != DDSCAPS_BACKBUFFER ||
        wanted->dwCaps2 != 0 || wanted->dwCaps3 != 0 || wanted->dwCaps4 != 0) {
        Unsupported("IDirectDrawSurface7::GetAttachedSurface",
                    "only the back buffer (DDSCAPS_BACKBUFFER) can be asked for");
    }
    *attached = nullptr;
    HRESULT failure;
    if (InjectedFailure(seam::Call::GetAttachedSurface, DDERR_NOTFOUND, &failure)) return failure;
    if (back == nullptr) return DDERR_NOTFOUND;
    ++back->refs;
    *attached = back;
    return DD_OK;
}

HRESULT Surface::GetDC(HDC* out) {
    CheckAlive("IDirectDrawSurface7::GetDC");
    if (out == nullptr) return DDERR_INVALIDPARAMS;
    HRESULT failure;
    if (InjectedFailure(seam::Call::GetDC, DDERR_CANTCREATEDC, &failure)) return failure;
    if (lost) return DDERR_SURFACELOST;
    if (dcOut) return DDERR_DCALREADYCREATED;
    if (locked) return DDERR_SURFACEBUSY;
    WaitForFlip();
    dcOut = true;
    // Every device context starts with the defaults: black text, opaque.
    textColour = 0;
    bkMode = kOpaque;
    *out = &dc;
    return DD_OK;
}

HRESULT Surface::ReleaseDC(HDC hdc) {
    CheckAlive("IDirectDrawSurface7::ReleaseDC");
    if (!dcOut || hdc != &dc) return DDERR_INVALIDPARAMS;
    dcOut = false;
    return DD_OK;
}

HRESULT Surface::Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) {
    CheckAlive("IDirectDrawSurface7::Lock");
    if (rect != nullptr || event != nullptr || (flags & ~DDLOCK_WAIT) != 0) {
        Unsupported(
            "IDirectDrawSurface7::Lock",
            "only Lock(NULL, desc, DDLOCK_WAIT, NULL) of the whole surface is supported, got "
            "flags 0x%X",
            flags);
    }
    if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2)) {
        Unsupported("IDirectDrawSurface7::Lock", "DDSURFACEDESC2.dwSize must be %zu, got %u",
                    sizeof(DDSURFACEDESC2), desc != nullptr ? desc->dwSize : 0);
    }
    HRESULT failure;
    if (InjectedFailure(seam::Call::Lock, DDERR_SURFACELOST, &failure)) return failure;
    if (lost) return DDERR_SURFACELOST;
    if (Busy()) return DDERR_SURFACEBUSY;
    WaitForFlip();
    locked = true;
    desc->dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_LPSURFACE;
    desc->dwWidth = static_cast<DWORD>(width);
    desc->dwHeight = static_cast<DWORD>(height);
    desc->lPitch = pitch;
    desc->lpSurface = pixels.get();
    desc->ddsCaps.dwCaps = caps;
    return DD_OK;
}

HRESULT Surface::Unlock(LPRECT rect) {
    CheckAlive("IDirectDrawSurface7::Unlock");
    if (rect != nullptr)
        Unsupported("IDirectDrawSurface7::Unlock", "only Unlock(NULL) is supported");
    if (!locked) return DDERR_NOTLOCKED;
    locked = false;
    return DD_OK;
}

// A surface holds a reference on the palette or clipper attached to it and
// gives back the one it replaces.
template <typename T>
void Attach(T*& slot, T* next, const char* call) {
    if (next != nullptr) {
        next->CheckAlive(call);
        ++next->refs;
    }
    if (slot != nullptr) slot->Release();
    slot = next;
}

HRESULT Surface::SetClipper(LPDIRECTDRAWCLIPPER newClipper) {
    CheckAlive("IDirectDrawSurface7::SetClipper");
    HRESULT failure;
    if (InjectedFailure(seam::Call::SetClipper, DDERR_GENERIC, &failure)) return failure;
    Attach(clipper, static_cast<Clipper*>(newClipper), "IDirectDrawSurface7::SetClipper");
    return DD_OK;
}

HRESULT Surface::SetColorKey(DWORD flags, LPDDCOLORKEY colourKey) {
    CheckAlive("IDirectDrawSurface7::SetColorKey");
    if (flags != DDCKEY_SRCBLT) {
        Unsupported("IDirectDrawSurface7::SetColorKey", "only DDCKEY_SRCBLT is supported, got 0x%X",
                    flags);
    }
    HRESULT failure;
    if (InjectedFailure(seam::Call::SetColorKey, DDERR_GENERIC, &failure)) return failure;
    hasKey = colourKey != nullptr;  // no key record removes the key
    // Without DDCKEY_COLORSPACE only the low value counts.
    key = colourKey != nullptr ? static_cast<BYTE>(colourKey->dwColorSpaceLowValue) : 0;
    return DD_OK;
}

HRESULT Surface::SetPalette(LPDIRECTDRAWPALETTE newPalette) {
    CheckAlive("IDirectDrawSurface7::SetPalette");
    HRESULT failure;
    if (InjectedFailure(seam::Call::SetPalette, DDERR_GENERIC, &failure)) return failure;
    Attach(palette, static_cast<Palette*>(newPalette), "IDirectDrawSurface7::SetPalette");
    return DD_OK;
}

// --- device --------------------------------------------------------------------

HRESULT Device::CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* out, IUnknown* outer) {
    CheckAlive("IDirectDraw7::CreateClipper");
    if (flags != 0 || out == nullptr || outer != nullptr) {
        Unsupported("IDirectDraw7::CreateClipper",
                    "only CreateClipper(0, &clipper, NULL), got flags 0x%X", flags);
    }
    *out = nullptr;
    HRESULT failure;
    if (InjectedFailure(seam::Call::CreateClipper, DDERR_OUTOFMEMORY, &failure)) return failure;
    *out = Track(new Clipper());
    return DD_OK;
}

HRESULT Device::CreatePalette(DWORD flags, LPPALETTEENTRY values, LPDIRECTDRAWPALETTE* out,
                              IUnknown* outer) {
    CheckAlive("IDirectDraw7::CreatePalette");
    if (flags != (DDPCAPS_8BIT | DDPCAPS_ALLOW256) || values == nullptr || out == nullptr ||
        outer != nullptr) {
        Unsupported("IDirectDraw7::CreatePalette",
                    "only 256 entries (DDPCAPS_8BIT | DDPCAPS_ALLOW256) with initial values are "
                    "supported, got flags 0x%X",
                    flags);
    }
    *out = nullptr;
    HRESULT failure;
    if (InjectedFailure(seam::Call::CreatePalette, DDERR_OUTOFMEMORY, &failure)) return failure;
    Palette* palette = Track(new Palette(this));
    std::memcpy(palette->entries, values, sizeof palette->entries);
    ++refs;
    lastPalette = palette;
    *out = palette;
    return DD_OK;
}

HRESULT Device::CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* out, IUnknown* outer) {
    CheckAlive("IDirectDraw7::CreateSurface");
    if (desc == nullptr || out == nullptr || outer != nullptr) {
        Unsupported("IDirectDraw7::CreateSurface",
                    "a description and a result pointer are required");
    }
    if (desc->dwSize != sizeof(DDSURFACEDESC2)) {
        Unsupported("IDirectDraw7::CreateSurface", "DDSURFACEDESC2.dwSize must be %zu, got %u",
                    sizeof(DDSURFACEDESC2), desc->dwSize);
    }
    const DWORD chainCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    bool chain = desc->dwFlags == (DDSD_CAPS | DDSD_BACKBUFFERCOUNT) &&
                 desc->ddsCaps.dwCaps == chainCaps && desc->dwBackBufferCount == 1;
    bool plain = desc->dwFlags == (DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH) &&
                 desc->ddsCaps.dwCaps == DDSCAPS_OFFSCREENPLAIN;
    if (!chain && !plain) {
        Unsupported("IDirectDraw7::CreateSurface",
                    "only a primary flip chain with one back buffer or an off-screen plain surface "
                    "is supported, got dwFlags 0x%X, dwCaps 0x%X, dwBackBufferCount %u",
                    desc->dwFlags, desc->ddsCaps.dwCaps, desc->dwBackBufferCount);
    }
    *out = nullptr;
    HRESULT failure;
    if (InjectedFailure(seam::Call::CreateSurface, DDERR_OUTOFMEMORY, &failure)) return failure;
    if (plain) {
        if (desc->dwWidth == 0 || desc->dwHeight == 0) return DDERR_INVALIDPARAMS;
        if (desc->dwWidth > 4096 || desc->dwHeight > 4096) {
            Unsupported("IDirectDraw7::CreateSurface",
                        "off-screen surfaces up to 4096x4096, got %ux%u", desc->dwWidth,
                        desc->dwHeight);
        }
        // Every surface has the display mode's format: 8-bit palette indices.
        *out =
            Track(new Surface(this, "surface:offscreen", DDSCAPS_OFFSCREENPLAIN,
                              static_cast<int>(desc->dwWidth), static_cast<int>(desc->dwHeight)));
        ++refs;
        return DD_OK;
    }
    if (!exclusive) return DDERR_NOEXCLUSIVEMODE;
    if (!modeSet) {
        Unsupported("IDirectDraw7::CreateSurface",
                    "the flip chain needs the 640x480x8 mode set first");
    }
    if (primary != nullptr) return DDERR_PRIMARYSURFACEALREADYEXISTS;
    Surface* front = Track(new Surface(this, "surface:primary", chainCaps | DDSCAPS_FLIP,
                                       kScreenWidth, kScreenHeight));
    Surface* backBuffer =
        Track(new Surface(this, "surface:back", DDSCAPS_BACKBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX,
                          kScreenWidth, kScreenHeight));
    front->back = backBuffer;
    backBuffer->primary = front;
    primary = front;
    ++refs;  // the chain holds one reference on the device
    *out = front;
    return DD_OK;
}

HRESULT Device::SetCooperativeLevel(HWND window, DWORD flags) {
    CheckAlive("IDirectDraw7::SetCooperativeLevel");
    const DWORD needed = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE;
    const DWORD allowed = needed | DDSCL_ALLOWREBOOT | DDSCL_ALLOWMODEX;
    if ((flags & needed) != needed || (flags & ~allowed) != 0) {
        Unsupported("IDirectDraw7::SetCooperativeLevel",
                    "only exclusive full-screen (DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE, optionally "
                    "DDSCL_ALLOWREBOOT | DDSCL_ALLOWMODEX) is supported, got 0x%X",
                    flags);
    }
    HRESULT failure;
    if (InjectedFailure(seam::Call::SetCooperativeLevel, DDERR_GENERIC, &failure)) return failure;
    if (window == nullptr || window != MainWindowHandle()) return DDERR_INVALIDPARAMS;
    exclusive = true;
    return DD_OK;
}

HRESULT Device::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) {
    CheckAlive("IDirectDraw7::SetDisplayMode");
    if (width != 640 || height != 480 || bpp != 8) {
        Unsupported("IDirectDraw7::SetDisplayMode", "only 640x480x8 is supported, got %ux%ux%u",
                    width, height, bpp);
    }
    if (refresh != 0 || flags != 0) {
        Unsupported("IDirectDraw7::SetDisplayMode",
                    "only the default refresh rate and no flags are supported, got %u and 0x%X",
                    refresh, flags);
    }
    HRESULT failure;
    if (InjectedFailure(seam::Call::SetDisplayMode, DDERR_GENERIC, &failure)) return failure;
    if (!exclusive) return DDERR_NOEXCLUSIVEMODE;
    if (modeSet) return DD_OK;
    // The monitor's mode is never changed: the backend scales the picture to
    // its window instead.
    if (!backend::OpenPresenter()) return DDERR_GENERIC;
    presenter.open = true;
    if (SeamMode())
        presenter.argb.assign(static_cast<size_t>(kScreenWidth) * kScreenHeight, 0xFF000000u);
    modeSet = true;
    return DD_OK;
}

HRESULT Device::RestoreAllSurfaces() {
    CheckAlive("IDirectDraw7::RestoreAllSurfaces");
    HRESULT failure;
    if (InjectedFailure(seam::Call::RestoreAllSurfaces, DDERR_NOEXCLUSIVEMODE, &failure)) {
        return failure;
    }
    for (const auto& object : objects) {
        auto* surface = dynamic_cast<Surface*>(object.get());
        if (surface == nullptr || surface->dead || surface->device != this || !surface->lost) {
            continue;
        }
        surface->lost = false;
        // The memory given back holds whatever was left there.
        std::memset(surface->pixels.get(), 0xCD,
                    static_cast<size_t>(surface->pitch) * surface->height);
    }
    return DD_OK;
}

void LoseAllSurfaces() {
    for (const auto& object : objects) {
        auto* surface = dynamic_cast<Surface*>(object.get());
        if (surface != nullptr && !surface->dead) surface->lost = true;
    }
}

// --- seam read access ------------------------------------------------------------

static Surface* Front() {
    return liveDevice != nullptr ? liveDevice->primary : nullptr;
}
static Surface* Back() {
    return Front() != nullptr ? Front()->back : nullptr;
}
IDirectDrawSurface7* PrimarySurface() {
    return Front();
}
IDirectDrawSurface7* BackSurface() {
    return Back();
}

const BYTE* SurfaceData(IDirectDrawSurface7* surface, int* width, int* height, int* pitch) {
    Surface* s = AsSurface(surface);
    if (s == nullptr || s->dead) return nullptr;
    if (width != nullptr) *width = s->width;
    if (height != nullptr) *height = s->height;
    if (pitch != nullptr) *pitch = s->pitch;
    return s->pixels.get();
}

PALETTEENTRY DisplayPaletteEntry(int index) {
    const Palette* palette = DisplayPaletteObject();
    if (palette == nullptr || index < 0 || index > 255) return PALETTEENTRY{};
    return palette->entries[index];
}

std::vector<RECT> BackClipRects() {
    Surface* back = Back();
    if (back == nullptr || back->clipper == nullptr) return {};
    return back->clipper->rects;
}

RECT BackClipBound() {
    Surface* back = Back();
    if (back == nullptr || back->clipper == nullptr) return RECT{};
    return back->clipper->bound;
}

int FlipCount() {
    return flips;
}
std::uint32_t PresentedChecksum() {
    return presentedChecksum;
}

std::uint32_t PresentedPixel(int x, int y) {
    if (liveDevice == nullptr || liveDevice->presenter.argb.empty() ||
        seamState.presentLikeProgram || x < 0 || y < 0 || x >= kScreenWidth || y >= kScreenHeight) {
        return 0;
    }
    return liveDevice->presenter.argb[static_cast<size_t>(y) * kScreenWidth + x];
}

int LiveObjectCount() {
    int live = 0;
    for (const auto& object : objects) live += object->dead ? 0 : 1;
    return live;
}

void ForgetDirectDraw() {
    if (liveDevice != nullptr) liveDevice->ClosePresenter();
    objects.clear();
    liveDevice = nullptr;
    releaseLog.clear();
    flips = 0;
    presentedChecksum = 0;
}

}  // namespace standin

using namespace standin;

HRESULT WINAPI DirectDrawCreateEx(GUID* guid, LPVOID* out, REFIID iid, IUnknown* outer) {
    if (guid != nullptr || out == nullptr || outer != nullptr ||
        std::memcmp(&iid, &IID_IDirectDraw7, sizeof(IID)) != 0) {
        Unsupported("DirectDrawCreateEx",
                    "only DirectDrawCreateEx(NULL, &device, IID_IDirectDraw7, NULL) is supported");
    }
    *out = nullptr;
    HRESULT failure;
    if (InjectedFailure(seam::Call::DirectDrawCreateEx, DDERR_GENERIC, &failure)) return failure;
    if (liveDevice != nullptr && !liveDevice->dead) {
        Unsupported("DirectDrawCreateEx", "only one device at a time is supported");
    }
    liveDevice = Track(new Device());
    *out = static_cast<IDirectDraw7*>(liveDevice);
    return DD_OK;
}

// --- GDI on a surface's device context ----------------------------------------------

namespace {

Surface* SurfaceOfDc(HDC hdc, const char* call) {
    NoteCall();
    for (const auto& object : objects) {
        Surface* surface = dynamic_cast<Surface*>(object.get());
        if (surface != nullptr && &surface->dc == hdc) {
            surface->CheckAlive(call);
            if (!surface->dcOut) Unsupported(call, "the device context has been released");
            return surface;
        }
    }
    Unsupported(call, "only device contexts of DirectDraw surfaces (GetDC) are supported");
}

}  // namespace

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF colour) {
    Surface* surface = SurfaceOfDc(hdc, "SetTextColor");
    if ((colour & 0xFF000000u) != 0) {
        Unsupported("SetTextColor", "only plain RGB colours are supported, got 0x%08X", colour);
    }
    COLORREF previous = surface->textColour;
    surface->textColour = colour;
    return previous;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
    Surface* surface = SurfaceOfDc(hdc, "SetBkMode");
    if (mode != TRANSPARENT)
        Unsupported("SetBkMode", "only TRANSPARENT is supported, got %d", mode);
    int previous = surface->bkMode;
    surface->bkMode = mode;
    return previous;
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR text, int length) {
    Surface* surface = SurfaceOfDc(hdc, "TextOutA");
    if (surface->bkMode != TRANSPARENT) {
        Unsupported("TextOutA",
                    "opaque text backgrounds are not supported: SetBkMode(TRANSPARENT) first");
    }
    if (length < 0 || (text == nullptr && length > 0)) return FALSE;
    BYTE index = NearestIndex(surface->textColour);
    DrawText(surface->pixels.get(), surface->width, surface->height, surface->pitch, x, y, text,
             length, index);
    if (SeamMode() && !seamState.presentLikeProgram && surface->primary != nullptr) {
        textsSinceFlip.Add(x, y, text, length, surface->textColour, index);
    }
    if (runs::mode != runs::Mode::Off && surface->primary != nullptr) runs::NoteText(text, length);
    return TRUE;
}

void seam::LoseSurfaces() {
    LoseAllSurfaces();
}
