// Start-up as the player sees it: the sheet's colours and basket on screen
// after a good start, and a game that still runs after each way start-up
// can stop early.
#include <gtest/gtest.h>

#include "tests/game/game_test_support.h"

namespace {

using gametest::Shot;

bool SameColour(const PALETTEENTRY& a, const PALETTEENTRY& b) {
    return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue &&
           a.peFlags == b.peFlags;
}

struct Probe {
    int storyBasketPixel = -1;
    int titleBasketPixel = -1;
    bool storyTextDrawn = false;
};

// Runs the game through the story and the title, then quits with Esc.
Probe RunToTitleAndQuit() {
    Probe probe;
    const gametest::Run run = gametest::RunGame([&](const std::vector<Shot>& shots) {
        const Shot& shot = shots.back();
        const BYTE* screen = seam::PrimaryPixels();
        seam::ReleaseAllKeys();
        if (shot.state == Story) {
            probe.storyTextDrawn = shot.Has("town has ever seen???");
            probe.storyBasketPixel = screen[(320 + 40) * 640 + 400 + 30];
            seam::HoldKey(VK_RETURN, true);
        } else {
            probe.titleBasketPixel = screen[(304 + 40) * 640 + 270 + 30];
            seam::HoldKey(VK_ESCAPE, true);
        }
    });
    EXPECT_EQ(run.exitCode, 0);
    return probe;
}

const int kJewelIndices[] = {10, 20, 30, 40, 50, 60, 70};
const PALETTEENTRY kJewelColours[] = {
    {255, 0, 0, 4},   {0, 255, 0, 4},   {0, 0, 255, 4},     {255, 165, 0, 4},
    {255, 255, 0, 4}, {205, 0, 205, 4}, {255, 255, 255, 4},
};

bool IsJewelIndex(int index) {
    return index % 10 == 0 && index >= 10 && index <= 70;
}

class StartUpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gametest::ResetGame();
        gametest::EnterEmptyFolder();
    }
};

TEST_F(StartUpTest, SheetPaletteWithJewelColoursAndBothBasketFramesShow) {
    gametest::WriteSpriteSheet();
    const Probe probe = RunToTitleAndQuit();

    for (int i = 0; i < 256; ++i) {
        if (IsJewelIndex(i)) continue;
        EXPECT_TRUE(SameColour(PaletteTable[i], gametest::SheetColour(i))) << i;
        EXPECT_TRUE(SameColour(seam::DisplayPalette(i), gametest::SheetColour(i))) << i;
    }
    for (int k = 0; k < 7; ++k) {
        EXPECT_TRUE(SameColour(PaletteTable[kJewelIndices[k]], kJewelColours[k]));
        EXPECT_TRUE(SameColour(seam::DisplayPalette(kJewelIndices[k]), kJewelColours[k]));
    }
    EXPECT_EQ(probe.storyBasketPixel, 200);  // cell 0 on the story screen
    EXPECT_EQ(probe.titleBasketPixel, 201);  // cell 1 on the title screen
    EXPECT_EQ(gameData.playerX, 320);
    EXPECT_EQ(gameData.playerY, 352);
    EXPECT_EQ(gameData.spriteSheet.pixels, nullptr);
    const LONG sheetWidth = gameData.spriteSheet.infoHeader.biWidth;  // packed: copy out first
    EXPECT_EQ(sheetWidth, 148);
}

// A missing or refused file leaves the default ramps; in both the story is
// still told, just without the basket.
TEST_F(StartUpTest, MissingOrRefusedSheetKeepsRampsAndDrawsNoBasket) {
    for (bool refused : {false, true}) {
        gametest::ResetGame();
        gametest::EnterEmptyFolder();
        if (refused)
            gametest::WriteFile("playersprite.bmp", std::string("MB") + std::string(80, 'x'));
        const Probe probe = RunToTitleAndQuit();

        EXPECT_TRUE(probe.storyTextDrawn);
        EXPECT_EQ(probe.storyBasketPixel, 0);
        EXPECT_EQ(probe.titleBasketPixel, 0);
        EXPECT_TRUE(SameColour(PaletteTable[127], PALETTEENTRY{0, 252, 0, 4}));
        EXPECT_TRUE(SameColour(seam::DisplayPalette(70), PALETTEENTRY{0, 24, 0, 4}));
        EXPECT_EQ(gameData.spriteFrames[0], nullptr);
        EXPECT_EQ(gameData.spriteFrames[1], nullptr);
        EXPECT_EQ(gameData.playerX, 320);
    }
}

TEST_F(StartUpTest, RefusedPaletteUploadKeepsTableButNoFrames) {
    gametest::WriteSpriteSheet();
    seam::FailNext(seam::Call::SetEntries);
    const Probe probe = RunToTitleAndQuit();

    EXPECT_TRUE(SameColour(PaletteTable[127], gametest::SheetColour(127)));
    EXPECT_TRUE(SameColour(PaletteTable[70], PALETTEENTRY{255, 255, 255, 4}));
    EXPECT_TRUE(SameColour(seam::DisplayPalette(127), PALETTEENTRY{0, 252, 0, 4}));
    EXPECT_EQ(probe.storyBasketPixel, 0);
    EXPECT_EQ(gameData.spriteFrames[0], nullptr);
    EXPECT_NE(gameData.spriteSheet.pixels, nullptr);  // frames were never cut
}

// With no display at all nothing can be presented, yet the game still runs
// its screens and quits on Esc.
TEST_F(StartUpTest, NoDisplayStillRunsAndQuitsOnEsc) {
    gametest::WriteSpriteSheet();
    seam::FailNext(seam::Call::DirectDrawCreateEx);
    int polls = 0;
    seam::SetPollHook([&] {
        if (++polls == 50) seam::HoldKey(VK_ESCAPE, true);
    });
    seam::SetTickBudget(600000);
    char commandLine[] = "";
    EXPECT_EQ(WinMain(nullptr, nullptr, commandLine, 1), 0);
    seam::SetPollHook(nullptr);
    EXPECT_GE(polls, 50);
    EXPECT_EQ(seam::FlipCount(), 0);
    EXPECT_EQ(display.device, nullptr);
    EXPECT_EQ(gameData.spriteFrames[0], nullptr);
}

}  // namespace
