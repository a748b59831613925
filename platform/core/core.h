// Internals shared by the platform core's files (never included by the game
// or a backend): the loud-failure helper, the run mode (real or test seam),
// the event pump, the clock's waits, and the state records that the test seam
// reads and resets. Nothing here knows an outside library: what the core needs
// of the machine it asks of the backend (platform/backend.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/glyphs.h"
#include "platform/seam.h"
#include "platform/winapi.h"

// MinGW's C99 printf (the Windows build) checks formats as the GNU one does.
#ifdef __MINGW_PRINTF_FORMAT
#define VN_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define VN_PRINTF_FORMAT printf
#endif

namespace standin {

// Prints "platform: <call>: <what>" to stderr and aborts: the game asked for
// something the stand-in does not provide.
[[noreturn]] void Unsupported(const char* call, const char* format, ...)
    __attribute__((format(VN_PRINTF_FORMAT, 2, 3)));

// --- run mode and test seam ----------------------------------------------
struct SeamState {
    bool active = false;  // set by seam::Reset; headless, virtual time, no exit
    DWORD tick = 0;
    DWORD tickStep = 1;
    DWORD budget = 0;  // 0 = no limit
    DWORD budgetStart = 0;
    long pollsWithoutProgress = 0;
    struct Failure {
        int skip = 0;   // reaches to let through first
        int count = 0;  // then this many fail
        HRESULT result = 0;
    } failures[static_cast<int>(seam::Call::Count)];
    int uses[static_cast<int>(seam::Call::Count)] = {};
    std::function<void()> frameHook;
    std::function<void()> pollHook;
    std::string programDir;           // overrides the program's directory for OpenFile
    bool realClock = false;           // GetTickCount on the real clock
    bool presentLikeProgram = false;  // Flip presents through the backend
    bool textsOnly = false;           // Flip keeps the texts, not the picture's records
    bool backendInput = false;        // the backend's events are taken as the program takes them
};
extern SeamState seamState;
inline bool SeamMode() {
    return seamState.active;
}

// True when an armed failure for `call` fires now; `*result` is then the
// injected result or `usual` when none was given.
bool InjectedFailure(seam::Call call, HRESULT usual, HRESULT* result);

// The virtual clock's budget check; aborts the test when it ran out.
void CheckTickBudget();

// --- events and waiting ----------------------------------------------------
void PumpEvents();  // drains the backend's events: keys, close requests, focus

// The real clock: the backend's, or a script of the tests'. Every wait of the
// core goes through it.
struct RealClock {
    std::function<std::uint64_t()> microseconds;
    std::function<void(std::uint64_t)> sleepUntil;
    std::function<void(int)> waitForEvent;  // milliseconds at most
};
extern RealClock realClock;
// True when the core keeps real time: the program, or a test on the real clock.
bool RealTime();

// What the game called last, for the waits: a loop that only reads the
// counter, or only polls keys, is waiting and may sleep.
enum class LastCall { Other, TickRead, KeyPoll };
extern LastCall lastCall;
inline void NoteCall() {
    lastCall = LastCall::Other;
}
// A flip the display did not pace itself happens at the next 60 Hz vertical
// blank. As on the hardware, Flip returns at once and what next touches the
// flip chain (drawing on it, or another flip) waits until that blank: a
// screen that only redraws and flips runs at the display's rate, while a
// play frame, which paces itself, is not held up.
void ScheduleFlip();
void WaitForPendingFlip();
void ForgetWaits();  // seam reset: the backend's clock, nothing pending

// --- window and messages -----------------------------------------------------
struct WindowState {
    bool classRegistered = false;
    std::string className;
    WNDPROC windowProc = nullptr;
    bool exists = false;
    bool opened = false;  // the backend's window is open
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    int cursorCount = 0;           // ShowCursor's display counter
    bool closePending = false;     // a system close request not yet answered
    std::uint64_t closeSince = 0;  // real microseconds of that request
};
extern WindowState windowState;
HWND MainWindowHandle();
void RequestClose();  // a system close request: WM_CLOSE to the window
void ForgetWindow();  // seam reset: close the backend's window, clear the queue

// --- keyboard and time ------------------------------------------------------
void KeyEvent(int vk, bool down);  // vk may be backend::kAdvanceKey
void ReleaseKeys();
void ResetKeys();
DWORD CurrentTick();  // the tick count without advancing the virtual clock

struct ScriptedKey {
    int vk;
    DWORD from;
    DWORD until;
};
extern std::vector<ScriptedKey> scriptedKeys;
bool SeamKeyHeld(int vk);
void SeamHoldKey(int vk, bool held);
void SeamTapKey(int vk);

// --- sound -------------------------------------------------------------------
extern std::vector<UINT> beeps;  // recorded in seam mode only
// Opens the audio device and makes the tones ahead of the first beep, so
// that the first catch does not stall a frame.
void PrepareSound();

// --- files -------------------------------------------------------------------
// Where a data file of the program may be: beside the program, then in
// ../share/vornackle from there (an installed copy).
std::vector<std::string> DataFileCandidates(const char* name);
int OpenFileCount();
void CloseAllFiles();

// --- DirectDraw and GDI ------------------------------------------------------
struct Surface;
struct Palette;
struct Clipper;
struct Device;

void ForgetDirectDraw();  // seam reset: drop every object without Release
int LiveObjectCount();
extern std::vector<std::string> releaseLog;
IDirectDrawSurface7* PrimarySurface();
IDirectDrawSurface7* BackSurface();
const BYTE* SurfaceData(IDirectDrawSurface7* surface, int* width, int* height, int* pitch);
PALETTEENTRY DisplayPaletteEntry(int index);
std::vector<RECT> BackClipRects();
RECT BackClipBound();
int FlipCount();
std::uint32_t PresentedChecksum();
std::uint32_t PresentedPixel(int x, int y);  // ARGB8888 as last presented

// Text on a surface: the DC font and the texts recorded for the seam.
struct TextRecord {
    int x, y;
    std::string text;
    COLORREF colour;
    BYTE index;
};
// The texts of one picture. Records are reused from picture to picture, so
// that a steady frame allocates nothing for them.
struct TextLog {
    std::vector<TextRecord> records;
    size_t count = 0;
    void Add(int x, int y, const char* text, int length, COLORREF colour, BYTE index);
};
extern TextLog textsSinceFlip;
extern TextLog textsOfLastPresent;
void ForgetTexts();

}  // namespace standin
