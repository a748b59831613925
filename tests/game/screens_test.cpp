// The story, title and briefing screens as presented: their texts, colours
// and places, which key leads where, Esc on each, and the blinking prompts.
#include <gtest/gtest.h>

#include "tests/game/game_test_support.h"

namespace {

using gametest::Shot;

void Hold(std::initializer_list<int> keys) {
    seam::ReleaseAllKeys();
    for (int key : keys) seam::HoldKey(key, true);
}

// Moves on from each screen with its own key, and presses Esc on `quitOn`.
void WalkTo(int quitOn, const std::vector<Shot>& shots) {
    const int state = shots.back().state;
    if (state == quitOn) {
        Hold({VK_ESCAPE});
    } else if (state == Story) {
        Hold({VK_RETURN});
    } else if (state == Title) {
        Hold({VK_SPACE});
    } else if (state == Briefing) {
        Hold({VK_RETURN});
    }
}

void ExpectText(const Shot& shot, const std::string& text, int colour, int x, int y) {
    const seam::TextDraw* draw = shot.Find(text);
    ASSERT_NE(draw, nullptr) << "missing: " << text;
    EXPECT_EQ(draw->index, colour) << text;
    EXPECT_EQ(draw->x, x) << text;
    EXPECT_EQ(draw->y, y) << text;
}

class ScreensTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gametest::ResetGame();
        gametest::EnterEmptyFolder();
        gametest::WriteSpriteSheet();
    }
};

TEST_F(ScreensTest, EscOnEachMenuScreenEndsTheProgram) {
    for (int screen : {Story, Title, Briefing}) {
        gametest::ResetGame();
        const gametest::Run run =
            gametest::RunGame([&](const std::vector<Shot>& shots) { WalkTo(screen, shots); });
        EXPECT_EQ(run.exitCode, 0) << screen;
        EXPECT_EQ(run.shots.back().state, screen);
        EXPECT_EQ(gameData.screenState, Shutdown) << screen;
        EXPECT_EQ(gameData.quitRequested, 1) << screen;
        EXPECT_GE(seam::CursorShowCount(), 0);
    }
}

// Enter still held when the title appears must not start a game: only Space
// does. The title redraws until then and the story never comes back.
TEST_F(ScreensTest, StoryOnceThenTitleWaitsForSpace) {
    const gametest::Run run = gametest::RunGame([](const std::vector<Shot>& shots) {
        if (shots.size() < 8) {
            Hold({VK_RETURN});
        } else {
            Hold({VK_ESCAPE});
        }
    });
    ASSERT_EQ(run.shots.size(), 8u);
    const Shot& story = run.shots[0];
    ExpectText(story, "You are VAZOZ...local resident in the primitive rural area of Jewel Town.",
               70, 50, 80);
    ExpectText(story, "from the skies and sell them for a profit in the nearby city of Coalville.",
               70, 50, 140);
    ExpectText(story, "town has ever seen???", 70, 50, 260);
    for (size_t i = 1; i < run.shots.size(); ++i) {
        EXPECT_EQ(run.shots[i].state, Title);
        EXPECT_FALSE(run.shots[i].Has("town has ever seen???"));
    }
    const Shot& title = run.shots[1];
    ExpectText(title, "V O R N A C K L E", 127, 220, 144);
    ExpectText(title, "PRESS ESC TO EXIT", 10, 240, 224);
    const seam::TextDraw* credit = title.Find("A GAME BY THE VORNACKLE TEAM");
    ASSERT_NE(credit, nullptr);
    EXPECT_EQ(credit->index, 70);
    EXPECT_FALSE(title.Has("FASTEST COMPLETION TIME: 10000 SECONDS"));
}

TEST_F(ScreensTest, FastestTimeShownOnlyOnceAGameWasCompleted) {
    for (int best : {10000, 95, 0}) {
        gametest::ResetGame();
        gameData.bestTotalSeconds = best;
        const gametest::Run run =
            gametest::RunGame([](const std::vector<Shot>& shots) { WalkTo(Title, shots); });
        const Shot& title = run.shots.back();
        const std::string line = "FASTEST COMPLETION TIME: " + std::to_string(best) + " SECONDS";
        if (best == 10000) {
            EXPECT_EQ(title.NumberAfter("FASTEST COMPLETION TIME: "), -99999);
        } else {
            ExpectText(title, line, 60, 160, 176);
        }
    }
}

