// The screen flow: FrameStep's dispatch over the screen states, the story,
// title and briefing screens with their key polling, level set-up, and the
// quit request.
#include <cstdlib>

#include "game/game_data.h"

namespace {

const char* const kStoryLines[9] = {
    "You are VAZOZ...local resident in the primitive rural area of Jewel Town.",
    "Every day in Jewel Town, jewels rain down from the skies.  Many residents",
    "have taken up the profession of VORNACKLE, where they catch the jewels",
    "from the skies and sell them for a profit in the nearby city of Coalville.",
    "The jewels need to be caught in a special cushioning basket before they hit",
    "the ground to be valuable or else they are damaged and worthless.  As VAZOZ,",
    "you have just graduated from the University with a major in catching and a",
    "minor in jewels.  Do you have what it takes to be the best VORNACKLE the",
    "town has ever seen???",
};

void RunStory() {
    while (gameData.screenState == Story) {
        FillRect(0, 0, 639, 479, 0);
        for (int row = 0; row < 4; ++row) {
            DrawTextLine(70, 50, 80 + 20 * row, "%s", kStoryLines[row]);
        }
        PollKey(VK_RETURN, Title);
        for (int row = 4; row < 9; ++row) {
            DrawTextLine(70, 50, 180 + 20 * (row - 4), "%s", kStoryLines[row]);
        }
        PollKey(VK_RETURN, Title);
        BlitFrame(gameData.spriteFrames[0], 400, 320);
        if (IsBlinkOn()) DrawTextLine(20, 50, 340, "PRESS ENTER...");
        PollKey(VK_RETURN, Title);
        ShowPicture();

        if (IsKeyHeld(VK_RETURN)) {
            gameData.screenState = Title;
            break;
        }
        if (IsKeyHeld(VK_ESCAPE)) {
            RequestQuit();
            break;
        }
    }
}

void RunTitle() {
    while (gameData.screenState == Title) {
        FillRect(0, 0, 639, 479, 0);
        DrawTextLine(127, 220, 144, "V O R N A C K L E");
        DrawTextLine(70, 230, 160, "A GAME BY THE VORNACKLE TEAM");
        PollKey(VK_SPACE, LevelSetup);
        if (gameData.bestTotalSeconds != 10000) {
            DrawTextLine(60, 160, 176, "FASTEST COMPLETION TIME: %d SECONDS",
                         gameData.bestTotalSeconds);
        }
        if (IsBlinkOn()) DrawTextLine(20, 170, 208, "PRESS SPACEBAR TO START NEW GAME");
        DrawTextLine(10, 240, 224, "PRESS ESC TO EXIT");
        PollKey(VK_SPACE, LevelSetup);
        BlitFrame(gameData.spriteFrames[1], 270, 304);
        ShowPicture();

        // Every pass, so coming back here from any level starts a fresh game.
        gameData.totalSeconds = 0;
        gameData.level = 1;

        if (IsKeyHeld(VK_SPACE)) {
            gameData.screenState = LevelSetup;
            break;
        }
        if (IsKeyHeld(VK_ESCAPE)) {
            RequestQuit();
            break;
        }
    }
}

// Runs before every level and every retry.
void SetUpLevel() {
    gameData.frameStartTick = GetTickCount();
    srand(gameData.frameStartTick);
    for (Jewel& jewel : gameData.jewels) jewel.active = 0;
    gameData.score = 0;
    gameData.secondsLeft = 30;
    gameData.gameOverHit = 0;
    gameData.screenState = Briefing;
}

void RunBriefing() {
    while (gameData.screenState == Briefing) {
        FillRect(0, 0, 639, 479, 0);
        PollKey(VK_RETURN, Playing);
        PollMarksKey();
        ShowBriefing();
        PollKey(VK_RETURN, Playing);
        ShowPicture();

        if (IsKeyHeld(VK_RETURN)) {
            gameData.screenState = Playing;
            break;
        }
        if (IsKeyHeld(VK_ESCAPE)) {
            RequestQuit();
            break;
        }
    }
    // The level's 30 seconds count from here.
    gameData.frameStartTick = GetTickCount();
    gameData.levelStartTick = gameData.frameStartTick;
}

// Reached only when Esc on an end-of-level screen was let go before the
// frame's own Esc test. The player still asked to quit, so besides giving the
// display back, the window is told to close; the quit flag keeps every later
// FrameStep from touching the released objects.
void ShutDown() {
    DisplayClose();
    gameData.screenState = Ended;
    gameData.quitRequested = 1;
    PostMessageA(mainWindow, WM_DESTROY, 0, 0);
}

}  // namespace

bool IsBlinkOn() {
    return GetTickCount() % 3000u <= 1750u;
}

void PollKey(int advanceKey, int nextState) {
    if (IsKeyHeld(advanceKey)) {
        gameData.screenState = nextState;
    } else if (IsKeyHeld(VK_ESCAPE)) {
        RequestQuit();
    }
}

void GiveUp(const char* why) {
    gameData.failure = why;
    RequestQuit();
}

// A picture dropped now and then (a failed flip, a display just given back)
// costs only itself; the clock is read only once pictures go missing.
int ShowPicture() {
    PresentFrame();
    const int shown = LastPresentShown();
    if (shown != 0) {
        gameData.dropping = 0;
        return shown == 1 ? 1 : 0;
    }
    const DWORD now = GetTickCount();
    if (gameData.dropping == 0) {
        gameData.dropping = 1;
        gameData.dropStartTick = now;
    } else if (now - gameData.dropStartTick >= 10000u) {
        GiveUp("the display takes no pictures: presenting failed for 10 seconds");
    }
    return 0;
}

void RequestQuit() {
    PostMessageA(mainWindow, WM_DESTROY, 0, 0);
    gameData.quitRequested = 1;
    gameData.screenState = Shutdown;
}

int FrameStep() {
    if (gameData.quitRequested != 0) return 0;

    switch (gameData.screenState) {
        case Story:
            RunStory();
            break;
        case Title:
            RunTitle();
            break;
        case LevelSetup:
            SetUpLevel();
            break;
        case Briefing:
            RunBriefing();
            break;
        case Playing:
            PlayFrame();
            break;
        case Shutdown:
            ShutDown();
            break;
        default:  // Ended, or anything else: nothing to do
            break;
    }
    return 1;
}
