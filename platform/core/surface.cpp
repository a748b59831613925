// DirectDraw 7's surfaces: fills and colour-keyed copies through a clip
// list, Flip (the picture it shows goes out in present.cpp), locks, device
// contexts, and the palette, clipper and colour key attached to a surface.
#include <algorithm>
#include <cstring>

#include "platform/core/ddraw_objects.h"
#include "platform/core/harness.h"
#include "platform/core/run.h"

namespace standin {

namespace {

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

}  // namespace

// --- surface -------------------------------------------------------------------

ULONG Surface::Release() {
    const ApiCall call(Entry::SurfaceRelease);
    CheckAlive(call);
    if (refs <= 0) call.Unsupported("the %s has no references left", kind);
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
    const ApiCall call(Entry::Blt);
    CheckAlive(call);
    const DWORD known = DDBLT_WAIT | DDBLT_ASYNC | DDBLT_COLORFILL | DDBLT_KEYSRC;
    bool fill = (flags & DDBLT_COLORFILL) != 0;
    bool keyed = (flags & DDBLT_KEYSRC) != 0;
    if ((flags & ~known) != 0 || fill == keyed) {
        call.Unsupported(
            "only a colour fill (DDBLT_COLORFILL) or a source-keyed copy (DDBLT_KEYSRC), "
            "with DDBLT_WAIT/DDBLT_ASYNC, is supported, got flags 0x%X",
            flags);
    }
    if (fill && (source != nullptr || sourceRect != nullptr || fx == nullptr)) {
        call.Unsupported("a colour fill takes no source and a DDBLTFX with the colour");
    }
    if (fill && fx->dwSize != sizeof(DDBLTFX)) {
        call.Unsupported("DDBLTFX.dwSize must be %zu, got %u", sizeof(DDBLTFX), fx->dwSize);
    }
    if (keyed && (source == nullptr || fx != nullptr)) {
        call.Unsupported("a keyed copy takes a source surface and no DDBLTFX");
    }
    HRESULT failure;
    if (call.Fails(DDERR_SURFACELOST, &failure)) return failure;
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
    from->CheckAlive(call);
    if (from == this) call.Unsupported("copies within one surface are not supported");
    Box src = sourceRect != nullptr ? FromRect(*sourceRect) : Box{0, 0, from->width, from->height};
    if (src.left < 0 || src.top < 0 || src.right > from->width || src.bottom > from->height ||
        src.left > src.right || src.top > src.bottom) {
        return DDERR_INVALIDRECT;
    }
    if (src.right - src.left != dest.right - dest.left ||
        src.bottom - src.top != dest.bottom - dest.top) {
        call.Unsupported("stretching is not supported: source %dx%d, destination %dx%d",
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
    const ApiCall call(Entry::Flip);
    CheckAlive(call);
    if (targetOverride != nullptr || (flags & ~DDFLIP_WAIT) != 0) {
        call.Unsupported("only Flip(NULL, DDFLIP_WAIT) is supported, got target %p, flags 0x%X",
                         static_cast<void*>(targetOverride), flags);
    }
    HRESULT failure;
    if (call.Fails(DDERR_SURFACELOST, &failure)) return failure;
    if (back == nullptr) return DDERR_NOTFLIPPABLE;
    if (lost || back->lost) return DDERR_SURFACELOST;
    if (Busy() || back->Busy()) return DDERR_SURFACEBUSY;
    WaitForFlip();
    // The interfaces stay where they are; their pictures change places.
    std::swap(pixels, back->pixels);
    Present(device);
    if (runs::mode != runs::Mode::Off) runs::NotePicture();
    if (harness != nullptr) harness->Flipped();
    PumpEvents();
    return DD_OK;
}

HRESULT Surface::GetAttachedSurface(LPDDSCAPS2 wanted, LPDIRECTDRAWSURFACE7* attached) {
    const ApiCall call(Entry::GetAttachedSurface);
    CheckAlive(call);
    if (wanted == nullptr || attached == nullptr || wanted->dwCaps != DDSCAPS_BACKBUFFER ||
        wanted->dwCaps2 != 0 || wanted->dwCaps3 != 0 || wanted->dwCaps4 != 0) {
        call.Unsupported("only the back buffer (DDSCAPS_BACKBUFFER) can be asked for");
    }
    *attached = nullptr;
    HRESULT failure;
    if (call.Fails(DDERR_NOTFOUND, &failure)) return failure;
    if (back == nullptr) return DDERR_NOTFOUND;
    ++back->refs;
    *attached = back;
    return DD_OK;
}

HRESULT Surface::GetDC(HDC* out) {
    const ApiCall call(Entry::GetDC);
    CheckAlive(call);
    if (out == nullptr) return DDERR_INVALIDPARAMS;
    HRESULT failure;
    if (call.Fails(DDERR_CANTCREATEDC, &failure)) return failure;
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
    const ApiCall call(Entry::ReleaseDC);
    CheckAlive(call);
    if (!dcOut || hdc != &dc) return DDERR_INVALIDPARAMS;
    dcOut = false;
    return DD_OK;
}

HRESULT Surface::Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) {
    const ApiCall call(Entry::Lock);
    CheckAlive(call);
    if (rect != nullptr || event != nullptr || (flags & ~DDLOCK_WAIT) != 0) {
        call.Unsupported(
            "only Lock(NULL, desc, DDLOCK_WAIT, NULL) of the whole surface is supported, got "
            "flags 0x%X",
            flags);
    }
    if (desc == nullptr || desc->dwSize != sizeof(DDSURFACEDESC2)) {
        call.Unsupported("DDSURFACEDESC2.dwSize must be %zu, got %u", sizeof(DDSURFACEDESC2),
                         desc != nullptr ? desc->dwSize : 0);
    }
    HRESULT failure;
    if (call.Fails(DDERR_SURFACELOST, &failure)) return failure;
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
    const ApiCall call(Entry::Unlock);
    CheckAlive(call);
    if (rect != nullptr) call.Unsupported("only Unlock(NULL) is supported");
    if (!locked) return DDERR_NOTLOCKED;
    locked = false;
    return DD_OK;
}

// A surface holds a reference on the palette or clipper attached to it and
// gives back the one it replaces.
template <typename T>
void Attach(T*& slot, T* next, const ApiCall& call) {
    if (next != nullptr) {
        next->CheckAlive(call);
        ++next->refs;
    }
    if (slot != nullptr) slot->Release();
    slot = next;
}

HRESULT Surface::SetClipper(LPDIRECTDRAWCLIPPER newClipper) {
    const ApiCall call(Entry::SetClipper);
    CheckAlive(call);
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    Attach(clipper, static_cast<Clipper*>(newClipper), call);
    return DD_OK;
}

HRESULT Surface::SetColorKey(DWORD flags, LPDDCOLORKEY colourKey) {
    const ApiCall call(Entry::SetColorKey);
    CheckAlive(call);
    if (flags != DDCKEY_SRCBLT) {
        call.Unsupported("only DDCKEY_SRCBLT is supported, got 0x%X", flags);
    }
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    hasKey = colourKey != nullptr;  // no key record removes the key
    // Without DDCKEY_COLORSPACE only the low value counts.
    key = colourKey != nullptr ? static_cast<BYTE>(colourKey->dwColorSpaceLowValue) : 0;
    return DD_OK;
}

HRESULT Surface::SetPalette(LPDIRECTDRAWPALETTE newPalette) {
    const ApiCall call(Entry::SetPalette);
    CheckAlive(call);
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    Attach(palette, static_cast<Palette*>(newPalette), call);
    return DD_OK;
}

}  // namespace standin
