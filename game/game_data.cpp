// The game record, the main window handles, and start-up: opening the
// display, loading the sprite sheet, building the game palette and cutting
// the basket's two frames.
#include "game/game_data.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

GameData MakeStartData() {
    GameData start = {};
    start.screenState = Story;
    start.level = 1;
    start.secondsLeft = 30;
    start.bestTotalSeconds = 10000;
    start.frameSequence[0] = 0;
    start.frameSequence[1] = 1;
    return start;
}

// The seven jewel colours; each kind is also the palette index it takes.
struct JewelColour {
    int index;
    PALETTEENTRY colour;
};
const JewelColour kJewelColours[kJewelKinds] = {
    {Red, {255, 0, 0, PC_NOCOLLAPSE}},       {Green, {0, 255, 0, PC_NOCOLLAPSE}},
    {Blue, {0, 0, 255, PC_NOCOLLAPSE}},      {Orange, {255, 165, 0, PC_NOCOLLAPSE}},
    {Yellow, {255, 255, 0, PC_NOCOLLAPSE}},  {Purple, {205, 0, 205, PC_NOCOLLAPSE}},
    {White, {255, 255, 255, PC_NOCOLLAPSE}},
};

}  // namespace

const GameData kGameDataStart = MakeStartData();
GameData gameData = kGameDataStart;

HWND mainWindow = nullptr;
HINSTANCE appInstance = nullptr;

int DrawTextLine(int colour, int x, int y, const char* format, ...) {
    char line[80];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return DrawLabel(line, colour, x, y);
}

bool IsKeyHeld(int virtualKey) {
    return (GetAsyncKeyState(virtualKey) & 0x8000) != 0;
}

// Each later early return leaves a playable game: the screens still run, on
// the default colour ramps or without the basket picture.
int StartUp() {
    DisplayOpen();
    // Without the flip chain nothing can ever be shown.
    if (display.primary == nullptr || display.back == nullptr) {
        GiveUp("cannot open the 640 x 480 x 8 display");
        return 0;
    }

    gameData.playerX = 320;
    gameData.playerY = 352;
    gameData.animRateAdjust = 0;
    gameData.animIndex = 0;
    gameData.animCounter = 0;

    OFSTRUCT scratch = {};
    HFILE file = OpenFile("playersprite.bmp", &scratch, OF_READ);
    if (file == HFILE_ERROR) return 0;
    if (!ReadBitmapFile(&gameData.spriteSheet, file)) return 0;

    for (int i = 0; i < 256; ++i) PaletteTable[i] = gameData.spriteSheet.paletteEntries[i];
    for (const JewelColour& jewel : kJewelColours) PaletteTable[jewel.index] = jewel.colour;

    // The display may have failed to open; there is then nothing to upload
    // to and nothing to make the frames on.
    if (display.palette == nullptr || display.device == nullptr) return 0;
    if (display.palette->SetEntries(0, 0, 256, PaletteTable) < 0) return 0;

    for (int cell = 0; cell < 2; ++cell) {
        gameData.spriteFrames[cell] = MakeFrameSurface();
        if (gameData.spriteFrames[cell] != nullptr) {
            CopyFrameCell(&gameData.spriteSheet, gameData.spriteFrames[cell], cell);
        }
    }

    if (gameData.spriteSheet.pixels != nullptr) {
        free(gameData.spriteSheet.pixels);
        gameData.spriteSheet.pixels = nullptr;
    }
    return 1;
}
