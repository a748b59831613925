// Start-up and the shell as the player sees them: the sheet's colours and
// the basket on screen, a game that still runs after each way start-up can
// stop early, and Esc. (Start-up with no window or display: the fault sweep.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/game/replay_runner.h"

namespace {

using replay::Decision;
using replay::FrameRecord;

// Entry i of the test sheet: red i, green 3i, blue 5i + 1 (modulo 256).
PALETTEENTRY SheetColour(int i) {
    return PALETTEENTRY{BYTE(i), BYTE(3 * i), BYTE(5 * i + 1), PC_NOCOLLAPSE};
}

// Works in an empty scratch folder, where the game looks for its sheet
// first, holding `sheet` under the sheet's name unless it is empty.
void UseFolderWith(const std::string& sheet) {
    char folder[] = "/tmp/vornackle-game-test-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) abort();
    seam::SetProgramDirectory(folder);
    if (sheet.empty()) return;
    FILE* file = fopen("playersprite.bmp", "wb");
    if (file == nullptr) abort();
    fwrite(sheet.data(), 1, sheet.size(), file);
    fclose(file);
}

// A 148 x 81 sheet of the colours above whose cell 0 is painted with index
// 200, cell 1 with 201 (rows 20..60: the same rows from either end).
std::string TestSheet() {
    std::string bmp = "BM";
    auto put = [&bmp](unsigned v) { bmp.append(reinterpret_cast<const char*>(&v), 4); };
    for (unsigned v : {1078u + 148 * 81, 0u, 1078u, 40u, 148u, 81u, 1u | 8u << 16, 0u, 148u * 81,
                       0u, 0u, 0u, 0u})
        put(v);
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY e = SheetColour(i);
        put(e.peBlue | e.peGreen << 8 | e.peRed << 16);
    }
    for (int row = 0; row < 81; ++row) {
        const char cell0 = row >= 20 && row <= 60 ? char(200) : 0, cell1 = cell0 ? char(201) : 0;
        bmp += std::string(10, 0) + std::string(51, cell0) + std::string(22, 0) +
               std::string(51, cell1) + std::string(14, 0);
    }
    return bmp;
}

// Entry i as it should be: the sheet's with the seven jewel colours on top,
// or else the display's default ramps (red, green, blue, grey).
PALETTEENTRY Expected(int i, bool fromSheet) {
    static const PALETTEENTRY kJewels[] = {{255, 0, 0, 4},    {0, 255, 0, 4},   {0, 0, 255, 4},
                                           {255, 165, 0, 4},  {255, 255, 0, 4}, {205, 0, 205, 4},
                                           {255, 255, 255, 4}};
    if (fromSheet) return i % 10 || i < 10 || i > 70 ? SheetColour(i) : kJewels[i / 10 - 1];
    const BYTE v = static_cast<BYTE>(4 * (i % 64)), ramp = static_cast<BYTE>(i / 64);
    return PALETTEENTRY{ramp % 3 == 0 ? v : BYTE(0), ramp % 2 == 1 ? v : BYTE(0),
                        ramp >= 2 ? v : BYTE(0), PC_NOCOLLAPSE};
}

const struct {
    const char* what;
    std::string sheet;  // empty: none
    seam::Call fail;    // Count: nothing fails
    bool sheetInTable, sheetOnScreen;
} kCases[] = {
    {"good sheet", TestSheet(), seam::Call::Count, true, true},
    {"no sheet", "", seam::Call::Count, false, false},
    {"refused sheet", "MB" + std::string(80, 'x'), seam::Call::Count, false, false},
    {"palette upload refused", TestSheet(), seam::Call::SetEntries, true, false},
};

// Through the story (Enter) and the title (Esc); the basket, cell 0 then
// cell 1, appears only when the sheet's colours reached the screen.
TEST(StartUp, SheetColoursAndBasketOrAPlayableGameWithout) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        int storyPixel = -1, titlePixel = -1, exitCode = -1;
        auto controller = [&](const FrameRecord& frame) {
            const BYTE* screen = seam::PrimaryPixels();
            if (frame.game.screenState != Story) {
                titlePixel = screen[344 * 640 + 300];
                return Decision{{}, 0, true};
            }
            storyPixel = screen[360 * 640 + 430];
            return Decision{{VK_RETURN}};
        };
        const auto frames = replay::Play(
            0, 100, controller, 1,
            [&] {
                UseFolderWith(c.sheet);
                if (c.fail != seam::Call::Count) seam::FailNext(c.fail);
            },
            &exitCode);
        EXPECT_EQ(exitCode, 0);
        EXPECT_TRUE(frames.at(0).HasText("town has ever seen???"));
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

// The loop steps the game on every iteration, also before any message
// arrives (or the story would never appear); Esc quits with exit code 0 and
// the cursor back.
TEST(Shell, EscOnEachMenuScreenQuitsWithExitZeroAndTheCursorBack) {
    for (int screen : {Story, Title, Briefing}) {
        int cursorWhilePlaying = 0, exitCode = -1;
        auto controller = [&](const FrameRecord& frame) {
            cursorWhilePlaying = seam::CursorShowCount();
            const int state = frame.game.screenState;
            return Decision{{replay::MenuKey(state)}, 0, state == screen};
        };
        const auto frames = replay::Play(0, 100, controller, 1, {}, &exitCode);
        EXPECT_EQ(exitCode, 0) << screen;
        EXPECT_EQ(frames.front().game.screenState, Story);
        EXPECT_EQ(frames.back().game.screenState, screen);
        EXPECT_EQ(gameData.screenState, Shutdown) << screen;
        EXPECT_LT(cursorWhilePlaying, 0);
        EXPECT_GE(seam::CursorShowCount(), 0);
    }
    // A close request waits before the loop starts; the iteration that
    // handles it must still step the game, which in Shutdown gives the display back.
    int exitCode = -1;
    replay::Play(
        0, 1, {}, 1,
        [] {
            gameData.screenState = Shutdown;
            seam::PushCloseRequest();
        },
        &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(gameData.screenState, Ended);
    EXPECT_FALSE(seam::ReleaseLog().empty());
}

}  // namespace
