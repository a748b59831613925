// Replay runner: plays the real game headless (WinMain through the stand-in,
// virtual clock, keys set from the frame hook) and records every presented
// frame. With a fixed start tick and a deterministic controller the whole run
// repeats exactly, since the game seeds rand from the tick count.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "game/game_data.h"

namespace replay {

struct JewelState {
    int slot, x, y, speed, kind;
};

// What one presented picture showed, and the game's state right after it.
struct FrameRecord {
    int index = 0;  // presented frames counted from the start of the run
    DWORD tick = 0;
    int state = 0;
    int level = 0;
    int score = 0;
    int objective = 0;
    int secondsLeft = 0;
    int totalSeconds = 0;
    int bestTotalSeconds = 0;
    int playerX = 0;
    int animIndex = 0;
    std::vector<JewelState> jewels;  // active slots only, in slot order
    std::vector<UINT> beeps;         // beeps since the previous presented frame
    std::uint32_t checksum = 0;      // of the presented 8-bit picture
    std::vector<std::string> texts;  // texts drawn into the presented picture
    std::vector<BYTE> picture;       // the presented 640 x 480 indices, when kept

    bool HasText(const std::string& part) const;
    // The number that follows `prefix` in a presented text, or `fallback`.
    int NumberAfter(const std::string& prefix, int fallback = -99999) const;
};

// What the controller wants held until the next presented frame.
struct Decision {
    std::vector<int> held;  // virtual-key codes; every other key is released
    bool stop = false;      // end the run: the runner holds Esc from now on
};

// Called from the frame hook after each presented frame; the presented
// picture can still be read there through seam::PrimaryPixels().
using Controller = std::function<Decision(const FrameRecord&)>;

struct Options {
    DWORD startTick = 1000000;
    // Virtual milliseconds per tick read. With a step of 5 and a start tick
    // that is not a multiple of 5, no tick read is ever a multiple of 5 and
    // no jewel ever starts on its own.
    DWORD tickStep = 1;
    int maxFrames = 40000;  // a run that needs more is reported as a failure
    bool keepPictures = false;
    Controller controller;
};

struct Result {
    std::vector<FrameRecord> frames;
    int exitCode = -1;
    bool hitFrameLimit = false;
};

// Puts the platform stand-in and every game and display global back to the
// state of a freshly started process.
void ResetProcess();

// Runs WinMain to its end and returns the recorded frames.
Result Play(const Options& options);

// A staged situation in play: the runner walks the menus to `level`'s play,
// `setup` arranges the game record in the hook of the first play frame, and
// `step` decides the keys after every later frame (nothing held by default).
struct Scenario {
    int level = 1;
    DWORD startTick = 1000001;  // with tickStep 5: no jewel starts by itself
    DWORD tickStep = 5;
    int frames = 1;  // play frames recorded after the setup
    bool keepPictures = true;
    std::function<void()> setup;
    std::vector<int> held;  // keys held from the setup on, unless `step` says otherwise
    std::function<Decision(const FrameRecord&, int)> step;
};

// The frames presented after the setup: frames[0] is the first one drawn with
// the staged state. Stops early when the game leaves play.
std::vector<FrameRecord> RunScenario(const Scenario& scenario);

// Leftmost column in rows 352..430 holding a non-background pixel (-1 if none):
// where the basket was drawn, as no jewel is staged there.
int LeftmostDrawnColumn(const std::vector<BYTE>& picture, int fromRow = 352, int toRow = 430);

// Which basket frame (0 or 1) the picture shows with its left edge at
// `playerX`, comparing every opaque sprite pixel on screen; -1 if neither.
// Reads the frame surfaces, so call it before the next ResetProcess.
int DrawnBasketFrame(const std::vector<BYTE>& picture, int playerX);

// The advance key of a menu-like screen (Story, Title, Briefing), else 0.
int MenuKey(int state);

// Outcome screens, recognised by their texts.
bool IsLevelComplete(const FrameRecord& frame);
bool IsGameComplete(const FrameRecord& frame);
bool IsFailed(const FrameRecord& frame);

// kindPoints index of a jewel kind (10..70 -> 0..6).
inline int KindSlot(int kind) {
    return kind / 10 - 1;
}

}  // namespace replay
