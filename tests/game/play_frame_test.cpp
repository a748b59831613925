// The play frame in real play: the basket's keys, limits and animation as
// drawn, the outcome decided in a frame with several events, the time that
// each way out of an outcome screen counts, and the new-best rule.
#include <gtest/gtest.h>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"

namespace {

using replay::Decision;
using replay::DrawnBasketFrame;
using replay::FrameRecord;
using replay::RunScenario;
using replay::Scenario;

void StageJewel(int slot, int x, int y, int speed, int kind) {
    gameData.jewels[slot] = Jewel{x, y, speed, kind, 1};
}

// A jewel that the basket standing at 300 catches in the next frame.
void StageCatch(int slot, int kind) {
    StageJewel(slot, 330, 346, 2, kind);
}

// Holds `key` from the first staged frame on (the outcome screen's wait).
Decision Hold(int key) {
    Decision decision;
    decision.held = {key};
    return decision;
}

TEST(PlayBasket, BothArrowsMoveRight) {
    Scenario scenario;
    scenario.frames = 3;
    scenario.held = {VK_LEFT, VK_RIGHT};
    scenario.setup = [] { gameData.playerX = 300; };
    std::vector<FrameRecord> frames = RunScenario(scenario);
    ASSERT_EQ(frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[i].playerX, 305 + 5 * i);
        EXPECT_NE(DrawnBasketFrame(frames[i].picture, 305 + 5 * i), -1) << "frame " << i;
    }
}

// Pushing into an edge: the last step to the edge animates, pushing on does
// not. The animation counter is one move short of a frame change, so an
// animation step shows as the other basket picture.
TEST(PlayBasket, EdgesStopTheBasketAndOnlyRealMovesAnimate) {
    struct EdgeCase {
        const char* what;
        int from, key, edge;
    };
    const EdgeCase cases[] = {
        {"right edge", 565, VK_RIGHT, 570},
        {"left edge", 5, VK_LEFT, 0},
    };
    for (const EdgeCase& edge : cases) {
        SCOPED_TRACE(edge.what);
        Scenario scenario;
        scenario.frames = 3;
        scenario.held = {edge.key};
        scenario.setup = [&] {
            gameData.playerX = edge.from;
            gameData.animIndex = 0;
            gameData.animCounter = 7;
        };
        // At the edge, one move short of a change again: pushing on must not
        // bring the other picture back.
        scenario.step = [&](const FrameRecord&, int) {
            gameData.animCounter = 7;
            return Hold(edge.key);
        };
        std::vector<FrameRecord> frames = RunScenario(scenario);
        ASSERT_EQ(frames.size(), 3u);
        for (const FrameRecord& frame : frames) {
            EXPECT_EQ(frame.playerX, edge.edge);
            EXPECT_EQ(DrawnBasketFrame(frame.picture, edge.edge), 1);
        }
        // At the right edge the frame reaches one column past the screen;
        // the clip keeps it from wrapping onto the left side.
        if (edge.edge == 570) {
            EXPECT_GE(replay::LeftmostDrawnColumn(frames[2].picture), 570);
        }
    }
}

TEST(PlayBasket, PictureChangesEveryEightMovesAndAlternates) {
    Scenario scenario;
    scenario.frames = 26;
    scenario.held = {VK_RIGHT};
    scenario.setup = [] { gameData.playerX = 100; };
    std::vector<FrameRecord> frames = RunScenario(scenario);
    ASSERT_EQ(frames.size(), 26u);
    for (int move = 1; move <= 26; ++move) {
        const FrameRecord& frame = frames[move - 1];
        EXPECT_EQ(frame.playerX, 100 + 5 * move);
        EXPECT_EQ(DrawnBasketFrame(frame.picture, frame.playerX), (move / 8) % 2)
            << "after move " << move;
    }
}

