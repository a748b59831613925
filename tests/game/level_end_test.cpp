// The end of a level as the player meets it: the clock shown in the
// head-up display, also when the tick counter passes 2^31 or wraps at 2^32,
// and Esc on an end-of-level screen, which must close the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "tests/game/game_test_support.h"

namespace {

using gametest::Shot;

// The clock as first written: signed tick values, each divided by 1000.
int OriginalSecondsLeft(DWORD start, DWORD now) {
    return static_cast<int>(start) / 1000 - static_cast<int>(now) / 1000 + 30;
}

TEST(LevelClock, MatchesTheOriginalFormulaInTheNormalRange) {
    const DWORD starts[] = {0, 1, 999, 1000, 123456, 2000000000u, 2147450000u};
    for (DWORD start : starts) {
        for (DWORD elapsed = 0; elapsed <= 31000; elapsed += 7) {
            const DWORD now = start + elapsed;
            if (now > 2147483647u) continue;
            ASSERT_EQ(SecondsLeftAt(start, now), OriginalSecondsLeft(start, now))
                << start << " " << now;
        }
    }
}

// Across 2^31 and the wrap at 2^32 every second still lasts 1000 ms; the
// thousands are counted on the unwrapped counter.
TEST(LevelClock, KeepsCountingAcrossTheSignBitAndTheWrap) {
    EXPECT_EQ(SecondsLeftAt(2147483000u, 2147483647u), 30);
    EXPECT_EQ(SecondsLeftAt(2147483000u, 2147484000u), 29);  // passes 2^31 on a thousand
    EXPECT_EQ(SecondsLeftAt(2147483000u, 2147512999u), 1);
    EXPECT_EQ(SecondsLeftAt(2147483000u, 2147513000u), 0);
    EXPECT_EQ(SecondsLeftAt(4294967000u, 4294967295u), 30);
    EXPECT_EQ(SecondsLeftAt(4294967000u, 0u), 30);  // 2^32 + 0 is 296 ms past a thousand
    EXPECT_EQ(SecondsLeftAt(4294967000u, 703u), 30);
    EXPECT_EQ(SecondsLeftAt(4294967000u, 704u), 29);  // 2^32 + 704: the next unwrapped thousand
    EXPECT_EQ(SecondsLeftAt(4294967000u, 29703u), 1);
    EXPECT_EQ(SecondsLeftAt(4294967000u, 29704u), 0);
    EXPECT_EQ(SecondsLeftAt(4294966500u, 4294966999u), 30);
}

class LevelEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gametest::ResetGame();
        gametest::EnterEmptyFolder();
        gametest::WriteSpriteSheet();
    }
};

void Hold(std::initializer_list<int> keys) {
    seam::ReleaseAllKeys();
    for (int key : keys) seam::HoldKey(key, true);
}

// Plays level 1 without moving until the failure screen, then leaves with
// `leaveKey`, tapped or held; Esc on the title after that. The objective is
// put out of reach so that jewels falling into the basket cannot end the
// level early.
gametest::Run PlayUntilFailed(int leaveKey, bool tap, std::vector<int>* clock) {
    bool failed = false;
    return gametest::RunGame([=](const std::vector<Shot>& shots) mutable {
        const Shot& shot = shots.back();
        if (shot.state == Shutdown) return;  // the closing present: keys stay as they are
        if (shot.state == Story) return Hold({VK_RETURN});
        if (shot.state == Title) return Hold({failed ? VK_ESCAPE : VK_SPACE});
        if (shot.state == Briefing) return Hold({VK_RETURN});
        Hold({});
        gameData.objective = INT_MAX;
        if (shot.Has("YOU HAVE FAILED YOUR OBJECTIVE!!!")) {
            failed = true;
            if (tap) {
                seam::TapKey(leaveKey);
            } else {
                seam::HoldKey(leaveKey, true);
            }
        } else if (clock != nullptr && shot.state == Playing) {
            clock->push_back(shot.NumberAfter("Time Remaining: "));
        }
    });
}

