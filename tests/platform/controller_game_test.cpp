// A game played with the controller alone, through the desktop backend's
// own input: A goes on from each screen whichever of Enter and Space the
// screen waits for, the d-pad and the stick move the basket, Back quits.
#include <gtest/gtest.h>

#include "tests/game/game_test_support.h"
#include "tests/platform/desktop_test.h"

namespace {

TEST(ControllerGameTest, AGoesOnFromEveryScreenTheStickMovesAndBackQuits) {
    gametest::ResetGame();
    seam::UseBackendInput(true);
    std::unique_ptr<desktoptest::VirtualController> pad;
    std::vector<int> screens;  // each screen in the order first seen
    int playFrames = 0, startX = 0, rightX = 0, leftX = 0;
    const gametest::Run run = gametest::RunGame([&](const std::vector<gametest::Shot>& shots) {
        // The window, and with it SDL's controller support, exists from the
        // first picture on.
        if (!pad) pad = std::make_unique<desktoptest::VirtualController>();
        const int state = shots.back().state;
        if (screens.empty() || screens.back() != state) screens.push_back(state);
        if (shots.size() > 300) return seam::HoldKey(VK_ESCAPE, true);  // stuck: give up
        if (state != Playing) {
            // A tapped once every other picture: a fresh press for each screen.
            pad->Button(SDL_CONTROLLER_BUTTON_A, shots.size() % 2 == 0);
            return;
        }
        pad->Button(SDL_CONTROLLER_BUTTON_A, false);
        ++playFrames;
        if (playFrames == 1) startX = gameData.playerX;
        pad->Button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, playFrames < 10);
        if (playFrames == 10) rightX = gameData.playerX;
        pad->LeftStickX(playFrames >= 10 && playFrames < 30 ? -32768 : 0);
        if (playFrames == 30) leftX = gameData.playerX;
        pad->Button(SDL_CONTROLLER_BUTTON_BACK, playFrames >= 31);
    });
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ((std::vector<int>{Story, Title, Briefing, Playing}), screens);
    EXPECT_GT(rightX, startX);
    EXPECT_LT(leftX, rightX);
    EXPECT_LE(playFrames, 40);  // Back quit at once
    pad.reset();
}

}  // namespace