TEST(PlayOutcome, ReachingTheObjectiveWinsOverAFailureInTheSameFrame) {
    // Level 4: orange counts 1 towards 5, red fails the attempt.
    {
        SCOPED_TRACE("a red and the fifth orange caught together");
        Scenario scenario;
        scenario.level = 4;
        scenario.frames = 2;
        scenario.step = [](const FrameRecord&, int) { return Hold(VK_SPACE); };
        scenario.setup = [] {
            gameData.playerX = 300;
            gameData.score = 4;
            StageCatch(2, Red);
            StageCatch(6, Orange);
        };
        std::vector<FrameRecord> frames = RunScenario(scenario);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_TRUE(frames[0].HasText("CONGRATULATIONS LEVEL 4 COMPLETE!!!"));
        EXPECT_FALSE(frames[0].HasText("YOU HAVE FAILED"));
        EXPECT_TRUE(frames[0].HasText("Objective: 5 / 5"));
        EXPECT_EQ(frames[0].beeps, (std::vector<UINT>{MB_OK, MB_OK}));
        EXPECT_EQ(frames[1].beeps, std::vector<UINT>{MB_ICONASTERISK});
        EXPECT_EQ(frames[1].level, 5);
    }
    {
        SCOPED_TRACE("the last blue caught as the clock runs out");
        Scenario scenario;
        scenario.level = 2;
        scenario.frames = 2;
        scenario.step = [](const FrameRecord&, int) { return Hold(VK_SPACE); };
        scenario.setup = [] {
            gameData.playerX = 300;
            gameData.score = 9;
            gameData.levelStartTick = seam::PeekTick() - 30000;
            StageCatch(0, Blue);
        };
        std::vector<FrameRecord> frames = RunScenario(scenario);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_TRUE(frames[0].HasText("Time Remaining: 0"));
        EXPECT_TRUE(frames[0].HasText("CONGRATULATIONS LEVEL 2 COMPLETE!!!"));
        EXPECT_FALSE(frames[0].HasText("YOU HAVE FAILED"));
    }
}

TEST(PlayOutcome, FailureScreens) {
    {
        SCOPED_TRACE("a game-over jewel alone");
        Scenario scenario;
        scenario.level = 4;
        scenario.frames = 2;
        scenario.step = [](const FrameRecord&, int) { return Hold(VK_SPACE); };
        scenario.setup = [] {
            gameData.playerX = 300;
            gameData.score = 2;
            StageCatch(3, Red);
        };
        std::vector<FrameRecord> frames = RunScenario(scenario);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_TRUE(frames[0].HasText("YOU HAVE FAILED YOUR OBJECTIVE!!!"));
        EXPECT_TRUE(frames[0].HasText("PRESS SPACEBAR TO RETRY..."));
        EXPECT_TRUE(frames[0].HasText("Objective: 2 / 5"));
        EXPECT_EQ(frames[0].beeps, std::vector<UINT>{MB_OK});
        EXPECT_EQ(frames[1].beeps, std::vector<UINT>{MB_ICONHAND});
    }
    {
        SCOPED_TRACE("the clock running out");
        Scenario scenario;
        scenario.frames = 2;
        scenario.step = [](const FrameRecord&, int) { return Hold(VK_SPACE); };
        scenario.setup = [] { gameData.levelStartTick = seam::PeekTick() - 30000; };
        std::vector<FrameRecord> frames = RunScenario(scenario);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_TRUE(frames[0].HasText("Time Remaining: 0"));
        EXPECT_TRUE(frames[0].HasText("YOU HAVE FAILED YOUR OBJECTIVE!!!"));
    }
}

// Runs an attempt that ends in the staged outcome, leaves its screen with
// `key` and returns the frames up to the next screen that shows a total.
std::vector<FrameRecord> LeaveOutcome(int level, int key, const std::function<void()>& stage) {
    Scenario scenario;
    scenario.level = level;
    scenario.frames = 6;
    scenario.step = [key](const FrameRecord& frame, int index) {
        Decision decision;
        if (index == 0) decision.held = {key};
        // Stop on the next briefing or title picture.
        if (frame.HasText("TOTAL COMPLETION TIME") || frame.HasText("PRESS ESC TO EXIT")) {
            decision.stop = true;
        }
        return decision;
    };
    scenario.setup = [stage] {
        gameData.playerX = 300;
        gameData.totalSeconds = 11;
        // Seven seconds into the level.
        gameData.levelStartTick = seam::PeekTick() - 7000;
        stage();
    };
    return RunScenario(scenario);
}

