// A bot that plays the real game through the replay runner: it walks through
// the menus, steers the basket towards the most valuable jewels it can still
// reach while keeping away from the ones that cost points or fail the attempt,
// and answers the outcome screens.
#pragma once

#include <vector>

#include "tests/game/replay_runner.h"

namespace replay {

// How the bot plays one game, from the title screen to the game-complete screen.
struct BotGame {
    // Play frames at the start of every attempt in which the bot only dodges
    // harmful jewels and catches nothing on purpose (a slower game).
    int idleFrames = 0;
    // On the first attempt of this level the bot dodges every jewel until the
    // time runs out, then retries (0: never).
    int throwLevel = 0;
};

// Plays the games one after another: Backspace from each game-complete screen
// to the title, Space for the next game, and stops on the last one's screen.
Controller MakeBotController(std::vector<BotGame> games);

// The bot's choice for the next play frame: -1 Left, 0 nothing, +1 Right.
// `mode` 0 plays normally, 1 dodges harmful jewels only, 2 dodges every jewel.
int ChooseMove(const GameData& game, int mode);

}  // namespace replay