// From a start just below each critical point the clock counts down one
// second at a time, runs about 30 s and then fails the level as usual.
TEST_F(LevelEndTest, ClockCountsDownThroughTheSignBitAndTheWrap) {
    for (DWORD start : {2147483647u - 2500, 4294967295u - 2500}) {
        SCOPED_TRACE(start);
        gametest::ResetGame();
        seam::SetTick(start);
        std::vector<int> clock;
        const gametest::Run run = PlayUntilFailed(VK_ESCAPE, false, &clock);
        const DWORD levelStart = gameData.levelStartTick;
        ASSERT_GT(clock.size(), 900u);
        EXPECT_LE(clock.front(), 30);
        EXPECT_GE(clock.front(), 29);
        for (size_t i = 1; i < clock.size(); ++i) {
            ASSERT_LE(clock[i - 1] - clock[i], 1) << i;
            ASSERT_GE(clock[i - 1] - clock[i], 0) << i;
        }
        EXPECT_EQ(clock.back(), 1);
        ASSERT_GE(run.shots.size(), 2u);
        const Shot& failed = run.shots[run.shots.size() - 2];  // the last is the closing present
        ASSERT_TRUE(failed.Has("YOU HAVE FAILED YOUR OBJECTIVE!!!"));
        EXPECT_EQ(failed.NumberAfter("Time Remaining: "), 0);
        const DWORD played = failed.tick - levelStart;
        EXPECT_GE(played, 29000u);
        EXPECT_LE(played, 31000u);
        EXPECT_EQ(run.exitCode, 0);
    }
}

// Esc tapped on an end-of-level screen and let go before the frame ends: the
// display is given back once and the program still ends, as the screen says.
TEST_F(LevelEndTest, EscTappedOnEndScreenGivesDisplayBackAndEnds) {
    const gametest::Run run = PlayUntilFailed(VK_ESCAPE, true, nullptr);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(gameData.screenState, Ended);
    // Each display object once. The basket frames are never released and
    // hold the device, so only they and the device stay.
    std::vector<std::string> released = seam::ReleaseLog();
    std::sort(released.begin(), released.end());
    const std::vector<std::string> expected = {"clipper", "palette", "surface:back",
                                               "surface:primary"};
    EXPECT_EQ(released, expected);
    EXPECT_EQ(seam::LiveObjects(), 3);
    // Nothing is drawn after the failure screen except its closing present.
    ASSERT_GE(run.shots.size(), 2u);
    EXPECT_TRUE(run.shots[run.shots.size() - 2].Has("YOU HAVE FAILED YOUR OBJECTIVE!!!"));
    EXPECT_EQ(run.shots.back().state, Shutdown);
    EXPECT_GE(seam::CursorShowCount(), 0);
}

// Held Esc is the ordinary quit: the frame's own Esc test asks to quit and
// the display objects are left to the system.
TEST_F(LevelEndTest, EscHeldOnEndScreenQuitsWithoutShutdown) {
    const gametest::Run run = PlayUntilFailed(VK_ESCAPE, false, nullptr);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(gameData.screenState, Shutdown);
    EXPECT_TRUE(seam::ReleaseLog().empty());
}

// Backspace on the failure screen leads to the title, which starts the next
// game afresh; the story is never told twice.
TEST_F(LevelEndTest, BackspaceAfterFailureGoesToTitleNotStory) {
    const gametest::Run run = PlayUntilFailed(VK_BACK, false, nullptr);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.shots.back().state, Title);
    int stories = 0;
    for (const Shot& shot : run.shots) stories += shot.state == Story ? 1 : 0;
    EXPECT_EQ(stories, 1);
    EXPECT_EQ(gameData.totalSeconds, 0);  // leaving a failed level counts no time
    EXPECT_EQ(gameData.level, 1);
    EXPECT_TRUE(seam::ReleaseLog().empty());
}

}  // namespace
