// GDI on a surface's device context: the text colour, the background mode
// and TextOutA, in the display palette's entry nearest the colour, from the
// compiled-in font (glyphs.cpp).
#include "platform/core/ddraw_objects.h"
#include "platform/core/harness.h"

namespace standin {

namespace {

// The display palette entry nearest to `colour` (squared RGB distance, ties
// to the lowest index).
BYTE NearestIndex(COLORREF colour) {
    const Palette* palette = DisplayPalette();
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

Surface* SurfaceOfDc(HDC hdc, const ApiCall& call) {
    for (const auto& object : objects) {
        Surface* surface = dynamic_cast<Surface*>(object.get());
        if (surface != nullptr && &surface->dc == hdc) {
            surface->CheckAlive(call);
            if (!surface->dcOut) call.Unsupported("the device context has been released");
            return surface;
        }
    }
    call.Unsupported("only device contexts of DirectDraw surfaces (GetDC) are supported");
}

}  // namespace

}  // namespace standin

using namespace standin;

COLORREF WINAPI SetTextColor(HDC hdc, COLORREF colour) {
    const ApiCall call(Entry::SetTextColor);
    Surface* surface = SurfaceOfDc(hdc, call);
    if ((colour & 0xFF000000u) != 0) {
        call.Unsupported("only plain RGB colours are supported, got 0x%08X", colour);
    }
    COLORREF previous = surface->textColour;
    surface->textColour = colour;
    return previous;
}

int WINAPI SetBkMode(HDC hdc, int mode) {
    const ApiCall call(Entry::SetBkMode);
    Surface* surface = SurfaceOfDc(hdc, call);
    if (mode != TRANSPARENT) call.Unsupported("only TRANSPARENT is supported, got %d", mode);
    int previous = surface->bkMode;
    surface->bkMode = mode;
    return previous;
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR text, int length) {
    const ApiCall call(Entry::TextOutA);
    Surface* surface = SurfaceOfDc(hdc, call);
    if (surface->bkMode != TRANSPARENT) {
        call.Unsupported("opaque text backgrounds are not supported: SetBkMode(TRANSPARENT) first");
    }
    if (length < 0 || (text == nullptr && length > 0)) return FALSE;
    BYTE index = NearestIndex(surface->textColour);
    DrawText(surface->pixels.get(), surface->width, surface->height, surface->pitch, x, y, text,
             length, index);
    if (harness != nullptr && surface->primary != nullptr) {
        harness->DrewText(x, y, text, length, surface->textColour, index);
    }
    return TRUE;
}
