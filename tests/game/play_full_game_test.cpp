// Whole games played by the bot through the real message loop: all five
// levels, the total time against the time the attempts took, and the fastest
// time kept across the games of one run.
#include <gtest/gtest.h>

#include "tests/game/replay_bot.h"

namespace {

using replay::FrameRecord;

struct Game {
    int counted = 0, levelsDone = 0, failures = 0;
    const FrameRecord* complete = nullptr;  // the game-complete picture
    const FrameRecord* title = nullptr;     // the title picture after it
};

TEST(PlayFullGame, BotFinishesGamesAndOnlyAFasterOneSetsTheBestTime) {
    // A normal game, then one that throws its first attempt at level 4.
    const std::vector<int> throwLevels = {0, 4};
    const std::vector<FrameRecord> frames =
        replay::Play(7777777, 20000, replay::MakeBotController(throwLevels));

    std::vector<Game> games(1);
    DWORD attemptStart = 0;
    for (const FrameRecord& frame : frames) {
        Game& game = games.back();
        if (game.complete != nullptr) {
            if (frame.HasText("PRESS ESC TO EXIT")) game.title = &frame;
            if (game.title) games.emplace_back();
            continue;
        }
        if (frame.game.screenState != Playing || !frame.HasText("Time Remaining")) continue;
        if (attemptStart == 0) {
            attemptStart = frame.tick;
            EXPECT_EQ(frame.game.level, game.levelsDone + 1) << "levels in order, failed retried";
        }
        const bool won = replay::IsLevelComplete(frame) || replay::IsGameComplete(frame);
        if (!won && !replay::IsFailed(frame)) continue;
        // The seconds shown tick over on whole thousands of the counter, so
        // they may differ from the time taken by under a second.
        const int used = 30 - frame.NumberAfter("Time Remaining: ");
        EXPECT_NEAR((frame.tick - attemptStart) / 1000.0, used, 1.0);
        attemptStart = 0;
        game.counted += used;
        ++(won ? game.levelsDone : game.failures);
        if (replay::IsGameComplete(frame)) game.complete = &frame;
    }
    games.pop_back();  // begun by the last title
    ASSERT_EQ(games.size(), 2u) << "the bot did not finish its games";

    int best = 10000;
    for (size_t i = 0; i < games.size(); ++i) {
        SCOPED_TRACE("game " + std::to_string(i + 1));
        const Game& game = games[i];
        EXPECT_EQ(game.levelsDone, 5);
        EXPECT_GE(game.failures, throwLevels[i] ? 1 : 0);
        EXPECT_EQ(game.complete->game.totalSeconds, game.counted);
        const bool faster = game.counted < best;
        best = std::min(best, game.counted);
        EXPECT_EQ(game.complete->NumberAfter("NEW FASTEST TIME: "), faster ? best : -1);
        EXPECT_EQ(game.complete->HasText("YOU ARE THE FASTEST VORNACKLE IN ALL THE LAND"), faster);
        EXPECT_EQ(game.complete->game.bestTotalSeconds, best);
        EXPECT_EQ(game.title->NumberAfter("FASTEST COMPLETION TIME: "), best);
    }
    EXPECT_GT(games[1].counted, games[0].counted) << "the thrown attempts should cost time";
}

}  // namespace
