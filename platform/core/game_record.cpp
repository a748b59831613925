// The game's record as a recorded run reads it at each level's end (run.h):
// the attempt's level and seconds, and a completed game's total. Linked into
// the program beside the game, it registers itself before main runs, so that
// the core, and programs built on it without the game, need no game.
#include "game/game_data.h"
#include "platform/core/run.h"

namespace {

bool ReadGame(runs::GameRecord* record) {
    record->level = gameData.level;
    record->secondsLeft = gameData.secondsLeft;
    record->totalSeconds = gameData.totalSeconds;
    return true;
}

[[maybe_unused]] const bool kRegistered = (runs::ReadGameWith(ReadGame), true);

}  // namespace
