// The drawing primitives as they reach the back surface: fill geometry and
// trimming at the screen's edges, keyed frame copies, labels in PaletteTable
// colours, the flip's retries, and drawing with no display at all.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/graphics/graphics_test_support.h"

namespace {

using gfx::BackAt;
using gfx::BoundsOfBack;
using gfx::CountBack;

void ExpectRect(const RECT& r, int left, int top, int right, int bottom) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

TEST(FillRect, CornersAreInclusive) {
    gfx::OpenDisplay();
    FillRect(5, 5, 5, 5, 10);
    EXPECT_EQ(CountBack(10), 1);
    EXPECT_EQ(BackAt(5, 5), 10);

    FillRect(100, 200, 110, 210, 20);  // a jewel's 11 x 11 square
    EXPECT_EQ(CountBack(20), 121);
    ExpectRect(BoundsOfBack(20), 100, 200, 111, 211);

    FillRect(0, 0, 639, 479, 7);
    EXPECT_EQ(CountBack(7), 640 * 480);
    FillRect(0, 0, 639, 479, 0);
    EXPECT_EQ(CountBack(0), 640 * 480);
}

// The clip list trims drawings that reach one pixel past the screen.
TEST(FillRect, TrimmedAtTheRightAndBottomEdges) {
    gfx::OpenDisplay();
    FillRect(300, 470, 310, 480, 30);  // a jewel square at y 470
    EXPECT_EQ(CountBack(30), 11 * 10);
    ExpectRect(BoundsOfBack(30), 300, 470, 311, 480);

    FillRect(630, 5, 640, 15, 40);
    EXPECT_EQ(CountBack(40), 10 * 11);
    ExpectRect(BoundsOfBack(40), 630, 5, 640, 16);
}

// A frame whose pixel (r, c) is the sheet's, cut from a 148 x 81 test sheet.
IDirectDrawSurface7* PatternFrame() {
    BitmapFile sheet = {};
    EXPECT_EQ(ReadBitmapFile(&sheet, gfx::OpenBytes(gfx::MakeSheet(148, 81))), 1);
    IDirectDrawSurface7* frame = MakeFrameSurface();
    EXPECT_NE(frame, nullptr);
    CopyFrameCell(&sheet, frame, 0);
    free(sheet.pixels);
    return frame;
}

TEST(BlitFrame, KeyedPixelsLeaveTheBackAlone) {
    gfx::OpenDisplay();
    // A sheet with a transparent diagonal band over a back filled with 5.
    gfx::BmpSpec spec;
    spec.width = 148;
    spec.height = 81;
    for (int stored = 0; stored < 81; ++stored) {
        const int row = 80 - stored;
        std::vector<uint8_t> bytes(148);
        for (int column = 0; column < 148; ++column) {
            bytes[column] = (row + column) % 4 == 0 ? 0 : gfx::SheetValue(row, column);
        }
        spec.rows.push_back(bytes);
    }
    BitmapFile sheet = {};
    ASSERT_EQ(ReadBitmapFile(&sheet, gfx::OpenBytes(gfx::MakeBmp(spec))), 1);
    IDirectDrawSurface7* frame = MakeFrameSurface();
    ASSERT_NE(frame, nullptr);
    CopyFrameCell(&sheet, frame, 0);
    FillRect(0, 0, 639, 479, 5);

    EXPECT_EQ(BlitFrame(frame, 200, 100), 1);
    int wrong = 0;
    for (int r = 0; r < 80; ++r) {
        for (int c = 0; c < 72; ++c) {
            const uint8_t source = sheet.pixels[(r + 1) * 148 + c + 1];
            const bool shown = r < 79 && c < 71 && source != 0;
            const uint8_t expected = shown ? source : 5;
            wrong += BackAt(200 + c, 100 + r) != expected;
        }
    }
    EXPECT_EQ(wrong, 0) << "keyed pixels, column 71 and row 79 must leave the back alone";
    free(sheet.pixels);
}

TEST(BlitFrame, TrimmedAtTheRightEdgeAndNothingWithoutAFrame) {
    gfx::OpenDisplay();
    IDirectDrawSurface7* frame = PatternFrame();
    EXPECT_EQ(BlitFrame(frame, 570, 352), 1);  // the basket at its rightmost place
    int drawn = 0;
    for (int y = 352; y < 352 + 79; ++y) {
        for (int x = 570; x < 640; ++x)
            drawn += BackAt(x, y) == gfx::SheetValue(y - 352 + 1, x - 570 + 1);
    }
    EXPECT_EQ(drawn, 70 * 79);
    EXPECT_EQ(CountBack(0), 640 * 480 - 70 * 79);

    FillRect(0, 0, 639, 479, 0);
    EXPECT_EQ(BlitFrame(nullptr, 100, 100), 0);
    EXPECT_EQ(CountBack(0), 640 * 480);
}

TEST(DrawLabel, ColourComesFromPaletteTableAndBackgroundStaysTransparent) {
    gfx::OpenDisplay();
    // The table differs from the display palette: the table decides.
    PaletteTable[127] = PALETTEENTRY{255, 206, 72, PC_NOCOLLAPSE};
    FillRect(20, 20, 120, 40, 50);  // something under the text
    EXPECT_EQ(DrawLabel("JEWELS 42", 127, 24, 22), 1);

    const std::vector<seam::TextDraw> texts = seam::TextsSinceFlip();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "JEWELS 42");
    EXPECT_EQ(texts[0].x, 24);
    EXPECT_EQ(texts[0].y, 22);
    EXPECT_EQ(texts[0].colour, 0x0048CEFFu);  // red in the low byte, a plain RGB value
    const BYTE ink = texts[0].index;          // the display entry the platform drew it in
    EXPECT_GT(CountBack(ink), 0) << "glyphs reach the back surface";
    EXPECT_GT(CountBack(50), 0) << "the fill shows between the glyphs";
    EXPECT_EQ(CountBack(ink) + CountBack(50), 101 * 21) << "nothing outside the fill changed";
}

