// The sprite sheet: reading a BMP (colour table, row order, refused files),
// cutting frames from their cells, and the committed sheet itself.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/graphics/graphics_test_support.h"

namespace {

using gfx::BmpLayout;
using gfx::MakeBmp;
using gfx::Read;

// `rows` rows of 4 pixels, each byte holding its row's stored position (1, 2,
// ...) so the order can be read back; a negative count is stored top first.
std::vector<uint8_t> Rows(uint16_t bitCount, int rows = 3, int64_t sizeImage = -1) {
    BmpLayout layout;
    layout.height = rows, layout.bitCount = bitCount, layout.sizeImage = sizeImage;
    for (int r = 0; r < std::abs(rows); ++r) layout.rows.emplace_back(4 * (bitCount / 8), r + 1);
    return MakeBmp(layout);
}

class BitmapTest : public ::testing::Test {
  protected:
    void SetUp() override { gfx::ResetProcess(); }
    void TearDown() override { free(bitmap.pixels); }
    BitmapFile bitmap = {};
};

// The table, stored blue, green, red, becomes red, green, blue with
// PC_NOCOLLAPSE (deeper files have none); rows stored bottom first end up top
// first at 1, 2 and 3 bytes a pixel and odd counts, unless the height is
// negative. A second read frees the first buffer (the sanitizer run reports a
// leak otherwise).
TEST_F(BitmapTest, ConvertsTheTableAndTurnsTheRows) {
    BmpLayout layout;
    layout.table[5][0] = 0x10, layout.table[5][1] = 0x20, layout.table[5][2] = 0x30;
    layout.rows = {{1, 2, 3, 4}};
    ASSERT_EQ(Read(&bitmap, MakeBmp(layout)), 1);
    const PALETTEENTRY e = bitmap.paletteEntries[5];
    EXPECT_EQ(std::vector<int>({e.peRed, e.peGreen, e.peBlue, e.peFlags}),
              std::vector<int>({0x30, 0x20, 0x10, PC_NOCOLLAPSE}));
    for (uint16_t bits : {8, 16, 24}) {
        for (int rows : {3, 2, 1, -3}) {
            for (PALETTEENTRY& entry : bitmap.paletteEntries) entry = PALETTEENTRY{1, 2, 3, 0};
            ASSERT_EQ(Read(&bitmap, Rows(bits, rows)), 1) << bits;
            const int rowBytes = 4 * bits / 8;
            for (int i = 0; i < std::abs(rows) * rowBytes; ++i) {
                const int stored = rows < 0 ? i / rowBytes + 1 : rows - i / rowBytes;
                ASSERT_EQ(bitmap.pixels[i], stored) << bits << " bits, " << rows << " rows, " << i;
            }
            EXPECT_EQ(bitmap.paletteEntries[255].peBlue, bits == 8 ? 0 : 3) << bits;
        }
    }
}

// Every refused file is closed. What the headers give away is refused before
// the earlier buffer is touched; a file whose pixels end early leaves none,
// and no read goes past the file's bytes (the sanitizer run reports it).
TEST_F(BitmapTest, RefusesBadHostileAndShortFiles) {
    // Bit depth, width, height and stated pixel bytes of refused headers.
    // clang-format off
    const int64_t headers[][4] = {{1, 4, 3, 12}, {4, 4, 3, 12}, {32, 4, 3, 48}, {0, 4, 3, 12},
        {12, 4, 3, 12}, {8, 4, 3, 0}, {8, 4, 3, 11}, {8, 0, 3, 12}, {8, -4, 3, 12}, {8, 4, 0, 12},
        {8, 4, INT32_MIN, 12}, {8, 0x40000000, 3, 12}, {8, 4, 0x7FFFFFFF, 12},
        {8, 0x10000, 0x10000, 12} /* wraps */, {8, 4, 3, 0xFFFFFFFF}};
    // clang-format on
    const std::vector<uint8_t> good = Rows(8);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const auto& h : headers) {
        BmpLayout layout;
        layout.bitCount = h[0], layout.width = h[1], layout.height = h[2], layout.sizeImage = h[3];
        layout.rows.assign(3, std::vector<uint8_t>(4, 1));
        files.push_back({std::to_string(h[0]) + " bits " + std::to_string(h[1]) + " x " +
                             std::to_string(h[2]) + ", " + std::to_string(h[3]),
                         MakeBmp(layout)});
    }
    files.push_back({"not BM", good});
    files.back().second[0] = 'M';
    size_t keeping = 0;  // files before this one are refused before pixels are read
    for (size_t length : {0, 1, 13, 14, 30, 53, 54, 600, 1077, 1078, 1089}) {
        if (length == 1078) keeping = files.size();
        files.push_back({"cut to " + std::to_string(length),
                         std::vector<uint8_t>(good.begin(), good.begin() + length)});
    }
    files.push_back({"more pixel bytes stated than follow", Rows(8, 3, 4096)});
    for (size_t i = 0; i < files.size(); ++i) {
        ASSERT_EQ(Read(&bitmap, good), 1);
        BYTE* earlier = bitmap.pixels;
        EXPECT_EQ(Read(&bitmap, files[i].second), 0) << files[i].first;
        if (i < keeping) {
            EXPECT_TRUE(bitmap.pixels == earlier && earlier[0] == 3) << files[i].first;
        } else {
            EXPECT_EQ(bitmap.pixels, nullptr) << files[i].first << ": no half-read picture";
        }
    }
    ASSERT_EQ(Read(&bitmap, good), 1);  // no buffer to be had: none is left
    EXPECT_EQ(Read(&bitmap, good, true), 0);
    EXPECT_EQ(bitmap.pixels, nullptr);
    BYTE image[] = {1, 1, 2, 2};  // rows that cannot be turned stay as they were
    seam::FailNextAlloc();
    EXPECT_EQ(FlipRows(2, image, 2) + FlipRows(2, image, -1) + FlipRows(-2, image, 2), 0);
    EXPECT_EQ(std::vector<BYTE>(image, image + 4), std::vector<BYTE>({1, 1, 2, 2}));
}