TEST(PlayTimeAccounting, EachWayOutOfAnOutcomeCountsTheTimeItShould) {
    auto failByRed = [] { StageCatch(0, Red); };
    {
        SCOPED_TRACE("retry after a failure: same level, its time counted");
        std::vector<FrameRecord> frames = LeaveOutcome(4, VK_SPACE, failByRed);
        ASSERT_GE(frames.size(), 3u);
        ASSERT_TRUE(frames[0].HasText("YOU HAVE FAILED"));
        int shown = frames[0].NumberAfter("Time Remaining: ");
        EXPECT_GE(shown, 22);
        EXPECT_LE(shown, 23);
        const FrameRecord& briefing = frames.back();
        EXPECT_TRUE(briefing.HasText("LEVEL 4: CATCH 5 ORANGE JEWELS"));
        EXPECT_EQ(briefing.NumberAfter("TOTAL COMPLETION TIME: "), 11 + 30 - shown);
    }
    {
        SCOPED_TRACE("Backspace after a failure counts nothing");
        std::vector<FrameRecord> frames = LeaveOutcome(4, VK_BACK, failByRed);
        ASSERT_GE(frames.size(), 2u);
        EXPECT_EQ(frames[1].state, Title);
        EXPECT_EQ(frames[1].totalSeconds, 11);
        // ... and the title then starts the next game afresh.
        EXPECT_TRUE(frames.back().HasText("PRESS ESC TO EXIT"));
        EXPECT_EQ(gameData.totalSeconds, 0);
        EXPECT_EQ(gameData.level, 1);
    }
    {
        SCOPED_TRACE("next level after a completed one");
        std::vector<FrameRecord> frames = LeaveOutcome(1, VK_SPACE, [] {
            gameData.score = 990;
            StageCatch(0, Blue);
        });
        ASSERT_GE(frames.size(), 3u);
        ASSERT_TRUE(frames[0].HasText("CONGRATULATIONS LEVEL 1 COMPLETE!!!"));
        int shown = frames[0].NumberAfter("Time Remaining: ");
        const FrameRecord& briefing = frames.back();
        EXPECT_TRUE(briefing.HasText("LEVEL 2: CATCH 10 BLUE JEWELS"));
        EXPECT_EQ(briefing.NumberAfter("TOTAL COMPLETION TIME: "), 11 + 30 - shown);
    }
}

// Completes level 5 with 100 seconds already counted and the given best;
// returns the game-complete frame and the title that Backspace leads to.
std::vector<FrameRecord> CompleteGame(int best) {
    Scenario scenario;
    scenario.level = 5;
    scenario.frames = 8;
    scenario.step = [](const FrameRecord& frame, int) {
        Decision decision;
        decision.held = {VK_BACK};
        if (frame.HasText("PRESS ESC TO EXIT")) decision.stop = true;
        return decision;
    };
    scenario.setup = [best] {
        gameData.playerX = 300;
        gameData.totalSeconds = 100;
        gameData.bestTotalSeconds = best;
        gameData.levelStartTick = seam::PeekTick() - 4000;
        gameData.score = 1290;
        StageCatch(0, Yellow);
    };
    return RunScenario(scenario);
}

TEST(PlayBestTime, NewFastestTimeOnlyWhenStrictlyFaster) {
    std::vector<FrameRecord> first = CompleteGame(10000);
    ASSERT_FALSE(first.empty());
    ASSERT_TRUE(
        first[0].HasText("CONGRATULATIONS YOU ARE ONE OF THE BEST VORNACKLE OF ALL TIME!!!"));
    const int total = 100 + 30 - first[0].NumberAfter("Time Remaining: ");
    EXPECT_EQ(first[0].NumberAfter("NEW FASTEST TIME: "), total);
    EXPECT_TRUE(first[0].HasText("YOU ARE THE FASTEST VORNACKLE IN ALL THE LAND!!!"));
    EXPECT_EQ(first.back().NumberAfter("FASTEST COMPLETION TIME: "), total);
    EXPECT_EQ(first[1].beeps, std::vector<UINT>{MB_ICONEXCLAMATION});

    // The same game again, so the same total, against other bests.
    std::vector<FrameRecord> equal = CompleteGame(total);
    ASSERT_FALSE(equal.empty());
    EXPECT_FALSE(equal[0].HasText("NEW FASTEST TIME"));
    EXPECT_FALSE(equal[0].HasText("YOU ARE THE FASTEST"));
    EXPECT_EQ(equal.back().NumberAfter("FASTEST COMPLETION TIME: "), total);

    std::vector<FrameRecord> better = CompleteGame(total + 1);
    ASSERT_FALSE(better.empty());
    EXPECT_EQ(better[0].NumberAfter("NEW FASTEST TIME: "), total);
    EXPECT_EQ(better.back().NumberAfter("FASTEST COMPLETION TIME: "), total);
}

}  // namespace