TEST(DrawLabel, TakesAndGivesBackTheDeviceContextEveryTime) {
    gfx::OpenDisplay();
    // An empty label draws nothing but still asks for the context.
    EXPECT_EQ(DrawLabel("", 127, 10, 10), 1);
    EXPECT_EQ(CountBack(0), 640 * 480);
    seam::FailNext(seam::Call::GetDC);
    EXPECT_EQ(DrawLabel("", 127, 10, 10), 0);
    const size_t textsBefore = seam::TextsSinceFlip().size();

    // Without the context nothing is drawn; the next label draws again, and
    // fills work between labels, so each context was given back.
    seam::FailNext(seam::Call::GetDC);
    EXPECT_EQ(DrawLabel("LOST", 127, 10, 10), 0);
    EXPECT_EQ(seam::TextsSinceFlip().size(), textsBefore);
    EXPECT_EQ(CountBack(0), 640 * 480);
    EXPECT_EQ(DrawLabel("FIRST", 127, 10, 10), 1);
    FillRect(0, 100, 9, 109, 20);
    EXPECT_EQ(DrawLabel("SECOND", 127, 10, 30), 1);
    const std::vector<seam::TextDraw> texts = seam::TextsSinceFlip();
    ASSERT_EQ(texts.size(), textsBefore + 2);
    EXPECT_EQ(texts[textsBefore].text, "FIRST");
    EXPECT_EQ(texts[textsBefore + 1].text, "SECOND");
    EXPECT_EQ(CountBack(20), 100);
}

TEST(PresentFrame, RetriesTheFlipUntilItReturnsZero) {
    gfx::OpenDisplay();
    // A positive result counts as "not yet" as much as a failure does. (A
    // lost surface is different: see lost_display_test.cpp.)
    BYTE colour = 30;
    for (HRESULT result : {HRESULT(1), DDERR_SURFACEBUSY, DDERR_GENERIC}) {
        FillRect(10, 10, 19, 19, colour);
        seam::FailNext(seam::Call::Flip, 3, result);
        const int before = seam::FlipCount();
        EXPECT_EQ(PresentFrame(), 1);
        EXPECT_EQ(seam::FlipCount(), before + 1) << result;
        EXPECT_EQ(seam::PrimaryPixels()[15 * 640 + 15], colour) << result;
        EXPECT_EQ(seam::PrimaryPixels()[9 * 640 + 9], 0) << result;
        colour += 10;
    }
}

// A display that never flips again must not hang the game.
TEST(PresentFrame, GivesUpOnAFlipThatNeverSucceeds) {
    gfx::OpenDisplay();
    seam::FailNext(seam::Call::Flip, 1000000, DDERR_GENERIC);
    const int before = seam::FlipCount();
    EXPECT_EQ(PresentFrame(), 1);
    EXPECT_EQ(seam::FlipCount(), before);
}

// A display that failed to open: every primitive returns without drawing.
TEST(Primitives, DrawNothingWithoutADisplay) {
    gfx::ResetProcess();
    seam::FailNext(seam::Call::CreateSurface);
    EXPECT_EQ(DisplayOpen(), 0);
    EXPECT_EQ(FillRect(0, 0, 639, 479, 10), 1);
    EXPECT_EQ(DrawLabel("TITLE", 127, 10, 10), 0);
    EXPECT_EQ(BlitFrame(nullptr, 0, 0), 0);
    const int before = seam::FlipCount();
    EXPECT_EQ(PresentFrame(), 1);  // no flip chain: returns without flipping
    EXPECT_EQ(seam::FlipCount(), before);

    gfx::ResetProcess();
    EXPECT_EQ(PresentFrame(), 1);
    EXPECT_EQ(FillRect(0, 0, 10, 10, 1), 1);
    EXPECT_EQ(MakeFrameSurface(), nullptr);
}

}  // namespace
