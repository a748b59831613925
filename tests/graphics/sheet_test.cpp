// The committed sprite sheet: exactly what the generator draws, made by every
// rule the reader relies on, and a basket the game can use.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/graphics/graphics_test_support.h"

namespace {

std::vector<uint8_t> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8;
}

TEST(SpriteSheet, CommittedFileIsWhatTheGeneratorDraws) {
    const std::string fresh = testing::TempDir() + "vn_sheet_fresh.bmp";
    const std::string command = std::string(VN_SHEET_TOOL) + " " + fresh;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<uint8_t> committed = Slurp(VN_SHEET_PATH);
    ASSERT_FALSE(committed.empty());
    EXPECT_TRUE(Slurp(fresh) == committed)
        << "assets/playersprite.bmp is stale: rebuild the sprite_sheet target";
    std::remove(fresh.c_str());
}

class CommittedSheet : public ::testing::Test {
  protected:
    void SetUp() override {
        bytes = Slurp(VN_SHEET_PATH);
        ASSERT_GE(bytes.size(), 1078u);
        width = static_cast<int32_t>(U32(bytes, 18));
        height = static_cast<int32_t>(U32(bytes, 22));
    }
    // Top-down pixel (row, column).
    uint8_t At(int row, int column) const {
        return bytes[1078 + static_cast<size_t>(height - 1 - row) * width + column];
    }
    std::vector<uint8_t> bytes;
    int32_t width = 0, height = 0;
};

TEST_F(CommittedSheet, FollowsEveryRuleOfTheFormat) {
    EXPECT_EQ(U16(bytes, 0), 0x4D42);
    EXPECT_EQ(U32(bytes, 10), 1078u);  // pixels right after the colour table
    EXPECT_EQ(U32(bytes, 14), 40u);
    EXPECT_GE(height, 81);
    EXPECT_GE(width, 146);
    EXPECT_EQ(width % 4, 0);
    EXPECT_EQ(U16(bytes, 28), 8);
    EXPECT_EQ(U32(bytes, 30), 0u);  // uncompressed
    EXPECT_EQ(U32(bytes, 34), static_cast<uint32_t>(width * height));
    EXPECT_EQ(bytes.size(), 1078u + width * height);
}

TEST_F(CommittedSheet, HasAGridLineAroundEachCell) {
    const uint8_t grid = At(0, 0);
    EXPECT_NE(grid, 0);
    for (int column = 0; column <= 146; ++column) {
        EXPECT_EQ(At(0, column), grid) << "top line, column " << column;
        EXPECT_EQ(At(81, column), grid) << "bottom line, column " << column;
    }
    for (int row = 0; row <= 81; ++row) {
        for (int column : {0, 73, 146}) EXPECT_EQ(At(row, column), grid) << row << ", " << column;
    }
}

// Two distinct basket pictures on a transparent background, opening at the
// top (the catch band), in none of the jewel indices.
TEST_F(CommittedSheet, CellsHoldTwoBasketFramesTheGameCanUse) {
    int differing = 0;
    for (int cell = 0; cell < 2; ++cell) {
        int lit = 0, jewelColoured = 0, litInCatchBand = 0;
        for (int r = 0; r < 80; ++r) {
            for (int c = 0; c < 72; ++c) {
                const uint8_t v = At(r + 1, 73 * cell + c + 1);
                lit += v != 0;
                jewelColoured += v != 0 && v % 10 == 0 && v <= 70;
                litInCatchBand += v != 0 && r < 9 && c < 71;
                if (cell == 0) differing += v != At(r + 1, 73 + c + 1);
            }
        }
        EXPECT_EQ(jewelColoured, 0) << "cell " << cell;
        EXPECT_GT(lit, 71 * 79 / 3) << "cell " << cell;
        EXPECT_LT(lit, 71 * 79) << "cell " << cell << " needs transparent background";
        EXPECT_GT(litInCatchBand, 9 * 40) << "cell " << cell << ": the rim sits in the top rows";
        EXPECT_EQ(At(80, 73 * cell + 36), 0) << "bottom of cell " << cell << " is background";
    }
    EXPECT_GT(differing, 200) << "the two frames must differ enough to animate";
}

TEST_F(CommittedSheet, PaletteHasBlackBackgroundAndABrightHeading) {
    auto rgb = [&](int i) {
        return std::vector<int>{bytes[54 + 4 * i + 2], bytes[54 + 4 * i + 1], bytes[54 + 4 * i]};
    };
    EXPECT_EQ(rgb(0), (std::vector<int>{0, 0, 0}));
    const std::vector<int> heading = rgb(127);
    EXPECT_GT(heading[0] * 299 + heading[1] * 587 + heading[2] * 114, 150 * 1000)
        << "colour 127 must read on black";
}

// What start-up does with it: read, cut both frames.
TEST_F(CommittedSheet, ReadsAndCutsThroughTheGameCode) {
    gfx::OpenDisplay();
    BitmapFile sheet = {};
    ASSERT_EQ(ReadBitmapFile(&sheet, gfx::OpenBytes(bytes)), 1);
    EXPECT_EQ(sheet.paletteEntries[127].peRed, bytes[54 + 4 * 127 + 2]);
    for (int cell = 0; cell < 2; ++cell) {
        IDirectDrawSurface7* frame = MakeFrameSurface();
        ASSERT_NE(frame, nullptr);
        CopyFrameCell(&sheet, frame, cell);
        int w = 0, h = 0, pitch = 0;
        const BYTE* pixels = seam::SurfacePixels(frame, &w, &h, &pitch);
        int wrong = 0;
        for (int r = 0; r < 80; ++r) {
            for (int c = 0; c < 72; ++c)
                wrong += pixels[r * pitch + c] != At(r + 1, 73 * cell + c + 1);
        }
        EXPECT_EQ(wrong, 0) << "cell " << cell;
    }
    free(sheet.pixels);
}

}  // namespace
