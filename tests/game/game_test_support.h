// Shared helpers of the game's behaviour tests: a fresh process with a small
// sprite sheet, and a run of the real WinMain that records each picture.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "game/game_data.h"
#include "platform/seam.h"

namespace gametest {

// Back to a fresh process (every global and the stand-in) in an empty
// scratch folder. `sheet` writes a 148 x 81 sprite sheet there whose colour
// entry i is SheetColour(i); cell 0 is painted with index 200, cell 1 with 201.
void ResetGame(bool sheet = true);
void WriteSheet(const std::string& bytes);  // any bytes under the sheet's name
PALETTEENTRY SheetColour(int i);            // red i, green 3i, blue 5i+1 (modulo 256)

// One presented picture and the state the game was in then.
struct Shot {
    int state;
    DWORD tick;
    std::vector<seam::TextDraw> texts;

    const seam::TextDraw* Find(const std::string& text) const;
    bool Has(const std::string& text) const { return Find(text) != nullptr; }
    int NumberAfter(const std::string& prefix) const;  // -99999 when no text has it
};
void ExpectText(const Shot& shot, const std::string& text, int colour, int x, int y);

// Runs WinMain to its end; `steer` sees the pictures so far after each one
// and sets the keys. A budget of 0 lets a test move the clock by hand.
struct Run {
    int exitCode = -1;
    std::vector<Shot> shots;
};
Run RunGame(const std::function<void(const std::vector<Shot>&)>& steer, DWORD tickBudget = 600000);
int RunWinMain();

void Hold(std::initializer_list<int> keys);  // exactly these keys held
// A steer: each menu screen is left with its own key, `quitOn` with Esc.
void WalkTo(int quitOn, const std::vector<Shot>& shots);

}  // namespace gametest
