// The end of a level as the player meets it: the clock when the tick counter
// passes 2^31 or wraps at 2^32, the three outcome screens as drawn, Esc
// tapped on them, and an outcome picture the display lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "tests/game/replay_runner.h"

namespace {

using replay::Decision;
using replay::FrameRecord;

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
// 0 (or out of reach, with a game-over jewel). Each waits while no key is
// down; Esc tapped there and let go before the frame ends still closes the
// program, giving the display back once.
TEST(OutcomeScreens, TextsAndEscTappedThere) {
    const struct {
        int level, objective;
        std::vector<std::vector<int>> where;  // of each line: colour, x, y
        std::vector<std::string> lines;
    } cases[] = {
        {1,
         0,
         {{30, 150, 224}, {20, 150, 256}, {127, 150, 272}},
         {"CONGRATULATIONS LEVEL 1 COMPLETE!!!", "PRESS SPACEBAR TO CONTINUE TO NEXT LEVEL...",
          "PRESS ESC TO QUIT GAME..."}},
        {1,
         INT_MAX,
         {{10, 150, 224}, {20, 150, 256}, {127, 150, 272}, {127, 150, 288}},
         {"YOU HAVE FAILED YOUR OBJECTIVE!!!", "PRESS SPACEBAR TO RETRY...",
          "PRESS BACKSPACE TO GO TO TITLE SCREEN...", "PRESS ESC TO QUIT GAME..."}},
        {5,
         0,
         {{30, 50, 224}, {60, 200, 240}, {60, 130, 256}, {20, 160, 288}, {127, 200, 304}},
         {"CONGRATULATIONS YOU ARE ONE OF THE BEST VORNACKLE OF ALL TIME!!!",
          "NEW FASTEST TIME: ", "YOU ARE THE FASTEST VORNACKLE IN ALL THE LAND!!!",
          "PRESS BACKSPACE TO GO TO TITLE SCREEN...", "PRESS ESC TO QUIT GAME..."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        int exitCode = -1, polls = 0;
        replay::Play(
            0, 2000,
            [&](const FrameRecord& frame) {
                const int state = frame.game.screenState;
                if (state == Briefing) gameData.level = c.level;
                if (state != Playing) return Decision{{replay::MenuKey(state)}};
                if (!frame.HasText(c.lines[0])) {
                    gameData.objective = c.objective;
                    gameData.gameOverHit = 1;
                    gameData.totalSeconds = 7;
                    return Decision{};
                }
                for (size_t i = 0; i < c.lines.size(); ++i) {
                    std::string line = c.lines[i];  // the time: 7 before, 0 or 1 in play
                    if (line.back() == ' ')
                        line += std::to_string(frame.NumberAfter(line)) + " SECONDS";
                    EXPECT_EQ(frame.Where(line), c.where[i]) << line;
                }
                EXPECT_TRUE(c.level < 5 || gameData.totalSeconds == 7 ||
                            gameData.totalSeconds == 8);
                // No key for a while keeps the screen up; then Esc, tapped.
                seam::SetPollHook([&polls] {
                    if (++polls == 200) seam::TapKey(VK_ESCAPE);
                });
                return Decision{};
            },
            1, {}, &exitCode);
        seam::SetPollHook(nullptr);
        EXPECT_GE(polls, 200);
        EXPECT_EQ(exitCode, 0);
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
    bool redrawn = false;
    int exitCode = -1;
    replay::Play(
        0, 2000,
        [&](const FrameRecord& frame) {
            const int state = frame.game.screenState;
            if (state != Playing) return Decision{{replay::MenuKey(state)}};
            if (frame.HasText("YOU HAVE FAILED YOUR OBJECTIVE!!!")) {
                redrawn = frame.NumberAfter("Objective: ") == 0;  // the head-up line under it
                return Decision{{}, 0, true};
            }
            gameData.gameOverHit = 1;
            seam::LoseSurfaces();
            return Decision{};
        },
        1, {}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(redrawn);
}

}  // namespace
