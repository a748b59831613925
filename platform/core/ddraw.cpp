// DirectDraw 7's device, palettes and clippers: making objects (the flip
// chain and off-screen surfaces among them), the display mode, giving lost
// surfaces back, and the final releases. The objects themselves are in
// ddraw_objects.h, surfaces' methods in surface.cpp.
#include <cstring>

#include "platform/backend.h"
#include "platform/core/ddraw_objects.h"

const IID IID_IDirectDraw7 = {
    0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};

namespace standin {

std::vector<std::unique_ptr<Tracked>> objects;
std::vector<std::string> releaseLog;
Device* liveDevice = nullptr;

void LogFinalRelease(Tracked* object) {
    object->dead = true;
    releaseLog.push_back(object->kind);
}

// --- clipper -------------------------------------------------------------------

ULONG Clipper::Release() {
    const ApiCall call(Entry::ClipperRelease);
    CheckAlive(call);
    if (--refs == 0) LogFinalRelease(this);
    return static_cast<ULONG>(refs);
}

HRESULT Clipper::SetClipList(LPRGNDATA list, DWORD flags) {
    const ApiCall call(Entry::SetClipList);
    CheckAlive(call);
    if (flags != 0) call.Unsupported("flags must be 0, got 0x%X", flags);
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    if (list == nullptr) {  // removes the list
        hasList = false;
        rects.clear();
        return DD_OK;
    }
    if (list->rdh.dwSize != sizeof(RGNDATAHEADER) || list->rdh.iType != RDH_RECTANGLES) {
        call.Unsupported("the header needs dwSize %zu and iType RDH_RECTANGLES, got %u and %u",
                         sizeof(RGNDATAHEADER), list->rdh.dwSize, list->rdh.iType);
    }
    // The clipper keeps its own copy: the caller may free the block at once.
    rects.resize(list->rdh.nCount);
    if (!rects.empty()) std::memcpy(rects.data(), list->Buffer, rects.size() * sizeof(RECT));
    bound = list->rdh.rcBound;
    hasList = true;
    return DD_OK;
}

// --- palette -------------------------------------------------------------------

ULONG Palette::Release() {
    const ApiCall call(Entry::PaletteRelease);
    CheckAlive(call);
    if (--refs == 0) {
        LogFinalRelease(this);
        device->Release();
    }
    return static_cast<ULONG>(refs);
}

HRESULT Palette::SetEntries(DWORD flags, DWORD start, DWORD count, LPPALETTEENTRY values) {
    const ApiCall call(Entry::SetEntries);
    CheckAlive(call);
    if (flags != 0) call.Unsupported("flags must be 0, got 0x%X", flags);
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    if (values == nullptr || start > 256 || count > 256 - start) return DDERR_INVALIDPARAMS;
    std::memcpy(entries + start, values, count * sizeof(PALETTEENTRY));
    ++version;
    return DD_OK;
}

// --- device --------------------------------------------------------------------

ULONG Device::Release() {
    const ApiCall call(Entry::DeviceRelease);
    CheckAlive(call);
    if (--refs == 0) {
        LogFinalRelease(this);
        ClosePresenter();
    }
    return static_cast<ULONG>(refs);
}

void Device::ClosePresenter() {
    if (presenter.open) backend::ClosePresenter();
    presenter = Presenter{};
}

HRESULT Device::CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER* out, IUnknown* outer) {
    const ApiCall call(Entry::CreateClipper);
    CheckAlive(call);
    if (flags != 0 || out == nullptr || outer != nullptr) {
        call.Unsupported("only CreateClipper(0, &clipper, NULL), got flags 0x%X", flags);
    }
    *out = nullptr;
    HRESULT failure;
    if (call.Fails(DDERR_OUTOFMEMORY, &failure)) return failure;
    *out = Track(new Clipper());
    return DD_OK;
}

HRESULT Device::CreatePalette(DWORD flags, LPPALETTEENTRY values, LPDIRECTDRAWPALETTE* out,
                              IUnknown* outer) {
    const ApiCall call(Entry::CreatePalette);
    CheckAlive(call);
    if (flags != (DDPCAPS_8BIT | DDPCAPS_ALLOW256) || values == nullptr || out == nullptr ||
        outer != nullptr) {
        call.Unsupported(
            "only 256 entries (DDPCAPS_8BIT | DDPCAPS_ALLOW256) with initial values are "
            "supported, got flags 0x%X",
            flags);
    }
    *out = nullptr;
    HRESULT failure;
    if (call.Fails(DDERR_OUTOFMEMORY, &failure)) return failure;
    Palette* palette = Track(new Palette(this));
    std::memcpy(palette->entries, values, sizeof palette->entries);
    ++refs;
    lastPalette = palette;
    *out = palette;
    return DD_OK;
}