// Frame k's pixel (r, c) is the top-down sheet's pixel (r + 1, 73k + c + 1);
// a failed Lock writes nothing; a cell the sheet does not wholly hold leaves
// the frame transparent without reading past the sheet (146 x 81 is the
// smallest sheet holding both cells).
TEST(CopyFrameCell, CutsEachFrameFromItsCellUnderALock) {
    const int cases[][4] = {{148, 81, 0, 1}, {146, 81, 1, 1},  {144, 81, 1, 0}, {148, 80, 0, 0},
                            {148, 81, 2, 0}, {148, 81, -1, 0}, {72, 81, 0, 0},  {148, 81, 0, -1}};
    gfx::OpenDisplay();
    for (const auto& c : cases) {
        BitmapFile sheet = {};
        ASSERT_EQ(Read(&sheet, gfx::MakeSheet(c[0], c[1])), 1);
        IDirectDrawSurface7* frame = MakeFrameSurface();
        ASSERT_NE(frame, nullptr);
        if (c[2] >= 0) CopyFrameCell(&sheet, frame, c[2] == 1 ? 0 : 1);  // something there first
        const int unwritten = gfx::FrameMismatches(frame, [](int, int) { return 0; });
        if (c[3] < 0) seam::FailNext(seam::Call::Lock);
        EXPECT_EQ(CopyFrameCell(&sheet, frame, c[2]), 1);
        const int mismatches = gfx::FrameMismatches(frame, [&](int r, int col) {
            return c[3] > 0 ? gfx::SheetValue(r + 1, 73 * c[2] + col + 1) : 0;
        });
        EXPECT_EQ(mismatches, c[3] < 0 ? unwritten : 0)
            << c[0] << " x " << c[1] << " cell " << c[2];
        free(sheet.pixels);
    }
    seam::FailNext(seam::Call::CreateSurface);
    EXPECT_EQ(MakeFrameSurface(), nullptr);
    EXPECT_EQ(CopyFrameCell(nullptr, nullptr, 0), 1);
}

std::vector<uint8_t> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The committed sheet is what the generator draws (the golden replay holds
// what the game makes of it).
TEST(SpriteSheet, CommittedFileIsWhatTheGeneratorDraws) {
    const std::string fresh = testing::TempDir() + "vn_sheet_fresh.bmp";
    ASSERT_EQ(std::system((std::string(VN_SHEET_TOOL) + " " + fresh).c_str()), 0);
    EXPECT_TRUE(Slurp(fresh) == Slurp(VN_SHEET_PATH))
        << "assets/playersprite.bmp is stale: rebuild sprite_sheet";
    std::remove(fresh.c_str());
}

}  // namespace
