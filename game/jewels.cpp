// The jewel field: starting jewels in free slots, moving them down once per
// play frame, catching and scoring them against the basket, drawing them.
#include <cstdlib>

#include "game/game_data.h"

namespace {

// Position of a kind's value in kindPoints (red, green, blue, ... white).
int PointsIndex(int kind) {
    return kind / 10 - 1;
}

}  // namespace

int PickJewelKind() {
    switch (rand() % 10 + 1) {
        case 1:
        case 2:
            return Red;
        case 3:
        case 4:
            return Blue;
        case 5:
        case 6:
            return Green;
        case 7:
            return Yellow;
        case 8:
            return Orange;
        case 9:
            return Purple;
        default:
            return White;
    }
}

// Three rand calls in this order: kind, column, speed.
void SpawnJewel(int slot) {
    Jewel& jewel = gameData.jewels[slot];
    jewel.kind = PickJewelKind();
    jewel.x = rand() % 608 + 10;
    jewel.y = 0;
    jewel.speed = rand() % 7 + 2;
    jewel.active = 1;
}

// A jewel starts only on ticks that are multiples of 5, and only when one
// randomly picked slot is free; no other slot is tried.
void TrySpawnJewel() {
    if (GetTickCount() % 5u != 0) return;
    const int slot = rand() % kJewelSlots;
    if (gameData.jewels[slot].active == 0) SpawnJewel(slot);
}

// The catch band is the basket's full width and its top nine rows; since no
// jewel falls more than 8 pixels a frame, none can pass through it unseen.
void CheckCatch(int slot) {
    Jewel& jewel = gameData.jewels[slot];
    if (jewel.y <= 240 || jewel.speed <= 0) return;
    const int centreX = jewel.x + 5;
    const int centreY = jewel.y + 5;
    if (centreX < gameData.playerX || centreX > gameData.playerX + 70) return;
    if (centreY < gameData.playerY || centreY > gameData.playerY + 8) return;

    jewel.y = 0;
    jewel.active = 0;
    const int points = gameData.kindPoints[PointsIndex(jewel.kind)];
    if (points == -1) {
        gameData.gameOverHit = 1;
    } else {
        gameData.score += points;
    }
    MessageBeep(MB_OK);
}

void UpdateJewels() {
    for (int slot = 0; slot < kJewelSlots; ++slot) {
        Jewel& jewel = gameData.jewels[slot];
        if (jewel.active != 1) continue;
        jewel.y += jewel.speed;
        if (jewel.y > 470) {  // missed: freed without a sound
            jewel.active = 0;
            jewel.y = 0;
            continue;
        }
        CheckCatch(slot);
        if (jewel.active == 1) DrawJewel(jewel.x, jewel.y, jewel.kind);
    }
}

void DrawJewels() {
    for (const Jewel& jewel : gameData.jewels) {
        if (jewel.active == 1) DrawJewel(jewel.x, jewel.y, jewel.kind);
    }
}
