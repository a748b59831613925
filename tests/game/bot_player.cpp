// The bot: plans the basket's moves over every basket position by dynamic
// programming, scoring each catch it can foresee, and walks the menus.
#include <algorithm>
#include <cmath>
#include <memory>

#include "tests/game/replay_bot.h"

namespace replay {

int ChooseMove(const GameData& game, bool dodgeAll) {
    constexpr int kPositions = 570 / 5 + 1, kHorizon = 50;  // left edges 0, 5, ..., 570
    auto moved = [](int p, int move) { return std::clamp(p + move, 0, kPositions - 1); };
    // value[t][p]: the best still to collect from frame t on with the basket's
    // left edge at p * 5; past the horizon, a slight pull to the middle.
    static double value[kHorizon + 2][kPositions];
    for (int p = 0; p < kPositions; ++p) value[kHorizon + 1][p] = -1e-4 * std::abs(p * 5 - 285);
    for (int t = kHorizon; t >= 1; --t) {
        for (int p = 0; p < kPositions; ++p) {
            value[t][p] =
                std::max({value[t + 1][p], value[t + 1][moved(p, -1)], value[t + 1][moved(p, +1)]});
        }
        for (const Jewel& jewel : game.jewels) {
            const int centreY = jewel.y + t * jewel.speed + 5;
            if (!jewel.active || centreY < 352 || centreY > 360) continue;  // the catch band
            const int points = game.kindPoints[jewel.kind / 10 - 1];
            // Sooner catches first; -1 fails the attempt.
            double weight = points < 0 ? points * 4.0 - 100.0 : points * std::pow(0.97, t);
            if (dodgeAll || points == -1) weight = points == -1 ? -1e6 : -1000.0;
            for (int p = 0; p < kPositions; ++p) {
                if (jewel.x + 5 >= p * 5 && jewel.x + 5 <= p * 5 + 70) value[t][p] += weight;
            }
        }
    }
    const int here = std::clamp(game.playerX / 5, 0, kPositions - 1);
    int choice = 0;
    for (int move : {-1, +1}) {
        if (value[1][moved(here, move)] > value[1][moved(here, choice)] + 1e-9) choice = move;
    }
    return choice;
}

Controller MakeBotController(int throwLevel) {
    auto done = std::make_shared<bool>(false);      // the game completed
    auto thrown = std::make_shared<bool>(false);    // the first attempt at throwLevel
    auto titlePictures = std::make_shared<int>(0);  // since the game completed
    // From the game's record alone: a label that failed to draw is no reason
    // to play differently.
    return [=](const FrameRecord& frame) {
        const GameData& game = frame.game;
        Decision decision;
        if (game.screenState != Playing) {
            if (!*done) {
                if (int key = MenuKey(game.screenState)) decision.held = {key};
            } else if (game.screenState == Title) {
                // The fastest time shown, or given up on if its label never comes.
                decision.stop = frame.HasText("FASTEST COMPLETION TIME") || ++*titlePictures >= 20;
            }
        } else if (game.score >= game.objective) {  // the level won
            *done = game.level == 5;
            decision.held = {game.level == 5 ? VK_BACK : VK_SPACE};
        } else if (game.secondsLeft < 1 || game.gameOverHit == 1) {  // failed: retry
            *thrown = *thrown || game.level == throwLevel;
            decision.held = {VK_SPACE};
        } else {
            const bool dodge = game.level == throwLevel && !*thrown;
            if (int move = ChooseMove(game, dodge)) decision.held = {move < 0 ? VK_LEFT : VK_RIGHT};
        }
        return decision;
    };
}

}  // namespace replay
