// The display device: the exclusive 640 x 480 x 8 mode, the flip chain, the
// display palette with its default ramps, and the clipper that holds drawing
// on the back surface to the screen.
#include "graphics/display.h"

#include <cstdlib>
#include <cstring>

// Set once by WinMain before StartUp opens the display.
extern HWND mainWindow;

Display display = {nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
PALETTEENTRY PaletteTable[256];

// Four ramps of 64 entries (red, green, blue, grey), each running 0, 4, ... 252.
static void FillDefaultRamps() {
    memset(PaletteTable, 0, sizeof(PaletteTable));
    for (int i = 0; i < 256; ++i) {
        const BYTE v = static_cast<BYTE>(4 * (i % 64));
        PALETTEENTRY& entry = PaletteTable[i];
        const int ramp = i / 64;
        if (ramp == 0 || ramp == 3) entry.peRed = v;
        if (ramp == 1 || ramp == 3) entry.peGreen = v;
        if (ramp == 2 || ramp == 3) entry.peBlue = v;
        entry.peFlags = PC_NOCOLLAPSE;
    }
}

// Objects are created into locals and stored only when their creation
// succeeded, so a failed step never leaves a half-made object in the record.
int DisplayOpen() {
    ForgetFrameCells();  // they belonged to an earlier device's surfaces
    IDirectDraw7* device = nullptr;
    if (DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&device), IID_IDirectDraw7, nullptr) !=
            0 ||
        device == nullptr) {
        return 0;
    }
    display.device = device;

    if (display.device->SetCooperativeLevel(mainWindow, DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT |
                                                            DDSCL_EXCLUSIVE | DDSCL_ALLOWMODEX) !=
        0) {
        return 0;
    }
    if (display.device->SetDisplayMode(640, 480, 8, 0, 0) != 0) return 0;
    display.screenHeight = 480;
    display.screenWidth = 640;
    display.screenBpp = 8;

    DDSURFACEDESC2 primaryDesc;
    memset(&primaryDesc, 0, sizeof(primaryDesc));
    primaryDesc.dwSize = sizeof(primaryDesc);
    primaryDesc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    primaryDesc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    primaryDesc.dwBackBufferCount = 1;
    IDirectDrawSurface7* primary = nullptr;
    // Without a flip chain there is nothing to draw on or show.
    if (display.device->CreateSurface(&primaryDesc, &primary, nullptr) != 0 || primary == nullptr) {
        return 0;
    }
    display.primary = primary;

    DDSCAPS2 backCaps;
    memset(&backCaps, 0, sizeof(backCaps));
    backCaps.dwCaps = DDSCAPS_BACKBUFFER;
    IDirectDrawSurface7* back = nullptr;
    if (display.primary->GetAttachedSurface(&backCaps, &back) != 0 || back == nullptr) {
        return 0;
    }
    display.back = back;

    FillDefaultRamps();
    IDirectDrawPalette* palette = nullptr;
    if (display.device->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, PaletteTable, &palette,
                                      nullptr) != 0 ||
        palette == nullptr) {
        return 0;
    }
    display.palette = palette;
    if (display.primary->SetPalette(display.palette) != 0) return 0;

    ClearSurface(display.primary);
    ClearSurface(display.back);

    // Without a clipper drawing still works; it is only no longer trimmed.
    RECT screen = {0, 0, display.screenWidth, display.screenHeight};
    display.clipper = AttachClipList(screen);
    return 1;
}

int RestoreDisplay() {
    if (display.device == nullptr) return 0;
    if (display.device->RestoreAllSurfaces() != 0) return 0;
    if (display.palette != nullptr) display.palette->SetEntries(0, 0, 256, PaletteTable);
    RestoreFrameCells();
    return 1;
}

// Gives back every object present, clipper first and device last. The record
// is left empty so that nothing can draw through a released object.
int DisplayClose() {
    if (display.clipper != nullptr) display.clipper->Release();
    display.clipper = nullptr;
    if (display.palette != nullptr) display.palette->Release();
    display.palette = nullptr;
    if (display.back != nullptr) display.back->Release();
    display.back = nullptr;
    if (display.primary != nullptr) display.primary->Release();
    display.primary = nullptr;
    if (display.device != nullptr) display.device->Release();
    display.device = nullptr;
    return 1;
}

// A clipper whose clip list is the one rectangle, attached to `back`; none
// when any step fails, and then the display simply goes unclipped. A clipper
// made before a later step failed is released, since nothing would refer to it.
IDirectDrawClipper* AttachClipList(RECT rect) {
    if (display.device == nullptr || display.back == nullptr) return nullptr;
    IDirectDrawClipper* clipper = nullptr;
    if (display.device->CreateClipper(0, &clipper, nullptr) != 0 || clipper == nullptr) {
        return nullptr;
    }

    // Header and one rectangle: 32 + 16 bytes.
    const size_t blockSize = sizeof(RGNDATAHEADER) + sizeof(RECT);
    RGNDATA* block = static_cast<RGNDATA*>(malloc(blockSize));
    if (block == nullptr) {
        clipper->Release();
        return nullptr;
    }
    memset(block, 0, blockSize);
    memcpy(block->Buffer, &rect, sizeof(RECT));
    block->rdh.dwSize = sizeof(RGNDATAHEADER);
    block->rdh.iType = RDH_RECTANGLES;
    block->rdh.nCount = 1;
    block->rdh.nRgnSize = sizeof(RECT);

    // The bound starts inverted at +-64000 and takes the rectangle in.
    RECT bound = {64000, 64000, -64000, -64000};
    if (rect.left < bound.left) bound.left = rect.left;
    if (rect.right > bound.right) bound.right = rect.right;
    if (rect.top < bound.top) bound.top = rect.top;
    if (rect.bottom > bound.bottom) bound.bottom = rect.bottom;
    block->rdh.rcBound = bound;

    if (clipper->SetClipList(block, 0) != 0 || display.back->SetClipper(clipper) != 0) {
        free(block);
        clipper->Release();
        return nullptr;
    }
    free(block);
    return clipper;
}

// Fills the whole surface with index 0.
int ClearSurface(IDirectDrawSurface7* surface) {
    if (surface == nullptr) return 1;
    DDBLTFX fx;
    memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dwFillColor = 0;
    surface->Blt(nullptr, nullptr, nullptr, DDBLT_WAIT | DDBLT_COLORFILL | DDBLT_ASYNC, &fx);
    return 1;
}
