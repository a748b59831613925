// The end of a level as the player meets it: the clock in the head-up
// display, also when the tick counter passes 2^31 or wraps at 2^32, and Esc
// on an end-of-level screen, which must close the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "tests/game/game_test_support.h"

namespace {

using gametest::Hold;
using gametest::Shot;

TEST(LevelClock, AsFirstWrittenInTheNormalRangeAndCountingOnAcrossTheWrap) {
    for (DWORD start : {0u, 1u, 999u, 1000u, 123456u, 2000000000u, 2147450000u}) {
        for (DWORD now = start; now <= start + 31000 && now <= 2147483647u; now += 7) {
            // As first written: signed tick values, each divided by 1000.
            const int first = static_cast<int>(start) / 1000 - static_cast<int>(now) / 1000 + 30;
            ASSERT_EQ(SecondsLeftAt(start, now), first) << start << " " << now;
        }
    }
    // Across 2^31 and the wrap at 2^32 every second still lasts 1000 ms; the
    // thousands are those of the unwrapped counter (2^32 + 0 is 296 ms past one).
    const struct {
        DWORD start, now;
        int left;
    } kCases[] = {
        {2147483000u, 2147483647u, 30}, {2147483000u, 2147484000u, 29},
        {2147483000u, 2147512999u, 1},  {2147483000u, 2147513000u, 0},
        {4294967000u, 4294967295u, 30}, {4294967000u, 0u, 30},
        {4294967000u, 703u, 30},        {4294967000u, 704u, 29},
        {4294967000u, 29703u, 1},       {4294967000u, 29704u, 0},
        {4294966500u, 4294966999u, 30},
    };
    for (const auto& c : kCases) EXPECT_EQ(SecondsLeftAt(c.start, c.now), c.left) << c.now;
}

// Plays level 1 standing still until the failure screen (at once unless the
// clock is watched), leaves it with Esc, tapped or held, and quits. The
// objective is out of reach so that caught jewels cannot end the level.
gametest::Run PlayUntilFailed(bool tapEsc, std::vector<int>* clock) {
    return gametest::RunGame([=](const std::vector<Shot>& shots) {
        const Shot& shot = shots.back();
        if (shot.state == Shutdown) return;  // the closing present: keys stay as they are
        if (shot.state != Playing) return gametest::WalkTo(-1, shots);
        Hold({});
        gameData.objective = INT_MAX;
        if (shot.Has("YOU HAVE FAILED YOUR OBJECTIVE!!!")) {
            tapEsc ? seam::TapKey(VK_ESCAPE) : seam::HoldKey(VK_ESCAPE, true);
        } else if (clock != nullptr) {
            clock->push_back(shot.NumberAfter("Time Remaining: "));
        } else {
            gameData.gameOverHit = 1;
        }
    });
}

// From just below each critical point the clock counts down a second at a
// time, runs about 30 s and then fails the level as usual.
TEST(LevelEnd, ClockCountsDownThroughTheSignBitAndTheWrap) {
    for (DWORD start : {2147483647u - 2500, 4294967295u - 2500}) {
        SCOPED_TRACE(start);
        gametest::ResetGame();
        seam::SetTick(start);
        std::vector<int> clock;
        const gametest::Run run = PlayUntilFailed(false, &clock);
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_GT(clock.size(), 900u);
        EXPECT_TRUE(clock.front() == 30 || clock.front() == 29) << clock.front();
        for (size_t i = 1; i < clock.size(); ++i) {
            ASSERT_TRUE(clock[i - 1] - clock[i] == 0 || clock[i - 1] - clock[i] == 1) << i;
        }
        EXPECT_EQ(clock.back(), 1);
        const Shot& failed = run.shots[run.shots.size() - 2];  // the last is the closing present
        ASSERT_TRUE(failed.Has("YOU HAVE FAILED YOUR OBJECTIVE!!!"));
        EXPECT_EQ(failed.NumberAfter("Time Remaining: "), 0);
        EXPECT_NEAR(static_cast<double>(failed.tick - gameData.levelStartTick), 30000, 1000);
    }
}

// Esc tapped on an end-of-level screen and let go before the frame ends: the
// display is given back once and the program still ends, as the screen says.
TEST(LevelEnd, EscTappedOnEndScreenGivesDisplayBackAndEnds) {
    gametest::ResetGame();
    const gametest::Run run = PlayUntilFailed(true, nullptr);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(gameData.screenState, Ended);
    // Each display object once (the basket frames, which hold the device, stay).
    std::vector<std::string> released = seam::ReleaseLog();
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released,
              (std::vector<std::string>{"clipper", "palette", "surface:back", "surface:primary"}));
}

// An outcome picture that never reached the display (taken away just then)
// is drawn afresh, play picture and all, and shown once the display is back;
// the player is not left waiting in front of a screen that is not there.
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
