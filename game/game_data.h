// The game: its one record of variables, start-up, the screen flow, the level
// rules, the jewel field and the play frame.
//
// Every variable of the game lives in `gameData`, which exists for the whole
// run and is never saved. Display objects live in `display` (graphics/).
#pragma once

#include "graphics/display.h"
#include "platform/winapi.h"

// The screens the game moves between; FrameStep dispatches on these.
enum ScreenState {
    Story = 0,
    Title = 1,
    LevelSetup = 2,
    Briefing = 3,
    Playing = 4,
    Shutdown = 5,
    Ended = 6,
};

// A jewel kind is also the palette index of its colour.
enum JewelKind {
    Red = 10,
    Green = 20,
    Blue = 30,
    Orange = 40,
    Yellow = 50,
    Purple = 60,
    White = 70,
};

// One falling-jewel slot; (x, y) is the top-left of the jewel's 11 x 11 square.
struct Jewel {
    int x;
    int y;
    int speed;  // pixels per frame
    int kind;   // a JewelKind
    BYTE active;
};

constexpr int kJewelSlots = 20;
constexpr int kJewelKinds = 7;

struct GameData {
    int screenState;
    int quitRequested;
    int level;
    int secondsLeft;
    int bestTotalSeconds;  // 10000: no game completed yet this run
    int totalSeconds;
    int score;
    int objective;
    // Points of a caught jewel on this level, by colour: red, green, blue,
    // orange, yellow, purple, white. -1 fails the attempt instead.
    int kindPoints[kJewelKinds];
    DWORD levelStartTick;
    DWORD frameStartTick;
    BYTE gameOverHit;
    int playerX;
    int playerY;
    int animRateAdjust;
    int animIndex;
    int animCounter;
    int frameSequence[2];
    IDirectDrawSurface7* spriteFrames[2];
    Jewel jewels[kJewelSlots];
    BitmapFile spriteSheet;
    // Since when no picture has reached the display (dropping set), and why
    // the game gave up; null while it can go on.
    DWORD dropStartTick;
    BYTE dropping;
    const char* failure;
    // Jewel marks (a shape per kind inside each jewel) shown, and whether
    // their key was down at its last poll.
    BYTE marksShown;
    BYTE marksKeyHeld;
};

// The values every field holds when the program starts.
extern const GameData kGameDataStart;
extern GameData gameData;

// The main window and instance, set once by WinMain (shell/).
extern HWND mainWindow;
extern HINSTANCE appInstance;

// --- start-up and screen flow ---------------------------------------------
int StartUp();
int FrameStep();
void PollKey(int advanceKey, int nextState);
void RequestQuit();
// Ends the game for a reason it cannot go on from: a quit request, after
// which WinMain returns 1 and says why.
void GiveUp(const char* why);
// Presents the finished picture; 1 when it reached the display. A display
// that is there yet takes no picture for 10 seconds ends the game (GiveUp);
// one that is away (Alt+Tab) is waited for.
int ShowPicture();
bool IsBlinkOn();
bool IsKeyHeld(int virtualKey);  // top bit of the asynchronous key state

// Formats one line (at most 79 characters, longer output is cut) and draws it
// with DrawLabel; returns DrawLabel's result.
#if defined(__GNUC__)
__attribute__((format(printf, 4, 5)))
#endif
int DrawTextLine(int colour, int x, int y, const char* format, ...);

// --- level rules and briefing ------------------------------------------------
void ShowBriefing();

// --- jewel field -----------------------------------------------------------
int PickJewelKind();
void SpawnJewel(int slot);
void CheckCatch(int slot);
void TrySpawnJewel();
void UpdateJewels();
void DrawJewels();  // the active jewels where they are, without moving them

// --- jewel marks -------------------------------------------------------------
// The key that shows or hides the marks on the briefing and in play: M,
// which no screen uses.
constexpr int kMarksKey = 'M';
// The 11 x 11 square of `kind` at (x, y), with its mark while marks are shown.
void DrawJewel(int x, int y, int kind);
// The mark alone: 7 x 7 pixels two in from the square's sides, in index 0 on
// light jewels and 70 on dark ones; nothing outside the square is touched.
void DrawJewelMark(int x, int y, int kind);
// Switches the marks each time their key goes down.
void PollMarksKey();
// The options of WinMain's command line: --marks shows the marks. 0 when a
// word is not an option the game knows (copied into `unknown`, cut to fit).
int TakeCommandLine(const char* commandLine, char* unknown, int unknownSize);

// --- play frame ------------------------------------------------------------
void PlayFrame();
// Whole seconds left of the 30-second level clock begun at `startTick`.
int SecondsLeftAt(DWORD startTick, DWORD now);
