// The five levels' rules (objective and the points of each jewel colour) and
// the briefing screen that shows them before every level and every retry.
#include "game/game_data.h"

namespace {

struct LevelRules {
    int objective;
    int kindPoints[kJewelKinds];  // red, green, blue, orange, yellow, purple, white
};

// Levels 2 and 4 count jewels: one point per blue or orange jewel caught.
const LevelRules kLevelRules[5] = {
    {1000, {25, 25, 50, 75, 75, 100, 150}},   {10, {0, 0, 1, 0, 0, 0, 0}},
    {1250, {25, 25, 50, 75, 75, 200, -100}},  {5, {-1, 0, 0, 1, 0, 0, 0}},
    {1500, {25, -1, 50, -1, 225, -150, 150}},
};

struct LevelLine {
    int level;
    const char* text;
    int colour;
    int y;
};

const LevelLine kLevelLines[] = {
    {1, "LEVEL 1: CATCH 1000 POINTS IN JEWELS", 127, 176},
    {2, "LEVEL 2: CATCH 10 BLUE JEWELS", 30, 176},
    {3, "LEVEL 3: CATCH 1250 POINTS IN JEWELS", 127, 144},
    {3, "WHITE JEWELS SUBTRACT 100 POINTS!!!", 70, 160},
    {3, "PURPLE JEWELS WORTH DOUBLE POINTS!!!", 60, 176},
    {4, "LEVEL 4: CATCH 5 ORANGE JEWELS", 40, 144},
    {4, "DON'T CATCH ANY RED JEWELS!!!!", 10, 160},
    {5, "LEVEL 5: CATCH 1500 POINTS IN JEWELS", 127, 112},
    {5, "PURPLE JEWELS SUBTRACT 150 POINTS!!!", 60, 128},
    {5, "YELLOW JEWELS WORTH TRIPLE POINTS!!!", 50, 144},
    {5, "DON'T CATCH ANY ORANGE JEWELS!!!!", 40, 160},
    {5, "DON'T CATCH ANY GREEN JEWELS!!!!", 20, 176},
};

// Colour names in kindPoints order; only some kinds can end the attempt.
struct KindLine {
    const char* name;
    bool canEndGame;
};
const KindLine kKindLines[kJewelKinds] = {
    {"RED", true},     {"GREEN", true},   {"BLUE", false},  {"ORANGE", true},
    {"YELLOW", false}, {"PURPLE", false}, {"WHITE", false},
};

}  // namespace

void ShowBriefing() {
    const int level = gameData.level;
    if (level >= 1 && level <= 5) {
        const LevelRules& rules = kLevelRules[level - 1];
        gameData.objective = rules.objective;
        for (int kind = 0; kind < kJewelKinds; ++kind) {
            gameData.kindPoints[kind] = rules.kindPoints[kind];
        }
        for (const LevelLine& line : kLevelLines) {
            if (line.level == level) DrawTextLine(line.colour, 200, line.y, "%s", line.text);
        }
    }

    DrawTextLine(127, 200, 32, "TOTAL COMPLETION TIME: %d SECONDS", gameData.totalSeconds);
    DrawTextLine(20, 200, 64, "USE LEFT ARROW TO MOVE LEFT");
    DrawTextLine(20, 200, 80, "USE RIGHT ARROW TO MOVE RIGHT");
    for (int kind = 0; kind < kJewelKinds; ++kind) {
        const int colour = (kind + 1) * 10;  // a kind's colour is its palette index
        const int y = 208 + 16 * kind;
        const int points = gameData.kindPoints[kind];
        // The jewel with its mark, left of its line, where its value is read.
        if (gameData.marksShown != 0) DrawJewel(182, y + 2, colour);
        if (kKindLines[kind].canEndGame && points == -1) {
            DrawTextLine(colour, 200, y, "%s JEWELS = GAME OVER", kKindLines[kind].name);
        } else {
            DrawTextLine(colour, 200, y, "%s JEWELS = %d POINTS", kKindLines[kind].name, points);
        }
    }

    if (IsBlinkOn()) DrawTextLine(20, 200, 336, "PRESS ENTER TO START LEVEL");
}
