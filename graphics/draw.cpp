// The drawing primitives every screen is made of: colour fills, labels in a
// palette colour, keyed copies of the basket frames, and presenting the
// finished picture. All draw on `back`; none calls through a missing object.
#include <climits>
#include <cstring>

#include "graphics/display.h"

// A flip that keeps failing (a display taken from us, a lost surface) would
// otherwise hang the game with no way to quit; after this many attempts the
// frame is dropped and the game's own key polling carries on.
static const int kMaxFlipAttempts = 1000;

static int lastPresentShown = 1;

int LastPresentShown() {
    return lastPresentShown;
}

// a + b, held at the int range instead of overflowing.
static int AddClamped(int a, int b) {
    const long long sum = static_cast<long long>(a) + b;
    if (sum > INT_MAX) return INT_MAX;
    if (sum < INT_MIN) return INT_MIN;
    return static_cast<int>(sum);
}

int FillRect(int left, int top, int right, int bottom, int colour) {
    if (display.back == nullptr) return 1;
    DDBLTFX fx;
    memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dwFillColor = static_cast<DWORD>(colour);
    // The corners are inclusive; the platform's rectangle excludes right and bottom.
    RECT dest = {left, top, AddClamped(right, 1), AddClamped(bottom, 1)};
    display.back->Blt(&dest, nullptr, nullptr, DDBLT_WAIT | DDBLT_COLORFILL | DDBLT_ASYNC, &fx);
    return 1;
}

// The text colour is the RGB of our own PaletteTable entry, not the display
// palette's, so it follows the table even when an upload failed.
int DrawLabel(const char* text, int colour, int x, int y) {
    if (display.back == nullptr) return 0;
    HDC dc = nullptr;
    if (display.back->GetDC(&dc) != 0) return 0;
    const PALETTEENTRY& entry = PaletteTable[colour & 0xFF];  // a palette index is 8 bits
    const COLORREF rgb = static_cast<COLORREF>(entry.peRed) |
                         (static_cast<COLORREF>(entry.peGreen) << 8) |
                         (static_cast<COLORREF>(entry.peBlue) << 16);
    SetTextColor(dc, rgb);
    SetBkMode(dc, TRANSPARENT);
    if (text == nullptr) text = "";
    TextOutA(dc, x, y, text, static_cast<int>(strlen(text)));
    display.back->ReleaseDC(dc);
    return 1;
}

// Copies the frame's first 71 columns and 79 rows, leaving index-0 pixels out.
int BlitFrame(IDirectDrawSurface7* surface, int left, int top) {
    if (surface == nullptr || display.back == nullptr) return 0;
    RECT dest = {left, top, AddClamped(left, 71), AddClamped(top, 79)};
    RECT source = {0, 0, 71, 79};
    const HRESULT result =
        display.back->Blt(&dest, surface, &source, DDBLT_WAIT | DDBLT_KEYSRC, nullptr);
    return result >= 0 ? 1 : 0;
}

// Any non-zero result, not only a failure code, means "not yet shown".
int PresentFrame() {
    lastPresentShown = 0;
    if (display.primary == nullptr) return 1;
    for (int attempt = 0; attempt < kMaxFlipAttempts; ++attempt) {
        const HRESULT result = display.primary->Flip(nullptr, DDFLIP_WAIT);
        if (result == 0) {
            lastPresentShown = 1;
            break;
        }
        // The display was taken away: flipping again cannot succeed until the
        // surfaces are restored, and the back surface lost this frame's
        // picture anyway, so the frame is dropped and the next one is drawn
        // afresh on the restored surfaces.
        if (result == DDERR_SURFACELOST) {
            lastPresentShown = RestoreDisplay() ? 0 : -1;
            break;
        }
    }
    return 1;
}
