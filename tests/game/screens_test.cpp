// The shell and the end of a level: Esc on each menu screen, a close request
// waiting before the loop starts, the clock when the tick counter passes 2^31
// or wraps at 2^32, and an outcome picture the display lost. (Each screen as
// drawn, start-up, and Esc on the outcome screens: the golden tests; start-up
// with no window or display: the fault sweep.)
#include <gtest/gtest.h>

#include "tests/game/replay_runner.h"

namespace {

using replay::Decision;
using replay::FrameRecord;

// Across 2^31 and the wrap at 2^32 every second still lasts 1000 ms; the
// thousands are those of the unwrapped counter (2^32 + 0 is 296 ms past one).
// (The normal range, seconds ticking over on whole thousands: the golden replay.)
TEST(LevelClock, CountsOnAcrossTheWrap) {
    const DWORD cases[][3] = {
        {2147483000u, 2147484000u, 29}, {2147483000u, 2147512999u, 1},
        {2147483000u, 2147513000u, 0},  {4294967000u, 0u, 30},
        {4294967000u, 703u, 30},        {4294967000u, 704u, 29},
        {4294967000u, 29704u, 0},       {4294966500u, 4294966999u, 30},
    };
    for (const auto& c : cases) EXPECT_EQ(SecondsLeftAt(c[0], c[1]), int(c[2])) << c[1];
}

// An outcome picture that never reached the display (taken away just then)
// is drawn afresh, play picture and all, and shown once the display is back:
// the same picture, jewels, basket and head-up lines, as shown without the loss.
TEST(OutcomeScreen, PictureTheDisplayLostIsDrawnAfreshAndShown) {
    std::uint32_t shown[2] = {};
    for (bool lose : {false, true}) {
        int exitCode = -1, playFrames = 0;
        replay::Play(
            0, 2000,
            [&](const FrameRecord& frame) {
                const int state = frame.game.screenState;
                if (state != Playing) return Decision{{replay::MenuKey(state)}};
                if (frame.HasText("YOU HAVE FAILED YOUR OBJECTIVE!!!")) {
                    shown[lose] = frame.checksum;
                    return Decision{{}, 0, true};
                }
                // Jewels falling first, so that the picture has some.
                if (++playFrames == 100) {
                    gameData.gameOverHit = 1;
                    if (lose) seam::LoseSurfaces();
                }
                return Decision{};
            },
            1, {}, &exitCode);
        EXPECT_EQ(exitCode, 0);
    }
    EXPECT_NE(shown[1], 0u);
    EXPECT_EQ(shown[0], shown[1]);
}

// A whole session gives back all it took: another one, start-up, menus,
// play and quit, leaves no more heap blocks held than the one before.
TEST(Shell, ASessionGivesBackAllItTook) {
    long held[3] = {};
    for (long& after : held) {
        int pictures = 0;
        replay::Play(0, 200, [&](const FrameRecord& frame) {
            const int state = frame.game.screenState;
            return Decision{{replay::MenuKey(state)}, 0, ++pictures == 150};
        });
        after = seam::HeapBlocksHeld();
    }
    EXPECT_LE(held[2], held[1]);
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
        EXPECT_EQ(replay::Play(0, 100, controller, 1, {}, &exitCode).back().game.screenState,
                  screen);
        EXPECT_EQ(exitCode, 0) << screen;
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