// However the last game ended, the title starts the next one at level 1
// with no time counted, and keeps the best time.
TEST_F(ScreensTest, TitleStartsAFreshGame) {
    gameData.level = 4;
    gameData.totalSeconds = 77;
    gameData.bestTotalSeconds = 95;
    const gametest::Run run =
        gametest::RunGame([](const std::vector<Shot>& shots) { WalkTo(Briefing, shots); });
    const Shot& briefing = run.shots.back();
    EXPECT_TRUE(briefing.Has("LEVEL 1: CATCH 1000 POINTS IN JEWELS"));
    EXPECT_TRUE(briefing.Has("TOTAL COMPLETION TIME: 0 SECONDS"));
    EXPECT_EQ(gameData.bestTotalSeconds, 95);
}

struct BriefingCase {
    int level;
    int objective;
    std::vector<int> kindPoints;
    std::vector<std::tuple<std::string, int, int>> levelLines;  // text, colour, y
    std::vector<std::string> kindLines;                         // red .. white
};

const BriefingCase kBriefings[] = {
    {1,
     1000,
     {25, 25, 50, 75, 75, 100, 150},
     {{"LEVEL 1: CATCH 1000 POINTS IN JEWELS", 127, 176}},
     {"RED JEWELS = 25 POINTS", "GREEN JEWELS = 25 POINTS", "BLUE JEWELS = 50 POINTS",
      "ORANGE JEWELS = 75 POINTS", "YELLOW JEWELS = 75 POINTS", "PURPLE JEWELS = 100 POINTS",
      "WHITE JEWELS = 150 POINTS"}},
    {2,
     10,
     {0, 0, 1, 0, 0, 0, 0},
     {{"LEVEL 2: CATCH 10 BLUE JEWELS", 30, 176}},
     {"RED JEWELS = 0 POINTS", "GREEN JEWELS = 0 POINTS", "BLUE JEWELS = 1 POINTS",
      "ORANGE JEWELS = 0 POINTS", "YELLOW JEWELS = 0 POINTS", "PURPLE JEWELS = 0 POINTS",
      "WHITE JEWELS = 0 POINTS"}},
    {3,
     1250,
     {25, 25, 50, 75, 75, 200, -100},
     {{"LEVEL 3: CATCH 1250 POINTS IN JEWELS", 127, 144},
      {"WHITE JEWELS SUBTRACT 100 POINTS!!!", 70, 160},
      {"PURPLE JEWELS WORTH DOUBLE POINTS!!!", 60, 176}},
     {"RED JEWELS = 25 POINTS", "GREEN JEWELS = 25 POINTS", "BLUE JEWELS = 50 POINTS",
      "ORANGE JEWELS = 75 POINTS", "YELLOW JEWELS = 75 POINTS", "PURPLE JEWELS = 200 POINTS",
      "WHITE JEWELS = -100 POINTS"}},
    {4,
     5,
     {-1, 0, 0, 1, 0, 0, 0},
     {{"LEVEL 4: CATCH 5 ORANGE JEWELS", 40, 144}, {"DON'T CATCH ANY RED JEWELS!!!!", 10, 160}},
     {"RED JEWELS = GAME OVER", "GREEN JEWELS = 0 POINTS", "BLUE JEWELS = 0 POINTS",
      "ORANGE JEWELS = 1 POINTS", "YELLOW JEWELS = 0 POINTS", "PURPLE JEWELS = 0 POINTS",
      "WHITE JEWELS = 0 POINTS"}},
    {5,
     1500,
     {25, -1, 50, -1, 225, -150, 150},
     {{"LEVEL 5: CATCH 1500 POINTS IN JEWELS", 127, 112},
      {"PURPLE JEWELS SUBTRACT 150 POINTS!!!", 60, 128},
      {"YELLOW JEWELS WORTH TRIPLE POINTS!!!", 50, 144},
      {"DON'T CATCH ANY ORANGE JEWELS!!!!", 40, 160},
      {"DON'T CATCH ANY GREEN JEWELS!!!!", 20, 176}},
     {"RED JEWELS = 25 POINTS", "GREEN JEWELS = GAME OVER", "BLUE JEWELS = 50 POINTS",
      "ORANGE JEWELS = GAME OVER", "YELLOW JEWELS = 225 POINTS", "PURPLE JEWELS = -150 POINTS",
      "WHITE JEWELS = 150 POINTS"}},
};

