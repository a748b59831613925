// A bot that plays the real game through the replay runner.
#pragma once

#include "tests/game/replay_runner.h"

namespace replay {

// Plays one game: the first attempt at `throwLevel` (0: none) is thrown,
// every jewel dodged until time is up, and retried. Backspace leaves the
// game-complete screen; the run stops on the title once it shows the fastest
// time (after 20 pictures without that label). Decides its moves from the
// game's record; of the texts it reads only that label.
Controller MakeBotController(int throwLevel);

// The next play-frame move (-1 Left, 0 none, +1 Right) towards the most
// valuable catches reachable in the next 50 frames, away from harmful ones.
int ChooseMove(const GameData& game, bool dodgeAll);

}  // namespace replay
