// A bot that plays the real game through the replay runner.
#pragma once

#include <vector>

#include "tests/game/replay_runner.h"

namespace replay {

// Plays one game per entry of `throwLevels`: from that level on (0: none) the
// bot throws each level's first attempt, dodging every jewel until time is up.
// Backspace leaves each game-complete screen; the run stops on the title
// after the last game.
Controller MakeBotController(std::vector<int> throwLevels);

// The next play-frame move (-1 Left, 0 none, +1 Right) towards the most
// valuable catches reachable in the next 50 frames, away from harmful ones.
int ChooseMove(const GameData& game, bool dodgeAll);

}  // namespace replay
