// Shared helpers of the stand-in's tests: a fixture that resets the seam and
// a minimal window procedure, so each test opens its own window and display.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/seam.h"
#include "platform/winapi.h"

// Messages that reached TestWindowProc, in order.
extern std::vector<UINT> windowProcMessages;
LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A registered class and a desktop-sized window, as the game makes them.
HWND OpenTestWindow();

// The display as the game opens it: device, 640x480x8, flip chain, back
// buffer, palette (entry i = (i, 255 - i, i / 2)) on the primary.
struct TestDisplay {
    IDirectDraw7* device = nullptr;
    IDirectDrawSurface7* primary = nullptr;
    IDirectDrawSurface7* back = nullptr;
    IDirectDrawPalette* palette = nullptr;
};
TestDisplay OpenTestDisplay(HWND window);

// A clipper with the given rectangles attached to `surface`.
IDirectDrawClipper* AttachClipper(IDirectDraw7* device, IDirectDrawSurface7* surface,
                                  const std::vector<RECT>& rects);

HRESULT Fill(IDirectDrawSurface7* surface, RECT* rect, BYTE colour);
BYTE PixelAt(IDirectDrawSurface7* surface, int x, int y);

class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override;
};
