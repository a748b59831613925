// Recorded runs: a game kept as what it read, played back, and verified.
//
// The game is exact given what it reads from the platform: the tick counter
// (which also seeds its generator at each level's start), the keys' states
// and its messages. Recording writes every such read that did not go as
// expected (docs/RUNS.md); a replay answers the same reads from the file, so
// the game draws the same pictures without knowing it is replayed. At each
// level's end (the outcome's beep) the file keeps the picture's checksum,
// which a replay must match.
//
// A replay refuses a file the platform could not have written (a counter
// that goes back or reads what the 1/64 s counter cannot, more work than a
// file of its size may ask for, a close request the window could not have
// had): docs/RUNS.md gives each rule and its reason.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>

#include "platform/winapi.h"

namespace runs {

// --- the program's options and the tests -----------------------------------------
// The exit codes of a replay (--play, --verify).
constexpr int kMatched = 0;      // the whole file replayed and matched
constexpr int kDiffers = 1;      // the replay parted from the recording
constexpr int kRefused = 2;      // unreadable, damaged, cut short, too large, impossible
constexpr int kInterrupted = 3;  // a signal, a closed window, Esc while watching
constexpr int kUnable = 4;       // this machine could not carry the replay out

// What the game's own record says of the attempt that just ended (its
// outcome comes from the screen it beeps on).
struct GameRecord {
    int level = 0;
    int secondsLeft = 0;   // of the level's 30
    int totalSeconds = 0;  // the game's so far, this attempt's included at a game's end
};
// How the program reads the game's record at a level's end; the times a
// recording keeps and a verification prints come from there. Without one
// they are 0.
void ReadGameWith(bool (*read)(GameRecord*));

// Records the coming session to `path`, written to `path`.partial as it
// goes and put in its place when the session ends (a device or pipe is
// written straight). When the file cannot be made this says so on stderr
// and the game goes on unrecorded (false). `commandLine` is the game's
// (WinMain's), kept for the replay.
bool Record(const char* path, const char* programVersion, const char* commandLine = "");
// Replays the run in `path`: at its recorded pace, or with `verify` as fast
// as the machine goes, headless, printing each level attempt. A file that
// cannot be replayed gets one line on stderr (false: the exit code is
// RefusalCode()). The recorded game's command line goes to `commandLine`
// (kCommandLineSize bytes) when it is not null.
constexpr int kCommandLineSize = 64;
bool Replay(const char* path, bool verify, char* commandLine = nullptr);
int RefusalCode();  // kRefused, or kUnable when this machine could not read it
// After WinMain returned `exitCode`: the recording ends (and is put in
// place), or the replay says how it went. The program's exit code: the
// game's own when recording or playing a whole run; a verification's
// kMatched; otherwise the replay's code above, with one line on stderr.
int Finish(int exitCode);
// SIGINT and SIGTERM stop a replay (kInterrupted) instead of the program.
void CatchInterrupts();
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
void LiveEscape();  // the player's Esc or close (or a signal) while a run replays
bool Unseen();      // a verification replays (nothing is shown)

}  // namespace runs
