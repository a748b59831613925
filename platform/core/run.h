// Recorded runs: a game kept as what it read, played back, and verified.
//
// The game is exact given what it reads from the platform: the tick counter
// (which also seeds its generator at each level's start), the keys' states
// and its messages. Recording writes every such read that did not go as
// expected (docs/RUNS.md); a replay answers the same reads from the file, so
// the game draws the same pictures without knowing it is replayed. At each
// level's end (the outcome's beep) the file keeps the picture's checksum,
// which a replay must match.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/winapi.h"

namespace runs {

// --- the program's options and the tests -----------------------------------------
// Records the coming session to `path`. When the file cannot be made this
// says so on stderr and the game goes on unrecorded (false).
// `commandLine` is the game's (WinMain's), kept for the replay.
bool Record(const char* path, const char* programVersion, const char* commandLine = "");
// Replays the run in `path`: at its recorded pace, or with `verify` as fast
// as the machine goes, headless, printing each level attempt. A file that
// cannot be replayed gets one line on stderr (false: exit code 2).
// The recorded game's command line goes to `commandLine` (kCommandLineSize
// bytes) when it is not null.
constexpr int kCommandLineSize = 64;
bool Replay(const char* path, bool verify, char* commandLine = nullptr);
// After WinMain returned `exitCode`: the recording ends, or the replay says
// how it went. The program's exit code: the game's own when recording or
// playing a whole run; a verification's 0 (it matched), 1 (it did not) or 2
// (the file stops short). A replay that parted from its recording is 1.
int Finish(int exitCode);
// Nothing recorded or replayed (the test seam's reset).
void Forget();
// Where a verification's lines and the one-line complaints go instead of
// stdout and stderr (null: those).
void SetOutput(std::FILE* lines, std::FILE* complaints);

// --- what the core tells ------------------------------------------------------------
enum class Mode : std::uint8_t { Off, Recording, Replaying };
extern Mode mode;

// Each read of the game passes here: the live value when recording (noted)
// or off, the recorded one when replaying, after a close request the
// recording has before it (a message read comes before the queue is looked at).
DWORD Tick(DWORD live);
bool Key(int vk, bool live);
void MessageRead();

void NoteCloseRequest();  // the user asked the window to close
void NotePicture();       // a picture was presented
void NoteBeep(UINT type);
void NoteText(const char* text, int length);  // drawn on the screen's back buffer
void LiveEscape();                            // the player's Esc or close while watching a run

}  // namespace runs
