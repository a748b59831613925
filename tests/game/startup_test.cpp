// Start-up and the shell as the player sees them: the sheet's colours and
// the basket on screen, a game that still runs after each way start-up can
// stop early, one line and exit code 1 when nothing can be shown, and Esc.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/game/game_test_support.h"

namespace {

// Entry i as it should be: the sheet's with the seven jewel colours on top,
// or else the display's default ramps (red, green, blue, grey).
PALETTEENTRY Expected(int i, bool fromSheet) {
    static const PALETTEENTRY kJewels[] = {{255, 0, 0, 4},    {0, 255, 0, 4},   {0, 0, 255, 4},
                                           {255, 165, 0, 4},  {255, 255, 0, 4}, {205, 0, 205, 4},
                                           {255, 255, 255, 4}};
    if (fromSheet)
        return i % 10 || i < 10 || i > 70 ? gametest::SheetColour(i) : kJewels[i / 10 - 1];
    const BYTE v = static_cast<BYTE>(4 * (i % 64)), ramp = static_cast<BYTE>(i / 64);
    return PALETTEENTRY{ramp % 3 == 0 ? v : BYTE(0), ramp % 2 == 1 ? v : BYTE(0),
                        ramp >= 2 ? v : BYTE(0), PC_NOCOLLAPSE};
}

const struct {
    const char* what;
    bool sheet, junk;  // junk: a file under the sheet's name that is no bitmap
    seam::Call fail;   // Count: nothing fails
    bool sheetInTable, sheetOnScreen;
} kCases[] = {
    {"good sheet", true, false, seam::Call::Count, true, true},
    {"no sheet", false, false, seam::Call::Count, false, false},
    {"refused sheet", false, true, seam::Call::Count, false, false},
    {"palette upload refused", true, false, seam::Call::SetEntries, true, false},
};

// Through the story (Enter) and the title (Esc); the basket, cell 0 then
// cell 1, appears only when the sheet's colours reached the screen.
TEST(StartUp, SheetColoursAndBasketOrAPlayableGameWithout) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        gametest::ResetGame(c.sheet);
        if (c.junk) gametest::WriteSheet("MB" + std::string(80, 'x'));
        if (c.fail != seam::Call::Count) seam::FailNext(c.fail);
        int storyPixel = -1, titlePixel = -1;
        bool storyTold = false;
        const gametest::Run run = gametest::RunGame([&](const std::vector<gametest::Shot>& shots) {
            const BYTE* screen = seam::PrimaryPixels();
            if (shots.back().state == Story) {
                storyTold = shots.back().Has("town has ever seen???");
                storyPixel = screen[360 * 640 + 430];
                return gametest::Hold({VK_RETURN});
            }
            titlePixel = screen[344 * 640 + 300];
            gametest::Hold({VK_ESCAPE});
        });
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(storyTold);
        EXPECT_EQ(storyPixel, c.sheetOnScreen ? 200 : 0);
        EXPECT_EQ(titlePixel, c.sheetOnScreen ? 201 : 0);
        for (int i = 0; i < 256; ++i) {
            const PALETTEENTRY table = Expected(i, c.sheetInTable),
                               shown = Expected(i, c.sheetOnScreen);
            ASSERT_EQ(memcmp(&PaletteTable[i], &table, 4), 0) << i;
            const PALETTEENTRY displayed = seam::DisplayPalette(i);
            ASSERT_EQ(memcmp(&displayed, &shown, 4), 0) << i;
        }
    }
}

// Without a window or the flip chain nothing can ever be shown: the game
// ends at once with exit code 1 and one line saying why, never started.
TEST(StartUp, NoWindowOrDisplayEndsWithOneLineAndFailureCode) {
    using seam::Call;
    for (Call call : {Call::RegisterClassA, Call::CreateWindowExA, Call::DirectDrawCreateEx,
                      Call::SetDisplayMode, Call::CreateSurface, Call::GetAttachedSurface}) {
        SCOPED_TRACE(static_cast<int>(call));
        gametest::ResetGame();
        seam::FailNext(call);
        seam::SetTickBudget(600000);
        testing::internal::CaptureStderr();
        EXPECT_EQ(gametest::RunWinMain(), 1);
        const std::string said = testing::internal::GetCapturedStderr();
        if (call >= Call::DirectDrawCreateEx) {
            EXPECT_EQ(said, "vornackle: cannot open the 640 x 480 x 8 display\n");
        }
        EXPECT_EQ(said.rfind("vornackle: ", 0), 0u) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;  // one line
        EXPECT_EQ(seam::FlipCount(), 0);
        EXPECT_GE(seam::CursorShowCount(), 0);
    }
}

// The loop steps the game on every iteration, also before any message
// arrives (or the story would never appear); Esc quits with exit code 0 and
// the cursor back.
TEST(Shell, EscOnEachMenuScreenQuitsWithExitZeroAndTheCursorBack) {
    for (int screen : {Story, Title, Briefing}) {
        gametest::ResetGame();
        int cursorWhilePlaying = 0;
        const gametest::Run run = gametest::RunGame([&](const std::vector<gametest::Shot>& shots) {
            cursorWhilePlaying = seam::CursorShowCount();
            gametest::WalkTo(screen, shots);
        });
        EXPECT_EQ(run.exitCode, 0) << screen;
        EXPECT_EQ(run.shots.front().state, Story);
        EXPECT_EQ(run.shots.back().state, screen);
        EXPECT_EQ(gameData.screenState, Shutdown) << screen;
        EXPECT_LT(cursorWhilePlaying, 0);
        EXPECT_GE(seam::CursorShowCount(), 0);
    }
    // A close request waits before the loop starts; the iteration that
    // handles it must still step the game, which in Shutdown gives the display back.
    gametest::ResetGame();
    gameData.screenState = Shutdown;
    seam::PushCloseRequest();
    EXPECT_EQ(gametest::RunWinMain(), 0);
    EXPECT_EQ(gameData.screenState, Ended);
    EXPECT_FALSE(seam::ReleaseLog().empty());
}

}  // namespace
