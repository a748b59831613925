// Internals shared by the platform core's files (never included by the game
// or a backend): how an API entry begins, the machine's clock and the waits,
// the event pump, and the records of the window, the keys, the sound and the
// files. Nothing here knows an outside library: what the core needs of the
// machine it asks of the backend (platform/backend.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/entries.h"
#include "platform/core/glyphs.h"
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

// --- entries -----------------------------------------------------------------
// An API entry in progress: every entry of the core starts by making one. It
// notes the call (the waits tell a loop that only reads the counter or only
// polls keys by the entry before), and it is the only way to refuse the
// call's arguments by name or to meet a failure a test harness injects, so
// an entry cannot do its work without it.
class ApiCall {
  public:
    explicit ApiCall(Entry entry);
    ApiCall(const ApiCall&) = delete;
    ApiCall& operator=(const ApiCall&) = delete;

    // The entry made before this one (the waits' question).
    Entry Previous() const { return previous_; }
    // Aborts: the stand-in does not support these arguments.
    [[noreturn]] void Unsupported(const char* format, ...) const
        __attribute__((format(VN_PRINTF_FORMAT, 2, 3)));
    // True when a test harness fails the call here; `*result` is then its
    // code, `usual` unless the harness gave another.
    bool Fails(HRESULT usual, HRESULT* result) const;

  private:
    Entry entry_;
    Entry previous_;
};

// --- the machine's clock and the waits -----------------------------------------
// Every wait of the core goes through this record: the backend's clock, or a
// harness's (a frozen one under a virtual tick counter, or a scripted one).
struct Clock {
    std::function<std::uint64_t()> microseconds;
    std::function<void(std::uint64_t)> sleepUntil;
    std::function<void(int)> waitForEvent;  // milliseconds at most
};
extern Clock activeClock;
// The backend's clock.
Clock MachineClock();
// Takes `next` as the clock, with nothing pending on the old one.
void UseClock(Clock next);

DWORD CurrentTick();  // the tick count as a message's time, without a read

// The counter reads `first` now and runs on from there, stepping as it always
// does. A counter starts wherever the machine's uptime puts it; a hall of
// fame's challenge chooses the start instead, so that nothing the game draws
// from it could be known before the challenge was issued.
void StartCounterAt(DWORD first);

// A flip the display did not pace itself happens at the next 60 Hz vertical
// blank. As on the hardware, Flip returns at once and what next touches the
// flip chain (drawing on it, or another flip) waits until that blank: a
// screen that only redraws and flips runs at the display's rate, while a
// play frame, which paces itself, is not held up.
void ScheduleFlip();
void WaitForPendingFlip();

// --- events ----------------------------------------------------------------------
void PumpEvents();  // drains the backend's events: keys, close requests, focus

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
    std::uint64_t closeSince = 0;  // microseconds of that request on the clock
};
extern WindowState windowState;
HWND MainWindowHandle();
void RequestClose();  // a system close request: WM_CLOSE to the window

// --- keyboard ----------------------------------------------------------------
// The keys the game polls: the six of its screens, and M, which shows or
// hides the jewels' marks.
constexpr int kKeys[] = {VK_LEFT, VK_RIGHT, VK_RETURN, VK_SPACE, VK_BACK, VK_ESCAPE, 'M'};
bool IsPolledKey(int vk);
void KeyEvent(int vk, bool down);  // vk may be backend::kAdvanceKey
void ReleaseKeys();                // focus lost: nothing held
// A press that began and ended before the next poll of the key.
void TapKey(int vk);

// --- sound -------------------------------------------------------------------
// Opens the audio device and makes the tones ahead of the first beep, so
// that the first catch does not stall a frame.
void PrepareSound();
// The MessageBeep type whose tone starts at `samples`; false for none (0 is
// MB_OK's type).
bool BeepOfSamples(const std::int16_t* samples, UINT* type);

// --- files -------------------------------------------------------------------
// Where a data file of the program may be: beside the program, then in
// ../share/vornackle from there (an installed copy).
std::vector<std::string> DataFileCandidates(const char* name);
int OpenFileCount();

// --- a fresh process, for a test harness ---------------------------------------
// Every record of the core back to its start: objects and the window
// forgotten (never released through), keys up, files closed, the
// backend's clock, nothing pending.
void ForgetEverything();
// The same for each file's records.
void ForgetWaits();
void ForgetDirectDraw();
void ForgetWindow();
void ForgetKeys();
void ForgetFiles();

}  // namespace standin
