// Start-up of the real game inside a benchmark, and the steady play scene
// that the frame benchmarks measure.
#include "bench/bench_game.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "game/game_data.h"
#include "platform/seam.h"
#include "platform/winapi.h"

namespace bench {

namespace {

Jewel scene[kJewelSlots];

// Spread over the screen's width and height with every speed, so some jewels
// land in the basket and some fall past it, as in a busy moment of play.
void MakeScene() {
    for (int slot = 0; slot < kJewelSlots; ++slot) {
        Jewel& jewel = scene[slot];
        jewel.speed = 2 + slot % 7;
        jewel.x = 10 + slot * 30;
        jewel.y = jewel.speed * (slot * 11 % 50);
        jewel.kind = Red + 10 * (slot % kJewelKinds);
        jewel.active = 1;
    }
}

}  // namespace

void OpenGame() {
    // The desktop backend on a display nobody sees, without sound.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    seam::Reset();
    // The game opens its sprite sheet by bare name, from the current folder.
    if (chdir(VN_ASSET_DIR) != 0) {
        std::fprintf(stderr, "bench: cannot enter %s\n", VN_ASSET_DIR);
        std::exit(1);
    }
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "VNBENCH";
    RegisterClassA(&windowClass);
    mainWindow = CreateWindowExA(0, "VNBENCH", "bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                 nullptr, nullptr, nullptr, nullptr);
    if (StartUp() != 1) {
        std::fprintf(stderr, "bench: StartUp failed\n");
        std::exit(1);
    }
}

void EnterPlay() {
    MakeScene();
    gameData.screenState = Playing;
    gameData.level = 1;
    gameData.score = 0;
    gameData.objective = 1000000;
    for (int& points : gameData.kindPoints) points = 10;
    gameData.gameOverHit = 0;
    gameData.playerX = 320;
    for (int slot = 0; slot < kJewelSlots; ++slot) gameData.jewels[slot] = scene[slot];
    seam::HoldKey(VK_RIGHT, true);
    gameData.levelStartTick = seam::PeekTick();
}

void KeepPlaying() {
    for (int slot = 0; slot < kJewelSlots; ++slot) {
        if (gameData.jewels[slot].active == 0) gameData.jewels[slot] = scene[slot];
    }
    gameData.levelStartTick = seam::PeekTick();
    if (gameData.playerX >= 570) {
        seam::HoldKey(VK_RIGHT, false);
        seam::HoldKey(VK_LEFT, true);
    } else if (gameData.playerX <= 0) {
        seam::HoldKey(VK_LEFT, false);
        seam::HoldKey(VK_RIGHT, true);
    }
}

}  // namespace bench
