// The menu screens and the shell: which key leads where, the fastest time,
// the blinking prompts, and Esc. (Each screen as drawn, and start-up: the
// golden tests; start-up with no window or display: the fault sweep.)
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
