// The window and the message loop: the game is stepped on every iteration,
// a destroy request ends the program with exit code 0 and the cursor back,
// and a window that cannot be made is reported, not passed off as success.
#include "shell/shell.h"

#include <gtest/gtest.h>

#include "tests/game/game_test_support.h"

namespace {

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gametest::ResetGame();
        gametest::EnterEmptyFolder();
        gametest::WriteSpriteSheet();
    }
    int RunWinMain() {
        char commandLine[] = "";
        return WinMain(nullptr, nullptr, commandLine, 1);
    }
};

// The very first iteration steps the game before any message exists: the
// story is presented at once; Esc on it ends the run cleanly.
TEST_F(ShellTest, StepsBeforeAnyMessageAndQuitsWithCursorShown) {
    int cursorWhilePlaying = 0;
    bool windowWhilePlaying = false;
    const gametest::Run run = gametest::RunGame([&](const std::vector<gametest::Shot>&) {
        cursorWhilePlaying = seam::CursorShowCount();
        windowWhilePlaying = seam::WindowExists();
        seam::HoldKey(VK_ESCAPE, true);
    });
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.shots.empty());
    EXPECT_EQ(run.shots.front().state, Story);
    EXPECT_LT(cursorWhilePlaying, 0);
    EXPECT_TRUE(windowWhilePlaying);
    EXPECT_GE(seam::CursorShowCount(), 0);
    EXPECT_TRUE(seam::ReleaseLog().empty());  // the ordinary quit leaves them to the system
}

// A close request waiting before the loop starts is handled in the first
// iteration, and that same iteration must still step the game: here the
// game sits in Shutdown, so stepping it gives the display back.
TEST_F(ShellTest, StepsAlsoOnIterationsThatHandledAMessage) {
    gameData.screenState = Shutdown;
    seam::PushCloseRequest();
    EXPECT_EQ(RunWinMain(), 0);
    EXPECT_FALSE(seam::ReleaseLog().empty());
    EXPECT_EQ(gameData.screenState, Ended);
}

TEST_F(ShellTest, WindowThatCannotBeMadeEndsWithFailureCode) {
    for (seam::Call call : {seam::Call::RegisterClassA, seam::Call::CreateWindowExA}) {
        gametest::ResetGame();
        seam::FailNext(call);
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunWinMain(), 1);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.rfind("vornackle: ", 0), 0u) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;  // one line
        EXPECT_EQ(seam::FlipCount(), 0);
        EXPECT_EQ(display.device, nullptr);  // the game never started
    }
}

}  // namespace
