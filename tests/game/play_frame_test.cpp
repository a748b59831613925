// The play frame in real play: the catch band's edges, the basket's keys,
// limits and animation, the outcome of a frame with several events, the time
// each way out of an outcome screen counts, and the new-best rule. (Misses
// and spawning are in the golden replay.)
#include <gtest/gtest.h>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"

namespace {

using replay::FrameRecord;
using replay::RunScenario;

void StageJewel(int slot, int x, int y, int speed, int kind) {
    gameData.playerX = 300;
    gameData.jewels[slot] = Jewel{x, y, speed, kind, 1};
}

TEST(JewelField, CatchBandEdges) {
    // A blue jewel (50 points on level 1) lands with its top-left at (x, y) by
    // the basket at 300: caught when its centre is in columns 300..370 and rows
    // 352..360.
    const struct {
        int x, y;
        bool caught;
    } cases[] = {{295, 350, true}, {294, 350, false}, {365, 350, true}, {366, 350, false},
                 {330, 347, true}, {330, 346, false}, {330, 355, true}, {330, 356, false}};
    for (const auto& band : cases) {
        SCOPED_TRACE(std::to_string(band.x) + "," + std::to_string(band.y));
        const FrameRecord frame =
            RunScenario(1, 1, [&] { StageJewel(4, band.x, band.y - 2, 2, Blue); }).at(0);
        EXPECT_EQ(frame.beeps, std::vector<UINT>(band.caught, MB_OK));
        EXPECT_EQ(frame.NumberAfter("Objective: "), band.caught ? 50 : 0);
        EXPECT_EQ(!frame.game.jewels[4].active, band.caught);
    }
}

// Stages `level` with 100 seconds counted before it, `score` and `seconds`
// played, and jewels of the `caught` kinds about to be caught; holds `key`
// and stops on the next briefing or title picture.
std::vector<FrameRecord> Stage(int level, int score, int seconds, int key, std::vector<int> caught,
                               int best = 10000) {
    auto setup = [=] {
        for (size_t i = 0; i < caught.size(); ++i) StageJewel(i, 330, 346, 2, caught[i]);
        gameData.score = score;
        gameData.totalSeconds = 100;
        gameData.bestTotalSeconds = best;
        gameData.levelStartTick = seam::PeekTick() - static_cast<DWORD>(seconds) * 1000;
    };
    return RunScenario(level, 8, setup, {key}, [](const FrameRecord& frame) {
        return frame.HasText("TOTAL COMPLETION TIME") || frame.HasText("PRESS ESC TO EXIT");
    });
}

// (Both arrows held and the animation every 8 moves are in the golden replay.)
TEST(PlayFrame, BasketStopsAtTheEdges) {
    // Pushing into an edge with the counter kept one move short of a change:
    // the last step to the edge animates, pushing on does not.
    for (int edge : {570, 0}) {
        SCOPED_TRACE("edge " + std::to_string(edge));
        auto setup = [edge] {
            gameData.playerX = edge ? 565 : 5;
            gameData.animCounter = 7;
        };
        auto shortOfAChange = [](const FrameRecord&) {
            gameData.animCounter = 7;
            return false;
        };
        const std::vector<FrameRecord> frames =
            RunScenario(1, 3, setup, {edge ? VK_RIGHT : VK_LEFT}, shortOfAChange);
        ASSERT_EQ(frames.size(), 3u);
        for (const FrameRecord& frame : frames) {
            EXPECT_EQ(frame.game.playerX, edge);
            EXPECT_EQ(frame.game.animIndex, 1);
        }
    }
}

TEST(PlayFrame, OutcomeOfAFrameAndTheTimeEachWayOutCounts) {
    // Level 2 counts blue jewels to 10; level 4 orange ones to 5, red failing.
    const struct {
        int level, score, seconds, key;
        std::vector<int> caught;
        const char* shown;
        int objective;
        const char* next;  // on the briefing or title that follows
    } cases[] = {
        {4, 4, 7, VK_SPACE, {Red, Orange}, "LEVEL 4 COMPLETE", 5, "LEVEL 5: CATCH 1500"},
        {2, 9, 30, VK_SPACE, {Blue}, "LEVEL 2 COMPLETE", 10, "LEVEL 3: CATCH 1250"},
        {4, 2, 7, VK_SPACE, {Red}, "YOU HAVE FAILED", 2, "LEVEL 4: CATCH 5 ORANGE"},
        {4, 2, 7, VK_BACK, {Red}, "YOU HAVE FAILED", 2, "PRESS ESC TO EXIT"},
        {1, 0, 30, VK_SPACE, {}, "YOU HAVE FAILED", 0, "LEVEL 1: CATCH 1000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.shown) + " on level " + std::to_string(c.level));
        std::vector<FrameRecord> frames = Stage(c.level, c.score, c.seconds, c.key, c.caught);
        ASSERT_GE(frames.size(), 3u);
        const bool failed = c.shown[0] == 'Y';
        EXPECT_TRUE(frames[0].HasText(c.shown));
        EXPECT_EQ(replay::IsFailed(frames[0]), failed);
        EXPECT_EQ(frames[0].NumberAfter("Objective: "), c.objective);
        const int used = 30 - frames[0].NumberAfter("Time Remaining: ");
        EXPECT_TRUE(used == c.seconds || (used == c.seconds + 1 && c.seconds < 30)) << used;
        EXPECT_EQ(frames[0].beeps, std::vector<UINT>(c.caught.size(), MB_OK));
        const UINT outcomeBeep = failed ? MB_ICONHAND : MB_ICONASTERISK;
        EXPECT_EQ(frames[1].beeps, std::vector<UINT>{outcomeBeep});
        EXPECT_TRUE(frames.back().HasText(c.next));
        if (c.key == VK_SPACE) {  // retry and next level count the attempt's time
            EXPECT_EQ(frames.back().NumberAfter("TOTAL COMPLETION TIME: "), 100 + used);
        } else {  // Backspace counts nothing, and the title starts afresh
            EXPECT_EQ(frames[1].game.totalSeconds, 100);
            EXPECT_TRUE(gameData.totalSeconds == 0 && gameData.level == 1);
        }
    }
}

TEST(PlayFrame, NewFastestTimeOnlyWhenStrictlyFaster) {
    // The same completion of level 5 against no best yet, then an equal best,
    // then one a second slower.
    int total = 0;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int best = round == 0 ? 10000 : total + round - 1;
        std::vector<FrameRecord> frames = Stage(5, 1290, 4, VK_BACK, {Yellow}, best);
        ASSERT_GE(frames.size(), 3u);
        ASSERT_TRUE(replay::IsGameComplete(frames[0]));
        if (round == 0) total = 130 - frames[0].NumberAfter("Time Remaining: ");
        EXPECT_EQ(frames[0].NumberAfter("NEW FASTEST TIME: "), round == 1 ? -1 : total);
        EXPECT_EQ(frames[0].HasText("YOU ARE THE FASTEST VORNACKLE IN ALL THE LAND"), round != 1);
        EXPECT_EQ(frames[1].beeps, std::vector<UINT>{MB_ICONEXCLAMATION});
        EXPECT_EQ(frames.back().NumberAfter("FASTEST COMPLETION TIME: "), total);
        for (const seam::TextDraw& text : frames.back().texts) {  // in its place on the title
            if (text.text.rfind("FASTEST", 0) == 0) {
                EXPECT_TRUE(text.index == 60 && text.x == 160 && text.y == 176);
            }
        }
    }
}

}  // namespace
