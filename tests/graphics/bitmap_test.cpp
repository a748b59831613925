// Reading the sprite sheet and cutting its cells: colour-table conversion,
// row order at each depth, refusals that keep or free the earlier buffer,
// hostile headers and short files, and frames cut from the right place.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/graphics/graphics_test_support.h"

namespace {

using gfx::BmpSpec;
using gfx::MakeBmp;
using gfx::OpenBytes;

// Reads `bytes` into `bitmap` and checks that the reader closed the file.
int Read(BitmapFile* bitmap, const std::vector<uint8_t>& bytes) {
    const HFILE file = OpenBytes(bytes);
    const int openBefore = gfx::OpenFileCount();
    const int result = ReadBitmapFile(bitmap, file);
    EXPECT_EQ(gfx::OpenFileCount(), openBefore - 1) << "the reader closes the file";
    return result;
}

// Three rows of `width` pixels at `bytesPerPixel`, each row filled with its
// stored position (1, 2, 3) so the order can be read back.
BmpSpec ThreeRows(uint16_t bitCount, int rows = 3) {
    BmpSpec spec;
    spec.width = 4;
    spec.height = rows;
    spec.bitCount = bitCount;
    for (int r = 0; r < rows; ++r) {
        spec.rows.push_back(std::vector<uint8_t>(4 * (bitCount / 8), static_cast<uint8_t>(r + 1)));
    }
    return spec;
}

std::vector<uint8_t> RowStarts(const BitmapFile& bitmap, int rows, int rowBytes) {
    std::vector<uint8_t> firsts;
    for (int r = 0; r < rows; ++r) firsts.push_back(bitmap.pixels[r * rowBytes]);
    return firsts;
}

class BitmapTest : public ::testing::Test {
  protected:
    void SetUp() override { gfx::ResetProcess(); }
    void TearDown() override { free(bitmap.pixels); }
    BitmapFile bitmap = {};
};

TEST_F(BitmapTest, ColourTableBecomesRedGreenBlueWithNoCollapse) {
    BmpSpec spec = ThreeRows(8);
    const uint8_t stored[4] = {0x10, 0x20, 0x30, 0x00};
    memcpy(spec.table[5], stored, 4);
    ASSERT_EQ(Read(&bitmap, MakeBmp(spec)), 1);
    const PALETTEENTRY e = bitmap.paletteEntries[5];
    EXPECT_EQ(e.peRed, 0x30);
    EXPECT_EQ(e.peGreen, 0x20);
    EXPECT_EQ(e.peBlue, 0x10);
    EXPECT_EQ(e.peFlags, PC_NOCOLLAPSE);
    EXPECT_EQ(+bitmap.infoHeader.biWidth, 4);
    EXPECT_EQ(+bitmap.fileHeader.bfType, 0x4D42);
}

// Stored bottom row first, kept top row first: at 1, 2 and 3 bytes a pixel,
// for odd and even row counts; the middle row of an odd count stays put.
TEST_F(BitmapTest, RowsEndUpTopRowFirstAtEveryDepth) {
    for (uint16_t bits : {8, 16, 24}) {
        for (int rows : {3, 2, 1}) {
            ASSERT_EQ(Read(&bitmap, MakeBmp(ThreeRows(bits, rows))), 1) << bits;
            std::vector<uint8_t> expected;
            for (int r = rows; r >= 1; --r) expected.push_back(static_cast<uint8_t>(r));
            EXPECT_EQ(RowStarts(bitmap, rows, 4 * bits / 8), expected) << bits << " bits";
            // Every byte of a row moved with it.
            for (int i = 0; i < rows * 4 * bits / 8; ++i) {
                ASSERT_EQ(bitmap.pixels[i], rows - i / (4 * bits / 8)) << bits << " byte " << i;
            }
        }
    }
}

TEST_F(BitmapTest, DeeperFilesKeepThePaletteAndReadPixelsFromOffset54) {
    for (uint16_t bits : {16, 24}) {
        for (PALETTEENTRY& e : bitmap.paletteEntries) e = PALETTEENTRY{1, 2, 3, 0};
        ASSERT_EQ(Read(&bitmap, MakeBmp(ThreeRows(bits))), 1);
        EXPECT_EQ(bitmap.paletteEntries[0].peRed, 1);
        EXPECT_EQ(bitmap.paletteEntries[255].peBlue, 3);
        EXPECT_EQ(bitmap.paletteEntries[255].peFlags, 0);
        EXPECT_EQ(bitmap.pixels[0], 3) << "the last stored row comes first";
    }
}

TEST_F(BitmapTest, NegativeHeightKeepsStoredOrder) {
    BmpSpec spec = ThreeRows(8);
    spec.height = -3;
    ASSERT_EQ(Read(&bitmap, MakeBmp(spec)), 1);
    EXPECT_EQ(RowStarts(bitmap, 3, 4), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(BitmapTest, RefusedFilesKeepTheEarlierBuffer) {
    ASSERT_EQ(Read(&bitmap, MakeBmp(ThreeRows(8))), 1);
    BYTE* earlier = bitmap.pixels;
    for (uint16_t bits : {1, 4, 32, 0, 12}) {
        BmpSpec spec = ThreeRows(8);
        spec.bitCount = bits;
        EXPECT_EQ(Read(&bitmap, MakeBmp(spec)), 0) << bits;
        EXPECT_EQ(+bitmap.infoHeader.biBitCount, bits) << "the headers hold what was read";
        EXPECT_EQ(bitmap.pixels, earlier);
        EXPECT_EQ(bitmap.pixels[0], 3);
    }
    std::vector<uint8_t> notBm = MakeBmp(ThreeRows(8));
    notBm[0] = 'M';
    notBm[1] = 'B';
    EXPECT_EQ(Read(&bitmap, notBm), 0);
    EXPECT_EQ(+bitmap.fileHeader.bfType, 0x424D);
    EXPECT_EQ(bitmap.pixels, earlier);
}

// A second read frees the first buffer (the sanitizer run reports a leak
// otherwise); when the new buffer cannot be had, none is left.
TEST_F(BitmapTest, SecondReadReplacesTheFirstBuffer) {
    ASSERT_EQ(Read(&bitmap, MakeBmp(ThreeRows(8))), 1);
    ASSERT_EQ(Read(&bitmap, MakeBmp(ThreeRows(24))), 1);
    EXPECT_EQ(bitmap.pixels[0], 3);
    EXPECT_EQ(+bitmap.infoHeader.biBitCount, 24);

    const HFILE file = OpenBytes(MakeBmp(ThreeRows(8)));
    const int openBefore = gfx::OpenFileCount();
    seam::FailNextAlloc();
    EXPECT_EQ(ReadBitmapFile(&bitmap, file), 0);
    EXPECT_EQ(gfx::OpenFileCount(), openBefore - 1);
    EXPECT_EQ(bitmap.pixels, nullptr);
}

// Files whose headers and contents disagree are refused before any buffer is
// sized from them; the earlier buffer survives, the file is closed.
TEST_F(BitmapTest, HostileFilesAreRefused) {
    ASSERT_EQ(Read(&bitmap, MakeBmp(ThreeRows(8))), 1);
    BYTE* earlier = bitmap.pixels;

    struct Case {
        const char* name;
        int32_t width, height;
        int64_t sizeImage;
    };
    const Case cases[] = {
        {"size image 0", 4, 3, 0},
        {"size image one short", 4, 3, 11},
        {"width 0", 0, 3, 12},
        {"negative width", -4, 3, 12},
        {"height 0", 4, 0, 12},
        {"most negative height", 4, INT32_MIN, 12},
        {"absurd width", 0x40000000, 3, 12},
        {"absurd height", 4, 0x7FFFFFFF, 12},
        {"width times height wraps", 0x10000, 0x10000, 12},
        {"absurd size image", 4, 3, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        BmpSpec spec = ThreeRows(8);
        spec.width = c.width;
        spec.height = c.height;
        spec.sizeImage = c.sizeImage;
        EXPECT_EQ(Read(&bitmap, MakeBmp(spec)), 0) << c.name;
        EXPECT_EQ(bitmap.pixels, earlier) << c.name;
    }
}

// A file that ends early anywhere is refused; no half-read picture stays.
TEST_F(BitmapTest, TruncatedFilesAreRefused) {
    const std::vector<uint8_t> whole = MakeBmp(ThreeRows(8));
    for (size_t length : {size_t{0}, size_t{1}, size_t{13}, size_t{14}, size_t{30}, size_t{53},
                          size_t{54}, size_t{600}, size_t{1077}, size_t{1078}, whole.size() - 1}) {
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
        EXPECT_EQ(Read(&bitmap, cut), 0) << length << " bytes";
        if (length >= 1078) {
            EXPECT_EQ(bitmap.pixels, nullptr) << length;
        }
    }
    // A header stating more pixel bytes than follow.
    BmpSpec spec = ThreeRows(8);
    spec.sizeImage = 4096;
    EXPECT_EQ(Read(&bitmap, MakeBmp(spec)), 0);
    EXPECT_EQ(bitmap.pixels, nullptr);
}

TEST(FlipRows, ReversesRowsOrLeavesThemWhenItCannot) {
    gfx::ResetProcess();
    BYTE image[] = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5};
    EXPECT_EQ(FlipRows(2, image, 5), 1);
    EXPECT_EQ(std::vector<BYTE>(image, image + 10),
              (std::vector<BYTE>{5, 5, 4, 4, 3, 3, 2, 2, 1, 1}));
    EXPECT_EQ(FlipRows(2, image, 0), 1);
    EXPECT_EQ(FlipRows(2, image, -1), 0);
    EXPECT_EQ(FlipRows(-2, image, 5), 0);
    seam::FailNextAlloc();
    EXPECT_EQ(FlipRows(2, image, 5), 0);
    EXPECT_EQ(image[0], 5) << "unchanged when no temporary buffer was to be had";
}

// The frames that start-up cuts: frame k's pixel (r, c) is the top-down
// sheet's pixel (r + 1, 73k + c + 1).
TEST(CopyFrameCell, CutsBothFramesFromTheirCells) {
    gfx::OpenDisplay();
    BitmapFile sheet = {};
    ASSERT_EQ(ReadBitmapFile(&sheet, OpenBytes(gfx::MakeSheet(148, 81))), 1);
    for (int cell = 0; cell < 2; ++cell) {
        IDirectDrawSurface7* frame = MakeFrameSurface();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(CopyFrameCell(&sheet, frame, cell), 1);
        int width = 0, height = 0, pitch = 0;
        const BYTE* pixels = seam::SurfacePixels(frame, &width, &height, &pitch);
        ASSERT_EQ(width, 72);
        ASSERT_EQ(height, 80);
        int wrong = 0;
        for (int r = 0; r < 80; ++r) {
            for (int c = 0; c < 72; ++c) {
                wrong += pixels[r * pitch + c] != gfx::SheetValue(r + 1, 73 * cell + c + 1);
            }
        }
        EXPECT_EQ(wrong, 0) << "cell " << cell;
    }
    free(sheet.pixels);
}

int LitPixels(IDirectDrawSurface7* frame) {
    int width = 0, height = 0, pitch = 0;
    const BYTE* pixels = seam::SurfacePixels(frame, &width, &height, &pitch);
    int lit = 0;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) lit += pixels[r * pitch + c] != 0;
    }
    return lit;
}

TEST(CopyFrameCell, WritesNothingWithoutALock) {
    gfx::OpenDisplay();
    BitmapFile sheet = {};
    ASSERT_EQ(ReadBitmapFile(&sheet, OpenBytes(gfx::MakeSheet(148, 81))), 1);
    IDirectDrawSurface7* frame = MakeFrameSurface();
    ASSERT_NE(frame, nullptr);
    const int before = LitPixels(frame);
    seam::FailNext(seam::Call::Lock);
    EXPECT_EQ(CopyFrameCell(&sheet, frame, 0), 1);
    EXPECT_EQ(LitPixels(frame), before);
    EXPECT_EQ(CopyFrameCell(&sheet, frame, 0), 1);
    EXPECT_EQ(LitPixels(frame), 72 * 80);
    free(sheet.pixels);
}

// A sheet too small for the cell leaves the frame transparent, never reading
// past the sheet's rows (the sanitizer run would report it).
TEST(CopyFrameCell, SheetTooSmallLeavesTheFrameTransparent) {
    gfx::OpenDisplay();
    const struct {
        int width, height, cell;
    } cases[] = {{144, 81, 1}, {148, 80, 0}, {148, 81, 2}, {148, 81, -1}, {72, 81, 0}};
    for (const auto& c : cases) {
        BitmapFile sheet = {};
        ASSERT_EQ(ReadBitmapFile(&sheet, OpenBytes(gfx::MakeSheet(c.width, c.height))), 1);
        IDirectDrawSurface7* frame = MakeFrameSurface();
        ASSERT_NE(frame, nullptr);
        CopyFrameCell(&sheet, frame, 1 - (c.cell == 1));  // something there first
        EXPECT_EQ(CopyFrameCell(&sheet, frame, c.cell), 1);
        EXPECT_EQ(LitPixels(frame), 0) << c.width << " x " << c.height << " cell " << c.cell;
        free(sheet.pixels);
    }
    // The smallest sheet that holds both cells.
    BitmapFile sheet = {};
    ASSERT_EQ(ReadBitmapFile(&sheet, OpenBytes(gfx::MakeSheet(146, 81))), 1);
    IDirectDrawSurface7* frame = MakeFrameSurface();
    CopyFrameCell(&sheet, frame, 1);
    EXPECT_EQ(LitPixels(frame), 72 * 80);
    free(sheet.pixels);
}

TEST(MakeFrameSurface, NoneWhenTheSurfaceCannotBeMade) {
    gfx::OpenDisplay();
    seam::FailNext(seam::Call::CreateSurface);
    EXPECT_EQ(MakeFrameSurface(), nullptr);
    EXPECT_EQ(CopyFrameCell(nullptr, nullptr, 0), 1);
}

}  // namespace
