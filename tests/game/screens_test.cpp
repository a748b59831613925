// The shell: Esc on each menu screen, and a close request waiting before the
// loop starts. (Each screen as drawn, and start-up: the golden tests;
// start-up with no window or display: the fault sweep.)
#include <gtest/gtest.h>

#include "tests/game/replay_runner.h"

namespace {

using replay::Decision;
using replay::FrameRecord;

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
