// The window and the message loop: the game is stepped on every iteration,
// Esc quits with exit code 0 and the cursor back, and a window that cannot
// be made is reported, not passed off as success.
#include <gtest/gtest.h>

#include "tests/game/game_test_support.h"

namespace {

// No message is waiting at first, so the story only appears if the loop
// steps the game before any message arrives.
TEST(Shell, EscOnEachMenuScreenQuitsWithExitZeroAndTheCursorBack) {
    for (int screen : {Story, Title, Briefing}) {
        gametest::ResetGame();
        int cursorWhilePlaying = 0;
        const gametest::Run run = gametest::RunGame([&](const std::vector<gametest::Shot>& shots) {
            cursorWhilePlaying = seam::CursorShowCount();
            gametest::WalkTo(screen, shots);
        });
        EXPECT_EQ(run.exitCode, 0) << screen;
        EXPECT_EQ(run.shots.front().state, Story);
        EXPECT_EQ(run.shots.back().state, screen);
        EXPECT_EQ(gameData.screenState, Shutdown) << screen;
        EXPECT_LT(cursorWhilePlaying, 0);
        EXPECT_GE(seam::CursorShowCount(), 0);
    }
}

// A close request waits before the loop starts; the iteration that handles
// it must still step the game, which in Shutdown gives the display back.
TEST(Shell, StepsAlsoOnIterationsThatHandledAMessage) {
    gametest::ResetGame();
    gameData.screenState = Shutdown;
    seam::PushCloseRequest();
    EXPECT_EQ(gametest::RunWinMain(), 0);
    EXPECT_EQ(gameData.screenState, Ended);
    EXPECT_FALSE(seam::ReleaseLog().empty());
}

TEST(Shell, WindowThatCannotBeMadeEndsWithFailureCode) {
    for (seam::Call call : {seam::Call::RegisterClassA, seam::Call::CreateWindowExA}) {
        gametest::ResetGame();
        seam::FailNext(call);
        testing::internal::CaptureStderr();
        EXPECT_EQ(gametest::RunWinMain(), 1);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.rfind("vornackle: ", 0), 0u) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;  // one line
        EXPECT_EQ(seam::FlipCount(), 0);                      // the game never started
    }
}

}  // namespace
