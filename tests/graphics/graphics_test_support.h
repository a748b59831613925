// Shared helpers of the graphics tests: a fresh process through the seam, an
// open display, BMP files built byte by byte, and reading the back surface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graphics/display.h"
#include "platform/seam.h"

namespace gfx {

// Registers the one window class and makes the full-screen window.
HWND MakeWindow(const char* title);
// Back to a fresh process: seam reset, display record and palette table at
// their start values, a window to hand DisplayOpen.
void ResetProcess();
// ResetProcess, then DisplayOpen; fails the test if the display does not open.
void OpenDisplay();

// One BMP file as the reader sees it. `rows` are the pixel rows in stored
// order; their bytes are written one after the other without padding.
struct BmpSpec {
    int32_t width = 4;
    int32_t height = 1;
    uint16_t bitCount = 8;
    int64_t sizeImage = -1;      // -1: the rows' total length
    uint8_t table[256][4] = {};  // blue, green, red, reserved as stored
    std::vector<std::vector<uint8_t>> rows;
};
std::vector<uint8_t> MakeBmp(const BmpSpec& spec);

// Writes `bytes` to a fresh temporary file and opens it with OpenFile.
HFILE OpenBytes(const std::vector<uint8_t>& bytes);
// Files this process holds open; the reader must leave it as it found it.
int OpenFileCount();

// A sheet of the given size whose top-down pixel (row, column) is
// SheetValue(row, column), stored bottom row first.
std::vector<uint8_t> MakeSheet(int width, int height);
uint8_t SheetValue(int row, int column);

uint8_t BackAt(int x, int y);
int CountBack(uint8_t index);
// Smallest rectangle (right and bottom exclusive) holding every back pixel of
// `index`; all zero when there is none.
RECT BoundsOfBack(uint8_t index);

}  // namespace gfx
