// Test seam of the stand-in: used by the tests and by nothing else
// (platform/headless/seam.cpp; the program does not link it).
//
// Through it the whole game runs deterministically: a virtual tick counter,
// scripted keys, failure injection for every platform call whose result the
// game tests, and read access to what the game produced (pixels, palette,
// clip list, posted messages, beeps, texts, cursor, object lifetimes). Over
// the headless backend (platform/headless/backend.cpp) nothing is shown or
// heard and each presented picture is kept; the desktop backend's own tests
// run the seam over that backend instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/winapi.h"

namespace seam {

// Platform calls whose failure can be injected.
enum class Call {
    RegisterClassA,
    CreateWindowExA,
    DirectDrawCreateEx,
    SetCooperativeLevel,
    SetDisplayMode,
    CreateSurface,
    GetAttachedSurface,
    CreatePalette,
    SetPalette,
    CreateClipper,
    SetClipList,
    SetClipper,
    SetColorKey,
    GetDC,
    Blt,
    Flip,
    SetEntries,
    Lock,
    OpenFile,
    RestoreAllSurfaces,
    Count
};

// Back to a fresh process: virtual clock at 0 stepping 1 ms per read, no
// keys held, no failures armed, captures cleared, every stand-in object and
// the window forgotten (without releasing through them).
void Reset();

// --- virtual time -------------------------------------------------------
void SetTick(DWORD tick);    // the next GetTickCount returns this
DWORD PeekTick();            // current value, without advancing
void SetTickStep(DWORD ms);  // each GetTickCount read advances by this
void AdvanceTick(DWORD ms);  // wraps at 2^32 like the real counter
// Abort the test (with a message) once this many ticks have passed since the
// limit was set; 0 turns it off. Guards tests against a game that never ends.
void SetTickBudget(DWORD ms);
// GetTickCount on the real clock instead of the virtual one (for pacing
// measurements). On the real
// clock the core waits as the program does: a loop that only reads the
// counter sleeps until its next step, one that only polls keys waits for
// input, and a present the display does not pace waits for a 60 Hz blank.
void UseRealClock(bool real);
// The real clock from a script instead of the backend (until the next
// Reset): `microseconds` is read for the time, `sleepUntil` and
// `waitForEvent` (milliseconds at most) are called where the core would wait.
void UseScriptedClock(std::function<std::uint64_t()> microseconds,
                      std::function<void(std::uint64_t)> sleepUntil,
                      std::function<void(int)> waitForEvent);

// Flip records the texts of each picture but neither its checksum nor its
// looked-up colours (PresentedChecksum and PresentedPixel stay as they were):
// for runs of thousands of whole sessions that only follow the texts.
void RecordTextsOnly(bool textsOnly);

// --- keyboard ----------------------------------------------------------
void HoldKey(int vk, bool held);
// A tap: pressed and released before the next poll; the next poll of that
// key still reports it held once.
void TapKey(int vk);
void ReleaseAllKeys();

// --- window system -----------------------------------------------------
void PushCloseRequest();  // as if the user closed the window (Alt+F4, WM)
// An event of the window (a close, a key) that the core takes at its next look.
void PushWindowEvent(backend::Event event);

// --- failure injection --------------------------------------------------
// The next `count` calls of `call` fail with `result` (0 = the call's usual
// failure code: DDERR_OUTOFMEMORY for the Create calls, DDERR_SURFACELOST
// for Blt, Flip and Lock, DDERR_CANTCREATEDC for GetDC, DDERR_NOTFOUND for
// GetAttachedSurface, DDERR_NOEXCLUSIVEMODE for RestoreAllSurfaces (the
// program is still not in front), DDERR_GENERIC for the rest of DirectDraw; 0, NULL or
// HFILE_ERROR for Win32). Argument checks come first: a call the stand-in
// does not support aborts even when a failure is armed.
void FailNext(Call call, int count = 1, HRESULT result = 0);
// As when exclusive mode is taken away (Alt+Tab, a locked screen): every
// surface is lost, so Blt, Flip, Lock and GetDC answer DDERR_SURFACELOST
// until IDirectDraw7::RestoreAllSurfaces, which leaves their pixels undefined
// (the stand-in scribbles 0xCD over them).
void LoseSurfaces();
// The next `count` calls of malloc fail (the test executables link with
// -Wl,--wrap=malloc; arm it right before the call under test).
void FailNextAlloc(int count = 1);

// For sweeps over a whole session: how many times each call reached the
// point where a failure could be injected since the last Reset (argument
// checks passed), and a failure of its `use`-th reach from now on (1: the
// next), and with `forever` of every reach after it too (a display that
// never comes back, a file that is gone for good).
int CallUses(Call call);
void FailUse(Call call, int use, bool forever, HRESULT result = 0);
// The same for malloc in the test executables: calls since the last Reset,
// and a failure of the `use`-th from now (and every later one with `forever`).
long AllocUses();
void FailAllocUse(long use, bool forever);
// Every heap allocation since the last Reset, malloc's and operator new's,
// for checks that something allocates nothing (in the test executables that
// wrap malloc; operator new is counted but never failed).
long HeapAllocations();
// The blocks of malloc and operator new not yet freed, counted from the
// process's start (not from Reset): what the program holds on to.
long HeapBlocksHeld();

// --- hooks --------------------------------------------------------------
// Called after every successful Flip (one presented picture) and on every
// GetAsyncKeyState poll (before the key is read); a bot or a replay script
// steers the game from here. Key polls do not move the clock: a wait that
// only polls keys needs a hook (or held keys) to end, and one that polls
// millions of times without the clock moving or a frame shown aborts.
void SetFrameHook(std::function<void()> hook);
void SetPollHook(std::function<void()> hook);

// --- what the game produced --------------------------------------------
constexpr int kWidth = backend::kPictureWidth, kHeight = backend::kPictureHeight;
const BYTE* PrimaryPixels();  // 640 x 480 indices, pitch 640; null if none
const BYTE* BackPixels();
const BYTE* SurfacePixels(IDirectDrawSurface7* surface, int* width, int* height, int* pitch);
PALETTEENTRY DisplayPalette(int index);  // the device palette object
std::vector<RECT> ClipRects();           // the clip list attached to back
RECT ClipBound();

struct PostedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<PostedMessage> PostedMessages();

std::vector<UINT> Beeps();  // MessageBeep types, in order
void ClearBeeps();

struct TextDraw {
    int x, y;
    std::string text;
    COLORREF colour;
    BYTE index;  // the display palette entry it was drawn in
};
std::vector<TextDraw> TextsSinceFlip();      // texts drawn on back since the last flip
std::vector<TextDraw> TextsOfLastPresent();  // texts of the picture last presented
bool FontLoaded();

int CursorShowCount();  // ShowCursor's display counter; < 0 = hidden
bool WindowExists();

int FlipCount();
std::uint32_t PresentedChecksum();  // of the last presented picture's indices
// The colour shown at (x, y) of the 640 x 480 picture as last presented,
// 0xAARRGGBB after the palette lookup; black before the first present, 0
// without a display mode (and over a backend other than the headless one).
std::uint32_t PresentedPixel(int x, int y);

// Live DirectDraw objects and the order of final releases, by kind:
// "device", "surface:primary", "surface:back", "surface:offscreen",
// "palette", "clipper". Counts are DirectDraw 7's: surfaces and palettes
// hold the device, a surface holds its palette and clipper, and the back
// buffer goes with the primary (logged right after the primary's palette).
int LiveObjects();
std::vector<std::string> ReleaseLog();

// --- files ----------------------------------------------------------------
// OpenFile looks for a bare name in this directory first ("" = the test
// executable's own), then in the working directory.
void SetProgramDirectory(const std::string& dir);
int OpenFiles();  // files opened with OpenFile and not yet closed

// --- a hall of fame -------------------------------------------------------
// The headless backend's HTTP (backend::httpRequest from the next Reset on):
// each exchange goes to `script`, which answers as a backend would (true
// with a status and body, false with a few words), or fails with "no board
// here" when none is set. An answer over the exchange's limit is refused as
// the backends refuse one.
struct HttpExchange {
    std::string method, url, body;
    int seconds;  // what the core allowed it
};
void ScriptHttp(
    std::function<bool(const HttpExchange&, backend::HttpAnswer*, std::string*)> script);

}  // namespace seam
