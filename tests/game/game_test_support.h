// Shared helpers of the game's behaviour tests: one reset for every global,
// a small sprite sheet written on demand, and a run of the real WinMain that
// records what each presented picture showed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "game/game_data.h"
#include "platform/seam.h"

namespace gametest {

// Back to a fresh process: game record, display record, palette table, the
// window handles and the whole stand-in.
void ResetGame();

// Makes an empty scratch folder the working directory, so the game finds no
// sprite sheet unless one of the writers below puts it there.
void EnterEmptyFolder();

// A 148 x 81 sheet whose colour-table entry i is red i, green 3i, blue 5i+1
// (each modulo 256; none of them a jewel colour); cell 0 is painted with
// index 200, cell 1 with index 201.
void WriteSpriteSheet();
void WriteFile(const std::string& name, const std::string& bytes);
PALETTEENTRY SheetColour(int index);  // entry i as the game should hold it

// What one presented picture showed, with the state the game was in then.
struct Shot {
    int state;
    int level;
    DWORD tick;
    std::vector<seam::TextDraw> texts;

    const seam::TextDraw* Find(const std::string& text) const;
    bool Has(const std::string& text) const { return Find(text) != nullptr; }
    // The number after `prefix` in the first text that starts with it, or -99999.
    int NumberAfter(const std::string& prefix) const;
};

// Runs WinMain to its end. `steer` is called after every presented picture
// with all pictures so far and sets the keys for what follows. A budget of 0
// lets a test move the clock by hand.
struct Run {
    int exitCode = -1;
    std::vector<Shot> shots;
};
Run RunGame(const std::function<void(const std::vector<Shot>&)>& steer, DWORD tickBudget = 600000);

}  // namespace gametest
