// The story, title and briefing screens: which key leads where, the fastest
// time, each level's briefing as drawn, and the blinking prompts.
#include <gtest/gtest.h>

#include "tests/game/replay_runner.h"

namespace {

using replay::Decision;
using replay::FrameRecord;
using V = std::vector<int>;

// One story, then the title: Enter still held when it appears must not
// start a game, only Space does. Its fastest time shows only once a game was
// completed: 10000 means none yet, 0 is a real time.
TEST(Screens, OneStoryThenTheTitleWithItsFastestTime) {
    for (int best : {10000, 0}) {
        int pictures = 0;
        const auto frames = replay::Play(
            0, 100,
            [&](const FrameRecord&) {
                return Decision{{VK_RETURN}, 0, ++pictures == 8};
            },
            1, [best] { gameData.bestTotalSeconds = best; });
        ASSERT_EQ(frames.size(), 8u);
        EXPECT_TRUE(frames[0].HasText("town has ever seen???"));  // the whole story was told
        for (size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i].game.screenState, Title);
        EXPECT_EQ(frames[1].NumberAfter("FASTEST COMPLETION TIME: "), best == 0 ? 0 : -1);
        if (best == 0) {
            EXPECT_EQ(frames[1].Where("FASTEST COMPLETION TIME: 0 SECONDS"), V({60, 160, 176}));
        }
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
        int briefings = 0;
        const auto frames = replay::Play(0, 100, [&](const FrameRecord& frame) {
            const int state = frame.game.screenState;
            if (state != Briefing) return Decision{{replay::MenuKey(state)}};
            gameData.level = level;
            gameData.totalSeconds = 42;
            return Decision{{}, 0, ++briefings == 2};
        });
        const FrameRecord& briefing = frames.back();
        EXPECT_EQ(gameData.objective, kRules[level - 1].objective);
        size_t ownLines = 0;
        for (const auto& line : kLevelLines) {
            if (line.level != level) continue;
            EXPECT_EQ(briefing.Where(line.text), V({line.colour, 200, line.y})) << line.text;
            ++ownLines;
        }
        for (int kind = 0; kind < kJewelKinds; ++kind) {
            const int points = kRules[level - 1].kindPoints[kind];
            EXPECT_EQ(gameData.kindPoints[kind], points) << kind;
            const std::string line =
                std::string(kNames[kind]) +
                " JEWELS = " + (points == -1 ? "GAME OVER" : std::to_string(points) + " POINTS");
            EXPECT_EQ(briefing.Where(line), V({10 * (kind + 1), 200, 208 + 16 * kind})) << line;
        }
        EXPECT_EQ(briefing.Where("TOTAL COMPLETION TIME: 42 SECONDS"), V({127, 200, 32}));
        EXPECT_EQ(briefing.Where("USE LEFT ARROW TO MOVE LEFT"), V({20, 200, 64}));
        EXPECT_EQ(briefing.Where("USE RIGHT ARROW TO MOVE RIGHT"), V({20, 200, 80}));
        // Only this level's block, the common lines and maybe the prompt.
        const size_t prompt = briefing.HasText("PRESS ENTER TO START LEVEL") ? 1 : 0;
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
    size_t next = 0;
    replay::Play(
        ticks[0].first, 100,
        [&](const FrameRecord& frame) {
            EXPECT_EQ(frame.HasText("PRESS ENTER..."), ticks[next].second) << ticks[next].first;
            if (++next == std::size(ticks)) return Decision{{}, 0, true};
            seam::SetTick(ticks[next].first);
            return Decision{};
        },
        0, [] { seam::SetTickBudget(0); });
    EXPECT_EQ(next, std::size(ticks));
}

}  // namespace
