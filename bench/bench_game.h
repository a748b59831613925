// Shared set-up for the benchmarks that run the real game code headless.
#pragma once

namespace bench {

// A fresh headless process state with the game started: the seam reset to its
// virtual clock, a window, StartUp run with the sprite sheet found.
void OpenGame();

// Puts the game into play on level 1 as the frame benchmarks want it: all 20
// jewel slots falling at spread heights, an objective out of reach, no
// failing jewel, the level clock just started.
void EnterPlay();

// Keeps the scene steady between frames: refills any jewel slot that a catch
// or a miss freed, restarts the level clock so it never runs out, and turns
// the basket round at either edge. Costs a few dozen nanoseconds.
void KeepPlaying();

}  // namespace bench
