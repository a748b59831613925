// The story, title and briefing screens: which key leads where, the fastest
// time, each level's briefing as drawn, and the blinking prompts.
#include <gtest/gtest.h>

#include "tests/game/game_test_support.h"

namespace {

using gametest::ExpectText;
using gametest::Hold;
using gametest::Shot;

// One story, then the title: Enter still held when it appears must not
// start a game, only Space does. Its fastest time shows only once a game was
// completed: 10000 means none yet, 0 is a real time.
TEST(Screens, OneStoryThenTheTitleWithItsFastestTime) {
    for (int best : {10000, 0}) {
        gametest::ResetGame();
        gameData.bestTotalSeconds = best;
        const gametest::Run run = gametest::RunGame([](const std::vector<Shot>& shots) {
            Hold({shots.size() < 8 ? VK_RETURN : VK_ESCAPE});
        });
        ASSERT_EQ(run.shots.size(), 8u);
        EXPECT_TRUE(run.shots[0].Has("town has ever seen???"));  // the whole story was told
        for (size_t i = 1; i < run.shots.size(); ++i) EXPECT_EQ(run.shots[i].state, Title) << i;
        EXPECT_EQ(run.shots[1].NumberAfter("FASTEST COMPLETION TIME: "), best == 0 ? 0 : -99999);
        if (best == 0) ExpectText(run.shots[1], "FASTEST COMPLETION TIME: 0 SECONDS", 60, 160, 176);
    }
}

// Each level's objective and points (red .. white), then its own lines.
const struct {
    int objective, kindPoints[kJewelKinds];
} kRules[5] = {{1000, {25, 25, 50, 75, 75, 100, 150}},
               {10, {0, 0, 1, 0, 0, 0, 0}},
               {1250, {25, 25, 50, 75, 75, 200, -100}},
               {5, {-1, 0, 0, 1, 0, 0, 0}},
               {1500, {25, -1, 50, -1, 225, -150, 150}}};
const struct {
    int level;
    const char* text;
    int colour, y;
} kLevelLines[] = {
    {1, "LEVEL 1: CATCH 1000 POINTS IN JEWELS", 127, 176},
    {2, "LEVEL 2: CATCH 10 BLUE JEWELS", 30, 176},
    {3, "LEVEL 3: CATCH 1250 POINTS IN JEWELS", 127, 144},
    {3, "WHITE JEWELS SUBTRACT 100 POINTS!!!", 70, 160},
    {3, "PURPLE JEWELS WORTH DOUBLE POINTS!!!", 60, 176},
    {4, "LEVEL 4: CATCH 5 ORANGE JEWELS", 40, 144},
    {4, "DON'T CATCH ANY RED JEWELS!!!!", 10, 160},
    {5, "LEVEL 5: CATCH 1500 POINTS IN JEWELS", 127, 112},
    {5, "PURPLE JEWELS SUBTRACT 150 POINTS!!!", 60, 128},
    {5, "YELLOW JEWELS WORTH TRIPLE POINTS!!!", 50, 144},
    {5, "DON'T CATCH ANY ORANGE JEWELS!!!!", 40, 160},
    {5, "DON'T CATCH ANY GREEN JEWELS!!!!", 20, 176},
};

// Each level's briefing, reached through the title (which always starts at
// level 1) by moving the level on while the first briefing is up.
TEST(Screens, EachLevelsBriefingSetsItsRulesAndShowsThem) {
    const char* const kNames[] = {"RED", "GREEN", "BLUE", "ORANGE", "YELLOW", "PURPLE", "WHITE"};
    for (int level = 1; level <= 5; ++level) {
        SCOPED_TRACE(level);
        gametest::ResetGame();
        const gametest::Run run = gametest::RunGame([&](const std::vector<Shot>& shots) {
            if (shots.back().state != Briefing) return gametest::WalkTo(Briefing, shots);
            gameData.level = level;
            gameData.totalSeconds = 42;
            Hold({});
            if (shots.size() >= 4) Hold({VK_ESCAPE});
        });
        const Shot& briefing = run.shots.back();
        EXPECT_EQ(gameData.objective, kRules[level - 1].objective);
        size_t ownLines = 0;
        for (const auto& line : kLevelLines) {
            if (line.level != level) continue;
            ExpectText(briefing, line.text, line.colour, 200, line.y);
            ++ownLines;
        }
        for (int kind = 0; kind < kJewelKinds; ++kind) {
            const int points = kRules[level - 1].kindPoints[kind];
            EXPECT_EQ(gameData.kindPoints[kind], points) << kind;
            ExpectText(briefing,
                       std::string(kNames[kind]) + " JEWELS = " +
                           (points == -1 ? "GAME OVER" : std::to_string(points) + " POINTS"),
                       10 * (kind + 1), 200, 208 + 16 * kind);
        }
        ExpectText(briefing, "TOTAL COMPLETION TIME: 42 SECONDS", 127, 200, 32);
        ExpectText(briefing, "USE LEFT ARROW TO MOVE LEFT", 20, 200, 64);
        ExpectText(briefing, "USE RIGHT ARROW TO MOVE RIGHT", 20, 200, 80);
        // Only this level's block, the common lines and maybe the prompt.
        const size_t prompt = briefing.Has("PRESS ENTER TO START LEVEL") ? 1 : 0;
        EXPECT_EQ(briefing.texts.size(), ownLines + 10 + prompt);
    }
}

// The prompts show while the tick count modulo 3000 is at most 1750, also
// near the wrap (each screen's prompt blinks in the golden replay). The clock
// stands still, so each picture is drawn at the tick set after the one before.
TEST(Screens, PromptsBlinkWithTheTickCount) {
    const std::pair<DWORD, bool> ticks[] = {
        {0, true},    {1750, true},  {1751, false},        {2999, false},      {3000, true},
        {4750, true}, {4751, false}, {4294967295u, false}, {4294965000u, true}};
    gametest::ResetGame();
    seam::SetTickStep(0);
    size_t next = 0;
    seam::SetTick(ticks[0].first);
    gametest::RunGame(
        [&](const std::vector<Shot>& shots) {
            EXPECT_EQ(shots.back().Has("PRESS ENTER..."), ticks[next].second) << ticks[next].first;
            if (++next == std::size(ticks)) return Hold({VK_ESCAPE});
            seam::SetTick(ticks[next].first);
        },
        0);
    EXPECT_EQ(next, std::size(ticks));
}

}  // namespace
