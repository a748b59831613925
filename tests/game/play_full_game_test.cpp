// Whole games played by the bot through the real message loop: all five
// levels to the game-complete screen, the total time against the time the
// attempts took, and the fastest time kept across games of one run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/game/replay_bot.h"

namespace {

using replay::FrameRecord;

// One attempt at a level, from its first play picture to its outcome screen.
struct Attempt {
    int level = 0;
    DWORD startTick = 0, endTick = 0;
    int secondsShown = 0;  // "Time Remaining" on the outcome screen
    bool completed = false;
    bool retried = false;
};

// One game, from the title screen's Space to its game-complete screen.
struct GameSummary {
    std::vector<Attempt> attempts;
    const FrameRecord* complete = nullptr;   // the game-complete picture
    const FrameRecord* nextTitle = nullptr;  // the title picture after it, if any
};

std::vector<GameSummary> Summarise(const std::vector<FrameRecord>& frames) {
    std::vector<GameSummary> games(1);
    bool inAttempt = false;
    for (const FrameRecord& frame : frames) {
        GameSummary& game = games.back();
        if (game.complete != nullptr) {
            // The bot leaves the title at once, so its one picture is
            // presented with the state already moved on.
            if (frame.HasText("PRESS ESC TO EXIT")) {
                game.nextTitle = &frame;
                games.emplace_back();
            }
            continue;
        }
        bool play = frame.state == Playing && frame.HasText("Time Remaining");
        if (play && !inAttempt) {
            inAttempt = true;
            game.attempts.push_back(Attempt{frame.level, frame.tick});
        }
        if (!play) continue;
        bool won = replay::IsLevelComplete(frame) || replay::IsGameComplete(frame);
        if (won || replay::IsFailed(frame)) {
            inAttempt = false;
            Attempt& attempt = game.attempts.back();
            attempt.endTick = frame.tick;
            attempt.secondsShown = frame.NumberAfter("Time Remaining: ");
            attempt.completed = won;
            attempt.retried = !won;  // the bot always retries
            if (replay::IsGameComplete(frame)) game.complete = &frame;
        }
    }
    if (games.back().complete == nullptr) games.pop_back();
    return games;
}

TEST(PlayFullGame, BotFinishesGamesAndTheFastestTimeIsKept) {
    // A slow game first (idling at the start of every attempt and throwing
    // the first attempt of level 4), then a normal one, then a slow one again.
    std::vector<replay::BotGame> plan(3);
    plan[0].idleFrames = 250;
    plan[0].throwLevel = 4;
    plan[2].idleFrames = 250;
    plan[2].throwLevel = 2;

    replay::Options options;
    options.startTick = 7777777;
    options.maxFrames = 30000;
    options.controller = replay::MakeBotController(plan);
    replay::Result result = replay::Play(options);
    ASSERT_FALSE(result.hitFrameLimit) << "the bot did not finish its games";
    EXPECT_EQ(result.exitCode, 0);

    std::vector<GameSummary> games = Summarise(result.frames);
    ASSERT_EQ(games.size(), 3u);

    int best = 10000;
    for (size_t i = 0; i < games.size(); ++i) {
        SCOPED_TRACE("game " + std::to_string(i + 1));
        const GameSummary& game = games[i];

        // Every level in order, each completed once; failures only retried.
        int expectedLevel = 1;
        int counted = 0;
        bool threw = false;
        for (const Attempt& attempt : game.attempts) {
            EXPECT_EQ(attempt.level, expectedLevel);
            if (attempt.completed) ++expectedLevel;
            if (!attempt.completed) threw = true;
            counted += 30 - attempt.secondsShown;
            // The whole seconds shown tick over on whole thousands of the
            // counter, so they may differ from the time taken by under a second.
            double taken = (attempt.endTick - attempt.startTick) / 1000.0;
            EXPECT_NEAR(taken, 30 - attempt.secondsShown, 1.0) << "level " << attempt.level;
        }
        EXPECT_EQ(expectedLevel, 6);
        EXPECT_EQ(threw, plan[i].throwLevel != 0);

        ASSERT_NE(game.complete, nullptr);
        EXPECT_EQ(game.complete->totalSeconds, counted);
        const bool faster = counted < best;
        if (faster) {
            EXPECT_EQ(game.complete->NumberAfter("NEW FASTEST TIME: "), counted);
            EXPECT_TRUE(game.complete->HasText("YOU ARE THE FASTEST VORNACKLE IN ALL THE LAND!!!"));
            best = counted;
        } else {
            EXPECT_FALSE(game.complete->HasText("NEW FASTEST TIME"));
        }
        EXPECT_EQ(game.complete->bestTotalSeconds, best);
        // Backspace leads to a title that shows the fastest time so far.
        if (i + 1 < games.size()) {
            ASSERT_NE(game.nextTitle, nullptr);
            EXPECT_EQ(game.nextTitle->NumberAfter("FASTEST COMPLETION TIME: "), best);
        }
    }
    // The plan is only useful if it shows both: a new best and a slower game.
    const int first = games[0].complete->totalSeconds;
    const int second = games[1].complete->totalSeconds;
    const int third = games[2].complete->totalSeconds;
    EXPECT_LT(second, first) << "the normal game should beat the slow one";
    EXPECT_GT(third, second) << "the last game should be slower than the best";
}

}  // namespace