// Each level's briefing, reached through the title (which always starts at
// level 1) by moving `level` on while the first briefing is up.
TEST_F(ScreensTest, EachLevelsBriefingSetsItsRulesAndShowsThem) {
    for (const BriefingCase& expected : kBriefings) {
        SCOPED_TRACE(expected.level);
        gametest::ResetGame();
        const gametest::Run run = gametest::RunGame([&](const std::vector<Shot>& shots) {
            if (shots.back().state != Briefing) return WalkTo(Briefing, shots);
            gameData.level = expected.level;
            gameData.totalSeconds = 42;
            Hold({});
            if (shots.size() >= 4) Hold({VK_ESCAPE});
        });
        const Shot& briefing = run.shots.back();
        EXPECT_EQ(gameData.objective, expected.objective);
        EXPECT_EQ(std::vector<int>(gameData.kindPoints, gameData.kindPoints + 7),
                  expected.kindPoints);
        for (const auto& [text, colour, y] : expected.levelLines)
            ExpectText(briefing, text, colour, 200, y);
        for (int kind = 0; kind < 7; ++kind) {
            ExpectText(briefing, expected.kindLines[kind], 10 * (kind + 1), 200, 208 + 16 * kind);
        }
        ExpectText(briefing, "TOTAL COMPLETION TIME: 42 SECONDS", 127, 200, 32);
        ExpectText(briefing, "USE LEFT ARROW TO MOVE LEFT", 20, 200, 64);
        ExpectText(briefing, "USE RIGHT ARROW TO MOVE RIGHT", 20, 200, 80);
        // Only this level's block, the common lines and maybe the prompt.
        const size_t prompt = briefing.Has("PRESS ENTER TO START LEVEL") ? 1 : 0;
        EXPECT_EQ(briefing.texts.size(), expected.levelLines.size() + 10 + prompt);
    }
}

// The prompts of all three screens show while the tick count modulo 3000 is
// at most 1750. The clock stands still during a pass, so each picture is
// drawn at the tick set after the one before.
TEST_F(ScreensTest, PromptsBlinkWithTheTickCount) {
    const DWORD ticks[] = {0, 1750, 1751, 2999, 3000, 4750, 4751, 4294967295u, 4294965000u};
    const std::pair<int, std::string> prompts[] = {
        {Story, "PRESS ENTER..."},
        {Title, "PRESS SPACEBAR TO START NEW GAME"},
        {Briefing, "PRESS ENTER TO START LEVEL"},
    };
    for (const auto& [screen, prompt] : prompts) {
        SCOPED_TRACE(prompt);
        gametest::ResetGame();
        seam::SetTickStep(0);
        size_t next = 0;
        DWORD drawnAt = 0;
        seam::SetTick(drawnAt);
        gametest::RunGame(
            [&](const std::vector<Shot>& shots) {
                const Shot& shot = shots.back();
                if (shot.state != screen) return WalkTo(screen + 100, shots);
                if (next > 0) {
                    const bool on = drawnAt % 3000 <= 1750;
                    EXPECT_EQ(shot.Has(prompt), on) << "tick " << drawnAt;
                }
                Hold({});
                if (next == std::size(ticks)) return Hold({VK_ESCAPE});
                drawnAt = ticks[next++];
                seam::SetTick(drawnAt);
            },
            0);
        EXPECT_EQ(next, std::size(ticks));
    }
}

}  // namespace
