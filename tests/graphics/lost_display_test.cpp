// Losing the display (Alt+Tab, a locked screen): the game must neither hang
// nor come back with a scrambled basket once the system gives the display
// back, although the sheet the frames were cut from is long freed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tests/graphics/graphics_test_support.h"

namespace {

struct Frames {
    IDirectDrawSurface7* cell[2];
};

// What start-up does: cut both frames, then free the sheet's pixels.
Frames CutFrames() {
    BitmapFile sheet = {};
    EXPECT_EQ(ReadBitmapFile(&sheet, gfx::OpenBytes(gfx::MakeSheet(148, 81))), 1);
    Frames frames = {};
    for (int k = 0; k < 2; ++k) {
        frames.cell[k] = MakeFrameSurface();
        EXPECT_NE(frames.cell[k], nullptr);
        CopyFrameCell(&sheet, frames.cell[k], k);
    }
    free(sheet.pixels);
    return frames;
}

// One screen of the title's kind: both baskets on a cleared picture.
void DrawBaskets(const Frames& frames) {
    FillRect(0, 0, 639, 479, 0);
    BlitFrame(frames.cell[0], 400, 320);
    BlitFrame(frames.cell[1], 270, 304);
}

std::vector<BYTE> Presented() {
    const BYTE* pixels = seam::PrimaryPixels();
    return std::vector<BYTE>(pixels, pixels + 640 * 480);
}

TEST(LostDisplay, FramesDroppedWhileAwayThenTheSamePictureComesBack) {
    gfx::OpenDisplay();
    PaletteTable[127] = PALETTEENTRY{200, 100, 50, PC_NOCOLLAPSE};
    display.palette->SetEntries(0, 0, 256, PaletteTable);
    const Frames frames = CutFrames();
    DrawBaskets(frames);
    PresentFrame();
    const std::vector<BYTE> before = Presented();
    const int flips = seam::FlipCount();

    // Taken away; the system refuses the surfaces back twice.
    seam::LoseSurfaces();
    seam::FailNext(seam::Call::RestoreAllSurfaces, 2);
    for (int frame = 0; frame < 3; ++frame) {
        DrawBaskets(frames);
        EXPECT_EQ(PresentFrame(), 1);
    }
    EXPECT_EQ(seam::FlipCount(), flips) << "nothing is shown while the display is away";

    // The third attempt restored the surfaces: the next picture is whole.
    DrawBaskets(frames);
    PresentFrame();
    EXPECT_EQ(seam::FlipCount(), flips + 1);
    EXPECT_TRUE(Presented() == before) << "both baskets as they were before the loss";
    const PALETTEENTRY heading = seam::DisplayPalette(127);
    EXPECT_EQ(heading.peRed, 200);
    EXPECT_EQ(heading.peGreen, 100);
    EXPECT_EQ(heading.peBlue, 50);
}

// Cutting the same surface again replaces what was kept for it, and a new
// display forgets the old display's frames.
TEST(LostDisplay, RestoresTheLatestCutOfEachFrameOfTheCurrentDisplay) {
    gfx::OpenDisplay();
    CutFrames();  // frames of a display that is then replaced
    gfx::OpenDisplay();
    Frames frames = CutFrames();
    BitmapFile blank = {};
    ASSERT_EQ(ReadBitmapFile(&blank, gfx::OpenBytes(gfx::MakeSheet(148, 81))), 1);
    for (int i = 0; i < 148 * 81; ++i) blank.pixels[i] = 0;
    CopyFrameCell(&blank, frames.cell[1], 1);
    free(blank.pixels);

    seam::LoseSurfaces();
    PresentFrame();
    DrawBaskets(frames);
    PresentFrame();
    int frame0Lit = 0, frame1Lit = 0;
    for (int y = 0; y < 79; ++y) {
        for (int x = 0; x < 71; ++x) {
            frame0Lit += seam::PrimaryPixels()[(320 + y) * 640 + 400 + x] != 0;
            frame1Lit += seam::PrimaryPixels()[(304 + y) * 640 + 270 + x] != 0;
        }
    }
    EXPECT_GT(frame0Lit, 0);
    EXPECT_EQ(frame1Lit, 0) << "the blank recut, not the first cut, came back";
}

}  // namespace
