// Helpers shared by the graphics tests.
#include "tests/graphics/graphics_test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

// Defined by the game; the graphics tests stand in for it.
HWND mainWindow = nullptr;

namespace gfx {

static LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// The one full-screen window that the display's exclusive mode belongs to.
HWND MakeWindow(const char* title) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.lpszClassName = "VornackleGraphics";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "VornackleGraphics", title, WS_POPUP | WS_VISIBLE, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                           nullptr, nullptr, nullptr);
}

void ResetProcess() {
    seam::Reset();
    display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
    memset(PaletteTable, 0, sizeof(PaletteTable));
    mainWindow = MakeWindow("graphics test");
}

void OpenDisplay() {
    ResetProcess();
    ASSERT_EQ(DisplayOpen(), 1);
}

static void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

static void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::vector<uint8_t> MakeBmp(const BmpSpec& spec) {
    std::vector<uint8_t> data;
    for (const std::vector<uint8_t>& row : spec.rows)
        data.insert(data.end(), row.begin(), row.end());
    const uint32_t sizeImage = spec.sizeImage < 0 ? static_cast<uint32_t>(data.size())
                                                  : static_cast<uint32_t>(spec.sizeImage);
    const bool hasTable = spec.bitCount == 8;
    std::vector<uint8_t> out;
    Put16(out, 0x4D42);
    Put32(out, 54 + (hasTable ? 1024 : 0) + static_cast<uint32_t>(data.size()));
    Put32(out, 0);
    Put32(out, 54 + (hasTable ? 1024 : 0));
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(spec.width));
    Put32(out, static_cast<uint32_t>(spec.height));
    Put16(out, 1);
    Put16(out, spec.bitCount);
    Put32(out, 0);
    Put32(out, sizeImage);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    if (hasTable) {
        for (const auto& entry : spec.table) out.insert(out.end(), entry, entry + 4);
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

HFILE OpenBytes(const std::vector<uint8_t>& bytes) {
    char path[] = "/tmp/vn_graphics_bmp_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    if (fd < 0) return HFILE_ERROR;
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    EXPECT_EQ(written, static_cast<ssize_t>(bytes.size()));
    close(fd);
    OFSTRUCT scratch;
    const HFILE file = OpenFile(path, &scratch, OF_READ);
    unlink(path);  // the open handle keeps the file readable
    EXPECT_NE(file, HFILE_ERROR);
    return file;
}

int OpenFileCount() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count;
}

uint8_t SheetValue(int row, int column) {
    return static_cast<uint8_t>((row * 7 + column * 3) % 251 + 1);
}

std::vector<uint8_t> MakeSheet(int width, int height) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    for (int i = 0; i < 256; ++i) {
        spec.table[i][0] = static_cast<uint8_t>(i);
        spec.table[i][2] = static_cast<uint8_t>(255 - i);
    }
    for (int stored = 0; stored < height; ++stored) {
        const int row = height - 1 - stored;
        std::vector<uint8_t> bytes(width);
        for (int column = 0; column < width; ++column) bytes[column] = SheetValue(row, column);
        spec.rows.push_back(bytes);
    }
    return MakeBmp(spec);
}

uint8_t BackAt(int x, int y) {
    return seam::BackPixels()[y * seam::kWidth + x];
}

int CountBack(uint8_t index) {
    const BYTE* pixels = seam::BackPixels();
    int count = 0;
    for (int i = 0; i < seam::kWidth * seam::kHeight; ++i) count += pixels[i] == index;
    return count;
}

RECT BoundsOfBack(uint8_t index) {
    RECT bounds = {seam::kWidth, seam::kHeight, 0, 0};
    bool any = false;
    for (int y = 0; y < seam::kHeight; ++y) {
        for (int x = 0; x < seam::kWidth; ++x) {
            if (BackAt(x, y) != index) continue;
            any = true;
            if (x < bounds.left) bounds.left = x;
            if (y < bounds.top) bounds.top = y;
            if (x + 1 > bounds.right) bounds.right = x + 1;
            if (y + 1 > bounds.bottom) bounds.bottom = y + 1;
        }
    }
    if (!any) return RECT{0, 0, 0, 0};
    return bounds;
}

}  // namespace gfx
