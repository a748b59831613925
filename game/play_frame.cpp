// The play frame: one frame of a level, from the clock and the basket through
// the jewels and the head-up display to the outcome screens and pacing.
#include "game/game_data.h"

namespace {

constexpr int kLevelSeconds = 30;
constexpr DWORD kFrameMilliseconds = 30;
constexpr int kBasketStep = 5;
constexpr int kBasketRightmost = 570;

const char kScoreLine[] = "V O R N A C K L E           Objective: %d / %d";
const char kTimeLine[] = "Level %d                                         Time Remaining: %d";

void StepAnimation() {
    gameData.animCounter += 1;
    if (gameData.animCounter >= 8 - gameData.animRateAdjust) {
        gameData.animCounter = 0;
        gameData.animIndex += 1;
        if (gameData.animIndex > 1) gameData.animIndex = 0;
    }
}

// Right wins when both arrows are held; pushing against an edge does not
// animate the basket.
void MoveBasket() {
    if (IsKeyHeld(VK_RIGHT)) {
        if (gameData.playerX > kBasketRightmost - 1) {
            gameData.playerX = kBasketRightmost;
        } else {
            gameData.playerX += kBasketStep;
            StepAnimation();
        }
    } else if (IsKeyHeld(VK_LEFT)) {
        if (gameData.playerX < 1) {
            gameData.playerX = 0;
        } else {
            gameData.playerX -= kBasketStep;
            StepAnimation();
        }
    }
}

void AddLevelTime() {
    gameData.totalSeconds += kLevelSeconds - gameData.secondsLeft;
}

// The basket over the jewels, and the two head-up lines.
void DrawBasketAndHud() {
    BlitFrame(gameData.spriteFrames[gameData.frameSequence[gameData.animIndex]], gameData.playerX,
              gameData.playerY);
    DrawTextLine(127, 8, 448, kScoreLine, gameData.score, gameData.objective);
    DrawTextLine(127, 8, 464, kTimeLine, gameData.level, gameData.secondsLeft);
}

// An outcome screen waits for its key without drawing; a picture of it that
// never reached the display (a failed flip, a display taken away, which
// also loses the back surface's picture) is drawn afresh and shown again,
// or the player would wait in front of a picture that is not there.
template <typename Lines>
int ShowOutcomeAgain(const Lines& lines) {
    FillRect(0, 0, 639, 479, 0);
    DrawJewels();
    DrawBasketAndHud();
    lines();
    return ShowPicture();
}

void ShowGameComplete() {
    AddLevelTime();
    const bool fastest = gameData.totalSeconds < gameData.bestTotalSeconds;
    if (fastest) gameData.bestTotalSeconds = gameData.totalSeconds;
    auto lines = [fastest] {
        DrawTextLine(30, 50, 224,
                     "CONGRATULATIONS YOU ARE ONE OF THE BEST VORNACKLE OF ALL TIME!!!");
        if (fastest) {
            DrawTextLine(60, 200, 240, "NEW FASTEST TIME: %d SECONDS", gameData.totalSeconds);
            DrawTextLine(60, 130, 256, "YOU ARE THE FASTEST VORNACKLE IN ALL THE LAND!!!");
        }
        DrawTextLine(20, 160, 288, "PRESS BACKSPACE TO GO TO TITLE SCREEN...");
        DrawTextLine(127, 200, 304, "PRESS ESC TO QUIT GAME...");
    };
    lines();
    int shown = ShowPicture();
    MessageBeep(MB_ICONEXCLAMATION);
    while (gameData.screenState == Playing) {
        if (!shown) shown = ShowOutcomeAgain(lines);
        if (IsKeyHeld(VK_BACK)) {
            gameData.screenState = Title;
        } else if (IsKeyHeld(VK_ESCAPE)) {
            gameData.screenState = Shutdown;
        }
    }
}

void ShowLevelComplete() {
    auto lines = [] {
        DrawTextLine(30, 150, 224, "CONGRATULATIONS LEVEL %d COMPLETE!!!", gameData.level);
        DrawTextLine(20, 150, 256, "PRESS SPACEBAR TO CONTINUE TO NEXT LEVEL...");
        DrawTextLine(127, 150, 272, "PRESS ESC TO QUIT GAME...");
    };
    lines();
    int shown = ShowPicture();
    MessageBeep(MB_ICONASTERISK);
    while (gameData.screenState == Playing) {
        if (!shown) shown = ShowOutcomeAgain(lines);
        if (IsKeyHeld(VK_SPACE)) {
            gameData.screenState = LevelSetup;
            AddLevelTime();
            gameData.level += 1;
        } else if (IsKeyHeld(VK_ESCAPE)) {
            gameData.screenState = Shutdown;
        }
    }
}

void ShowFailed() {
    auto lines = [] {
        DrawTextLine(10, 150, 224, "YOU HAVE FAILED YOUR OBJECTIVE!!!");
        DrawTextLine(20, 150, 256, "PRESS SPACEBAR TO RETRY...");
        DrawTextLine(127, 150, 272, "PRESS BACKSPACE TO GO TO TITLE SCREEN...");
        DrawTextLine(127, 150, 288, "PRESS ESC TO QUIT GAME...");
    };
    lines();
    int shown = ShowPicture();
    MessageBeep(MB_ICONHAND);
    while (gameData.screenState == Playing) {
        if (!shown) shown = ShowOutcomeAgain(lines);
        if (IsKeyHeld(VK_SPACE)) {  // retry the same level; its time still counts
            gameData.screenState = LevelSetup;
            AddLevelTime();
        } else if (IsKeyHeld(VK_BACK)) {
            gameData.screenState = Title;
        } else if (IsKeyHeld(VK_ESCAPE)) {
            gameData.screenState = Shutdown;
        }
    }
}

// Reaching the objective wins over running out of time or a game-over jewel
// in the same frame.
void CheckOutcome() {
    if (gameData.score >= gameData.objective) {
        if (gameData.level == 5) {
            ShowGameComplete();
        } else {
            ShowLevelComplete();
        }
    } else if (gameData.secondsLeft < 1 || gameData.gameOverHit == 1) {
        ShowFailed();
    }
}

}  // namespace

// Seconds tick over on whole thousands of the counter, so a level's first
// second may be short. The elapsed time is an unsigned difference, which
// stays right when the counter passes 2^31 and when it wraps at 2^32. The
// thousands are those of the counter's unwrapped value: after a wrap they
// sit 296 ms off the counter's own (2^32 is not a multiple of 1000), and
// every second still lasts 1000 ms.
int SecondsLeftAt(DWORD startTick, DWORD now) {
    const DWORD elapsed = now - startTick;
    const unsigned long long crossed =
        (static_cast<unsigned long long>(startTick % 1000u) + elapsed) / 1000u;
    return kLevelSeconds - static_cast<int>(crossed);
}

void PlayFrame() {
    gameData.frameStartTick = GetTickCount();
    gameData.secondsLeft = SecondsLeftAt(gameData.levelStartTick, GetTickCount());
    FillRect(0, 0, 639, 479, 0);
    MoveBasket();
    PollMarksKey();
    TrySpawnJewel();
    UpdateJewels();
    // After the jewels, so the basket covers them.
    DrawBasketAndHud();
    CheckOutcome();
    ShowPicture();
    while (GetTickCount() - gameData.frameStartTick < kFrameMilliseconds) {
    }
    // Esc on an outcome screen only set Shutdown; the quit request comes here.
    if (IsKeyHeld(VK_ESCAPE)) RequestQuit();
}
