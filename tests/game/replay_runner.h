// Replay runner: plays the real game headless (WinMain on the virtual clock,
// keys set from the frame hook) and records every presented picture. A fixed
// start tick and controller repeat a run exactly (rand is seeded from ticks).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "game/game_data.h"
#include "platform/seam.h"

namespace replay {

// One presented picture and the game's record right after it.
struct FrameRecord {
    GameData game;
    std::vector<UINT> beeps;  // since the previous picture
    std::uint32_t checksum = 0;
    std::vector<seam::TextDraw> texts;

    bool HasText(const std::string& part) const;
    int NumberAfter(const std::string& prefix) const;  // -1 if no text has it
};

// The keys held until the next picture (and one tapped: down and up again
// before the next poll); `stop` holds Esc from then on. With `ownKeys` the
// keys are left as the controller set them (through the desktop backend).
struct Decision {
    std::vector<int> held;
    int tapped = 0;
    bool stop = false;
    bool ownKeys = false;
};
using Controller = std::function<Decision(const FrameRecord&)>;

// WinMain from a fresh process to its end, `tickStep` virtual ms per tick
// read, stopped past `maxFrames` pictures (no controller: no keys);
// `beforeStart` runs right before it (working in assets/, beside the sheet);
// `commandLine` is WinMain's.
std::vector<FrameRecord> Play(DWORD startTick, int maxFrames, const Controller& controller,
                              DWORD tickStep = 1, const std::function<void()>& beforeStart = {},
                              int* exitCode = nullptr, const char* commandLine = "");

// A situation staged in `level`'s play: `setup` runs in the hook of its first
// play picture; returns the `frames` pictures after it, holding
// `held`; `each` after every one ends the run early with true. Ticks advance
// by 5 off multiples of 5, so no jewel starts.
std::vector<FrameRecord> RunScenario(int level, int frames, const std::function<void()>& setup,
                                     const std::vector<int>& held = {},
                                     const std::function<bool(const FrameRecord&)>& each = {});

// The advance key of a menu screen (Story, Title, Briefing), else 0.
int MenuKey(int state);

inline bool IsLevelComplete(const FrameRecord& f) {
    return f.HasText("CONGRATULATIONS LEVEL");
}
inline bool IsGameComplete(const FrameRecord& f) {
    return f.HasText("CONGRATULATIONS YOU ARE ONE OF THE BEST");
}
inline bool IsFailed(const FrameRecord& f) {
    return f.HasText("YOU HAVE FAILED YOUR OBJECTIVE");
}

}  // namespace replay
