// Shared helpers of the graphics tests: a fresh process, an open display, BMP
// files built byte by byte, frames cut from a test sheet, the back surface.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "graphics/display.h"
#include "platform/seam.h"

namespace gfx {

void ResetProcess();  // seam reset, display record and table cleared, a window
void OpenDisplay();   // ResetProcess, then DisplayOpen (or the test fails)

// One BMP file as the reader sees it: `rows` in stored order, unpadded.
struct BmpLayout {
    int32_t width = 4, height = 1;
    uint16_t bitCount = 8;
    int64_t sizeImage = -1;      // -1: the rows' total length
    uint8_t table[256][4] = {};  // blue, green, red, reserved as stored
    std::vector<std::vector<uint8_t>> rows;
};
std::vector<uint8_t> MakeBmp(const BmpLayout& layout);
// ReadBitmapFile on `bytes` (with the next allocation failing if asked);
// fails the test if the reader left the file open.
int Read(BitmapFile* bitmap, const std::vector<uint8_t>& bytes, bool failAlloc = false);

// A sheet whose top-down pixel (row, column) is SheetValue(row, column), a
// diagonal band of it index 0 (transparent).
std::vector<uint8_t> MakeSheet(int width, int height);
uint8_t SheetValue(int row, int column);
// What start-up does: read a 148 x 81 sheet, cut frames 0 and 1, free it.
std::vector<IDirectDrawSurface7*> CutFrames();
// Pixels of the 72 x 80 frame that differ from want(row, column).
int FrameMismatches(IDirectDrawSurface7* frame, const std::function<uint8_t(int, int)>& want);

int CountBack(uint8_t index);
// {left, top, right, bottom} (exclusive) around the back's pixels of `index`.
std::vector<int> BoundsOfBack(uint8_t index);

}  // namespace gfx
