// The end of a level as the player meets it: the clock when the tick counter
// passes 2^31 or wraps at 2^32, the three outcome screens as drawn, Esc
// tapped on them, and an outcome picture the display lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "tests/game/game_test_support.h"

namespace {

using gametest::ExpectText;
using gametest::Hold;
using gametest::Shot;

TEST(LevelClock, AsFirstWrittenInTheNormalRangeAndCountingOnAcrossTheWrap) {
    for (DWORD start : {0u, 999u, 1000u, 123456u, 2147450000u}) {
        for (DWORD now = start; now <= start + 31000 && now <= 2147483647u; now += 7) {
            // As first written: signed tick values, each divided by 1000.
            const int first = static_cast<int>(start) / 1000 - static_cast<int>(now) / 1000 + 30;
            ASSERT_EQ(SecondsLeftAt(start, now), first) << start << " " << now;
        }
    }
    // Across 2^31 and the wrap at 2^32 every second still lasts 1000 ms; the
    // thousands are those of the unwrapped counter (2^32 + 0 is 296 ms past one).
    const DWORD cases[][3] = {
        {2147483000u, 2147484000u, 29}, {2147483000u, 2147512999u, 1},
        {2147483000u, 2147513000u, 0},  {4294967000u, 0u, 30},
        {4294967000u, 703u, 30},        {4294967000u, 704u, 29},
        {4294967000u, 29704u, 0},       {4294966500u, 4294966999u, 30},
    };
    for (const auto& c : cases) EXPECT_EQ(SecondsLeftAt(c[0], c[1]), int(c[2])) << c[1];
}

// Each outcome screen's lines, reached in level 1 (or 5) by an objective of
// 0 (or out of reach, with a game-over jewel). Esc tapped there and let go
// before the frame ends still closes the program, giving the display back once.
TEST(OutcomeScreens, TextsAndEscTappedThere) {
    const struct {
        int level, objective;
        std::vector<std::tuple<const char*, int, int, int>> lines;  // text, colour, x, y
    } cases[] = {
        {1,
         0,
         {{"CONGRATULATIONS LEVEL 1 COMPLETE!!!", 30, 150, 224},
          {"PRESS SPACEBAR TO CONTINUE TO NEXT LEVEL...", 20, 150, 256},
          {"PRESS ESC TO QUIT GAME...", 127, 150, 272}}},
        {1,
         INT_MAX,
         {{"YOU HAVE FAILED YOUR OBJECTIVE!!!", 10, 150, 224},
          {"PRESS SPACEBAR TO RETRY...", 20, 150, 256},
          {"PRESS BACKSPACE TO GO TO TITLE SCREEN...", 127, 150, 272},
          {"PRESS ESC TO QUIT GAME...", 127, 150, 288}}},
        {5,
         0,
         {{"CONGRATULATIONS YOU ARE ONE OF THE BEST VORNACKLE OF ALL TIME!!!", 30, 50, 224},
          {"NEW FASTEST TIME: ", 60, 200, 240},
          {"YOU ARE THE FASTEST VORNACKLE IN ALL THE LAND!!!", 60, 130, 256},
          {"PRESS BACKSPACE TO GO TO TITLE SCREEN...", 20, 160, 288},
          {"PRESS ESC TO QUIT GAME...", 127, 200, 304}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::get<0>(c.lines[0]));
        gametest::ResetGame();
        const gametest::Run run = gametest::RunGame([&](const std::vector<Shot>& shots) {
            const Shot& shot = shots.back();
            if (shot.state == Shutdown) return;  // the closing present: keys stay as they are
            if (shot.state == Briefing) gameData.level = c.level;
            if (shot.state != Playing) return gametest::WalkTo(-1, shots);
            Hold({});
            if (shot.Has(std::get<0>(c.lines[0]))) {
                for (auto [text, colour, x, y] : c.lines) {
                    std::string line = text;  // the time: 7 before, 0 or 1 in play
                    if (line.back() == ' ')
                        line += std::to_string(shot.NumberAfter(line)) + " SECONDS";
                    ExpectText(shot, line, colour, x, y);
                }
                EXPECT_TRUE(c.level < 5 || gameData.totalSeconds == 7 ||
                            gameData.totalSeconds == 8);
                return seam::TapKey(VK_ESCAPE);
            }
            gameData.objective = c.objective;
            gameData.gameOverHit = 1;
            gameData.totalSeconds = 7;
        });
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(gameData.screenState, Ended);
        // Each display object once (the basket frames, which hold the device, stay).
        std::vector<std::string> released = seam::ReleaseLog();
        std::sort(released.begin(), released.end());
        EXPECT_EQ(released, (std::vector<std::string>{"clipper", "palette", "surface:back",
                                                      "surface:primary"}));
    }
}

// An outcome picture that never reached the display (taken away just then)
// is drawn afresh, play picture and all, and shown once the display is back.
TEST(OutcomeScreen, PictureTheDisplayLostIsDrawnAfreshAndShown) {
    gametest::ResetGame();
    bool redrawn = false;
    const gametest::Run run = gametest::RunGame([&](const std::vector<Shot>& shots) {
        const Shot& shot = shots.back();
        if (shot.state == Shutdown) return;
        if (shot.state != Playing) return gametest::WalkTo(-1, shots);
        if (shot.Has("YOU HAVE FAILED YOUR OBJECTIVE!!!")) {
            redrawn = shot.NumberAfter("Objective: ") == 0;  // the head-up line under it
            return Hold({VK_ESCAPE});
        }
        Hold({});
        gameData.gameOverHit = 1;
        seam::LoseSurfaces();
    });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(redrawn);
}

}  // namespace
