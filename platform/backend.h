// The backend interface: what the platform core asks of the machine it runs
// on, and nothing of the API's own rules.
//
// The core (platform/core/) keeps everything Win32 and DirectDraw mean:
// objects and their reference counts, clip lists, the palette, GDI text,
// messages, key state, the tick counter and its waits. A backend only opens
// a display and shows 640 x 480 pictures, hands over input, tells the time
// and waits, plays a sound and says where the program's files are. Each
// backend folder implements all of this file (platform/sdl/ on the desktop,
// platform/web/ in a browser, platform/headless/ for the tests); each
// program links exactly one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace backend {

// The picture's size: the game's one display mode.
constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 480;

// --- start-up ------------------------------------------------------------
// Before anything is opened, for a run replayed unseen (--verify): a
// display nobody sees, no sound and no input.
void ShowNothing();

// The program's command line (after its name), for the backend's own
// options; false when an option is not one of them (`error` then says which).
bool TakeOptions(int argc, char** argv, const char** error);
// The backend's options for the program's --help: lines of "  --option  what
// it does", each ending in a newline; "" when it has none.
const char* OptionsHelp();
// Whether the game starts with its jewels' marks shown, after the command
// line asked for them (1: --marks), asked for none (0: --no-marks) or said
// nothing (-1). A backend that keeps settings remembers the last choice.
bool MarksShown(int asked);

// Tells the person who started the program `text` (its help, its version,
// or with `problem` set why it cannot start), as programs of the system do:
// on a terminal, or in a message box where there is none.
void Say(const char* text, bool problem);

// --- display -------------------------------------------------------------
// The screen's size in pixels; false when there is no display.
bool ScreenSize(int* width, int* height);

// The program's one window, over the whole screen; false when it cannot be
// made.
bool OpenWindow(const char* title);
// The window was destroyed: it disappears, though a picture may still be
// presented into it until the display device goes.
void HideWindow();
// Gone for good (a test harness's fresh start).
void CloseWindow();
void ShowCursor(bool shown);

// Ready to show 640 x 480 pictures (the display mode was set); false when
// it cannot be.
bool OpenPresenter();
void ClosePresenter();

// Shows one 640 x 480 picture of palette indices, rows `pitch` bytes apart,
// through `lookup` (256 colours, 0xFFRRGGBB), at every Flip. True when it
// returned at the display's vertical blank; false when the caller must pace
// itself.
bool Present(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]);

// What the core gives every backend for presenting (platform/core/picture_rows.cpp):
// one picture row of kPictureWidth indices looked up into colours, and
// whether a picture and lookup are those already shown (`shown` is a whole
// picture, rows kPictureWidth bytes apart), so an unchanged one need not be
// sent again, and which part of a row changed, so only that part need be.
void LookUpRow(const std::uint8_t* in, const std::uint32_t lookup[256], std::uint32_t* out);
bool SamePicture(const std::uint8_t* shown, const std::uint32_t shownLookup[256],
                 const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]);
// The columns *first to *last of picture row `row` that differ from the row
// `shown` (all of them when `all`), copied into `shown`; false, with
// nothing set, when none differs. `row` may be `shown` itself.
bool TakeChangedSpan(const std::uint8_t* row, std::uint8_t* shown, bool all, int* first, int* last);

// --- input ---------------------------------------------------------------
struct Event {
    enum Kind {
        KeyDown,    // `key` went down (a virtual-key code, or kAdvanceKey)
        KeyUp,      // `key` went up
        Close,      // the user asked the program to close
        FocusLost,  // keys held now will not be reported released
    } kind;
    int key;
};
// Not a key of the keyboard: a controller's button that does whatever the
// screen's advance key does (the core knows which key the game is polling).
constexpr int kAdvanceKey = 0x10000;

// The next waiting event; false when none is waiting.
bool PollEvent(Event* event);
// Returns when an event is waiting or `milliseconds` have passed.
void WaitForEvent(int milliseconds);

// --- time ----------------------------------------------------------------
// Monotonic microseconds since some fixed moment before the first call.
std::uint64_t Microseconds();
// Returns at `microseconds` on that clock, or at once when it has passed.
void SleepUntil(std::uint64_t microseconds);

// --- sound ---------------------------------------------------------------
// Opens the sound device for 16-bit mono at `samplesPerSecond`; false when
// there is none (beeps are then silent).
bool OpenAudio(int samplesPerSecond);
// Starts `count` samples, cutting off any sound still playing. The samples
// stay valid and unchanged while the program runs.
void PlaySound(const std::int16_t* samples, std::size_t count);

// --- files ---------------------------------------------------------------
// The folder the program was started from, ending in '/'; empty when unknown.
// The result stays valid while the program runs.
const char* ProgramDirectory();

// --- a hall of fame ------------------------------------------------------
// One HTTP exchange with a hall of fame's board (--board, --submit): `method`
// to `url` (http:// or https://, nothing else; no redirect followed) with
// `body` as application/octet-stream when it is not empty. It ends within
// `seconds` whatever the other side does, and takes at most `limit` bytes of
// answer. True with the answer's status and body; false with `*error` (a few
// words: "cannot connect", "timed out", "an answer over 65536 bytes") when
// no whole answer came.
struct HttpAnswer {
    int status = 0;
    std::string body;
};
using HttpFunction = bool (*)(const char* method, const std::string& url, const std::string& body,
                              int seconds, std::size_t limit, HttpAnswer* answer,
                              std::string* error);
// The system's HTTP, set by a desktop backend when it takes the options
// (libcurl on Linux, WinHTTP on Windows); null in a program that speaks to no
// board (the page, whose script does that itself).
extern HttpFunction httpRequest;

}  // namespace backend
