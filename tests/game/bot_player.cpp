// The bot: plans the basket's moves a couple of seconds ahead over every
// basket position, scoring each catch it can foresee, and walks the menus.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "tests/game/replay_bot.h"

namespace replay {
namespace {

constexpr int kStep = 5;                     // basket pixels per frame
constexpr int kPositions = 570 / kStep + 1;  // left edges 0, 5, ..., 570
constexpr int kHorizon = 50;                 // frames looked ahead
constexpr double kDiscount = 0.97;           // sooner catches first
constexpr int kBandTop = 352, kBandBottom = 360;

double Weight(int points, int mode) {
    if (points == -1) return -1e6;  // fails the attempt
    if (mode == 2) return -1000.0;
    if (points < 0) return points * 4.0 - 100.0;
    if (mode == 1) return 0.0;
    return points;
}

int Moved(int position, int move) {
    return std::clamp(position + move, 0, kPositions - 1);
}

struct Tracker {
    std::vector<BotGame> games;
    size_t game = 0;
    int lastLevel = 0;
    int attempt = 0;
    int playFrames = 0;
    bool inPlay = false;
};

}  // namespace

int ChooseMove(const GameData& game, int mode) {
    // reward[t][p]: what catching at frame t with the basket's left edge at
    // p * 5 would bring; a jewel whose centre is in the band for several
    // frames counts in each of them, which only makes the bot linger under it.
    static double reward[kHorizon + 1][kPositions];
    static double value[kHorizon + 2][kPositions];
    for (auto& row : reward) std::fill(std::begin(row), std::end(row), 0.0);

    for (const Jewel& jewel : game.jewels) {
        if (!jewel.active || jewel.speed <= 0) continue;
        double weight = Weight(game.kindPoints[KindSlot(jewel.kind)], mode);
        if (weight == 0.0) continue;
        double scale = 1.0;
        for (int t = 1; t <= kHorizon; ++t) {
            scale *= kDiscount;
            int y = jewel.y + t * jewel.speed;
            if (y > 470) break;
            if (y + 5 < kBandTop || y + 5 > kBandBottom) continue;
            // Caught when playerX <= x + 5 <= playerX + 70.
            int centre = jewel.x + 5;
            for (int p = 0; p < kPositions; ++p) {
                int left = p * kStep;
                if (centre >= left && centre <= left + 70) {
                    reward[t][p] += weight > 0 ? weight * scale : weight;
                }
            }
        }
    }

    // Past the horizon: a slight pull towards the middle of the screen.
    for (int p = 0; p < kPositions; ++p) {
        value[kHorizon + 1][p] = -0.0001 * std::abs(p * kStep + 35 - 320);
    }
    for (int t = kHorizon; t >= 1; --t) {
        for (int p = 0; p < kPositions; ++p) {
            double best = value[t + 1][p];
            best = std::max(best, value[t + 1][Moved(p, -1)]);
            best = std::max(best, value[t + 1][Moved(p, +1)]);
            value[t][p] = reward[t][p] + best;
        }
    }

    int here = std::clamp(game.playerX / kStep, 0, kPositions - 1);
    int choice = 0;
    double best = value[1][here];
    for (int move : {-1, +1}) {
        double option = value[1][Moved(here, move)];
        if (option > best + 1e-9) {
            best = option;
            choice = move;
        }
    }
    return choice;
}

Controller MakeBotController(std::vector<BotGame> games) {
    auto tracker = std::make_shared<Tracker>();
    tracker->games = std::move(games);
    return [tracker](const FrameRecord& frame) {
        Tracker& bot = *tracker;
        Decision decision;
        if (frame.state != Playing) {
            bot.inPlay = false;
            if (int key = MenuKey(frame.state)) decision.held = {key};
            return decision;
        }
        if (IsGameComplete(frame)) {
            bot.inPlay = false;
            bot.lastLevel = 0;
            if (++bot.game >= bot.games.size()) {
                decision.stop = true;
            } else {
                decision.held = {VK_BACK};
            }
            return decision;
        }
        if (IsLevelComplete(frame) || IsFailed(frame)) {
            bot.inPlay = false;
            decision.held = {VK_SPACE};
            return decision;
        }
        if (!bot.inPlay) {
            bot.inPlay = true;
            bot.playFrames = 0;
            bot.attempt = frame.level == bot.lastLevel ? bot.attempt + 1 : 1;
            bot.lastLevel = frame.level;
        }
        ++bot.playFrames;
        const BotGame& plan = bot.games[std::min(bot.game, bot.games.size() - 1)];
        int mode = 0;
        if (plan.throwLevel == frame.level && bot.attempt == 1) {
            mode = 2;
        } else if (bot.playFrames <= plan.idleFrames) {
            mode = 1;
        }
        int move = ChooseMove(gameData, mode);
        if (move < 0) decision.held = {VK_LEFT};
        if (move > 0) decision.held = {VK_RIGHT};
        return decision;
    };
}

}  // namespace replay
