// Helpers shared by the graphics tests.
#include "tests/graphics/graphics_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

HWND mainWindow = nullptr;  // defined by the game; the tests stand in for it

namespace gfx {

void ResetProcess() {
    seam::Reset();
    display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
    memset(PaletteTable, 0, sizeof(PaletteTable));
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "VornackleGraphics";
    RegisterClassA(&windowClass);
    mainWindow = CreateWindowExA(0, "VornackleGraphics", "graphics test", WS_POPUP | WS_VISIBLE, 0,
                                 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                 nullptr, nullptr, nullptr, nullptr);
}

void OpenDisplay() {
    ResetProcess();
    ASSERT_EQ(DisplayOpen(), 1);
}

std::vector<uint8_t> MakeBmp(const BmpLayout& layout) {
    std::vector<uint8_t> data, out;
    for (const auto& row : layout.rows) data.insert(data.end(), row.begin(), row.end());
    const uint32_t offset = layout.bitCount == 8 ? 1078 : 54, size = data.size();
    auto put = [&out](uint32_t v, int bytes) {
        for (; bytes > 0; --bytes, v >>= 8) out.push_back(v & 0xFF);
    };
    put(0x4D42, 2), put(offset + size, 4), put(0, 4), put(offset, 4), put(40, 4);
    put(layout.width, 4), put(layout.height, 4), put(1, 2), put(layout.bitCount, 2), put(0, 4);
    put(layout.sizeImage < 0 ? size : static_cast<uint32_t>(layout.sizeImage), 4), put(0, 16);
    if (layout.bitCount == 8) out.insert(out.end(), layout.table[0], layout.table[0] + 1024);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

int Read(BitmapFile* bitmap, const std::vector<uint8_t>& bytes, bool failAlloc) {
    char path[] = "/tmp/vn_graphics_bmp_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    OFSTRUCT scratch;
    const HFILE file = OpenFile(path, &scratch, OF_READ);
    unlink(path);  // the open handle keeps the file readable
    EXPECT_NE(file, HFILE_ERROR);
    if (failAlloc) seam::FailNextAlloc();
    const int result = ReadBitmapFile(bitmap, file);
    EXPECT_EQ(seam::OpenFiles(), 0) << "the reader closes the file";
    return result;
}

uint8_t SheetValue(int row, int column) {
    return (row + column) % 4 == 0 ? 0 : static_cast<uint8_t>((row * 7 + column * 3) % 251 + 1);
}

std::vector<uint8_t> MakeSheet(int width, int height) {
    BmpLayout layout;
    layout.width = width, layout.height = height;
    for (int row = height - 1; row >= 0; --row) {
        layout.rows.emplace_back(width);
        for (int column = 0; column < width; ++column)
            layout.rows.back()[column] = SheetValue(row, column);
    }
    return MakeBmp(layout);
}

std::vector<IDirectDrawSurface7*> CutFrames() {
    BitmapFile sheet = {};
    EXPECT_EQ(Read(&sheet, MakeSheet(148, 81)), 1);
    std::vector<IDirectDrawSurface7*> frames = {MakeFrameSurface(), MakeFrameSurface()};
    for (int k = 0; k < 2; ++k) EXPECT_EQ(CopyFrameCell(&sheet, frames[k], k), 1);
    free(sheet.pixels);
    return frames;
}

int FrameMismatches(IDirectDrawSurface7* frame, const std::function<uint8_t(int, int)>& want) {
    int width = 0, height = 0, pitch = 0, wrong = 0;
    const BYTE* pixels = seam::SurfacePixels(frame, &width, &height, &pitch);
    if (pixels == nullptr || width != 72 || height != 80) return -1;
    for (int r = 0; r < 80; ++r) {
        for (int c = 0; c < 72; ++c) wrong += pixels[r * pitch + c] != want(r, c);
    }
    return wrong;
}

int CountBack(uint8_t index) {
    return static_cast<int>(std::count(seam::BackPixels(), seam::BackPixels() + 640 * 480, index));
}

std::vector<int> BoundsOfBack(uint8_t index) {
    std::vector<int> bounds = {640, 480, 0, 0};
    for (int i = 0; i < 640 * 480; ++i) {
        if (seam::BackPixels()[i] != index) continue;
        const int x = i % 640, y = i / 640;
        bounds = {std::min(bounds[0], x), std::min(bounds[1], y), std::max(bounds[2], x + 1),
                  std::max(bounds[3], y + 1)};
    }
    return bounds;
}

}  // namespace gfx