HRESULT Device::CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* out, IUnknown* outer) {
    const ApiCall call(Entry::CreateSurface);
    CheckAlive(call);
    if (desc == nullptr || out == nullptr || outer != nullptr) {
        call.Unsupported("a description and a result pointer are required");
    }
    if (desc->dwSize != sizeof(DDSURFACEDESC2)) {
        call.Unsupported("DDSURFACEDESC2.dwSize must be %zu, got %u", sizeof(DDSURFACEDESC2),
                         desc->dwSize);
    }
    const DWORD chainCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    bool chain = desc->dwFlags == (DDSD_CAPS | DDSD_BACKBUFFERCOUNT) &&
                 desc->ddsCaps.dwCaps == chainCaps && desc->dwBackBufferCount == 1;
    bool plain = desc->dwFlags == (DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH) &&
                 desc->ddsCaps.dwCaps == DDSCAPS_OFFSCREENPLAIN;
    if (!chain && !plain) {
        call.Unsupported(
            "only a primary flip chain with one back buffer or an off-screen plain surface "
            "is supported, got dwFlags 0x%X, dwCaps 0x%X, dwBackBufferCount %u",
            desc->dwFlags, desc->ddsCaps.dwCaps, desc->dwBackBufferCount);
    }
    *out = nullptr;
    HRESULT failure;
    if (call.Fails(DDERR_OUTOFMEMORY, &failure)) return failure;
    if (plain) {
        if (desc->dwWidth == 0 || desc->dwHeight == 0) return DDERR_INVALIDPARAMS;
        if (desc->dwWidth > 4096 || desc->dwHeight > 4096) {
            call.Unsupported("off-screen surfaces up to 4096x4096, got %ux%u", desc->dwWidth,
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
        call.Unsupported("the flip chain needs the 640x480x8 mode set first");
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
    const ApiCall call(Entry::SetCooperativeLevel);
    CheckAlive(call);
    const DWORD needed = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE;
    const DWORD allowed = needed | DDSCL_ALLOWREBOOT | DDSCL_ALLOWMODEX;
    if ((flags & needed) != needed || (flags & ~allowed) != 0) {
        call.Unsupported(
            "only exclusive full-screen (DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE, optionally "
            "DDSCL_ALLOWREBOOT | DDSCL_ALLOWMODEX) is supported, got 0x%X",
            flags);
    }
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    if (window == nullptr || window != MainWindowHandle()) return DDERR_INVALIDPARAMS;
    exclusive = true;
    return DD_OK;
}

HRESULT Device::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) {
    const ApiCall call(Entry::SetDisplayMode);
    CheckAlive(call);
    if (width != kScreenWidth || height != kScreenHeight || bpp != 8) {
        call.Unsupported("only 640x480x8 is supported, got %ux%ux%u", width, height, bpp);
    }
    if (refresh != 0 || flags != 0) {
        call.Unsupported(
            "only the default refresh rate and no flags are supported, got %u and 0x%X", refresh,
            flags);
    }
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    if (!exclusive) return DDERR_NOEXCLUSIVEMODE;
    if (modeSet) return DD_OK;
    // The monitor's mode is never changed: the backend scales the picture to
    // its window instead.
    if (!backend::OpenPresenter()) return DDERR_GENERIC;
    presenter.open = true;
    modeSet = true;
    return DD_OK;
}

HRESULT Device::RestoreAllSurfaces() {
    const ApiCall call(Entry::RestoreAllSurfaces);
    CheckAlive(call);
    HRESULT failure;
    if (call.Fails(DDERR_NOEXCLUSIVEMODE, &failure)) {
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

void ForgetDirectDraw() {
    if (liveDevice != nullptr) liveDevice->ClosePresenter();
    objects.clear();
    liveDevice = nullptr;
    releaseLog.clear();
}

}  // namespace standin

using namespace standin;

HRESULT WINAPI DirectDrawCreateEx(GUID* guid, LPVOID* out, REFIID iid, IUnknown* outer) {
    const ApiCall call(Entry::DirectDrawCreateEx);
    if (guid != nullptr || out == nullptr || outer != nullptr ||
        std::memcmp(&iid, &IID_IDirectDraw7, sizeof(IID)) != 0) {
        call.Unsupported(
            "only DirectDrawCreateEx(NULL, &device, IID_IDirectDraw7, NULL) is supported");
    }
    *out = nullptr;
    HRESULT failure;
    if (call.Fails(DDERR_GENERIC, &failure)) return failure;
    if (liveDevice != nullptr && !liveDevice->dead) {
        call.Unsupported("only one device at a time is supported");
    }
    liveDevice = Track(new Device());
    *out = static_cast<IDirectDraw7*>(liveDevice);
    return DD_OK;
}
