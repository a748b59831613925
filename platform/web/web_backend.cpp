// The web backend: the game compiled to WebAssembly and played in a page.
// The page (web/index.html) holds a 640 x 480 canvas; this file shows the
// core's pictures in it, tells the browser's time and makes the program's
// waits; input.cpp takes the keyboard, the page's on-screen buttons and game
// controllers, and sound.cpp plays beeps through WebAudio. Each call into
// the page's JavaScript sits beside the C++ that makes it.
//
// The game keeps its blocking loops. The program is built with ASYNCIFY, and
// each wait here (the counter's next step, a changed picture's 60 Hz pace, a
// screen that does not change, a key poll with nothing to do) hands control
// back to the browser until it is over, so the page draws, takes input and
// plays sound meanwhile.
//
// Without a page nothing is shown or heard and the waits keep time on the
// spot. (The tests under node link the headless backend instead.)
#include <emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/backend.h"
#include "platform/web/page.h"

namespace {

constexpr int kWidth = backend::kPictureWidth;
constexpr int kHeight = backend::kPictureHeight;

// Longest the browser goes without control while the game runs: a loop that
// neither waits for the counter nor for a key still yields this often.
constexpr double kMaxBusyMilliseconds = 50;

// clang-format off
EM_JS(int, vn_page_present, (), {
    return typeof document !== 'undefined' && !!Module['canvas'] ? 1 : 0;
});

// The part of the picture at (x, y), w x h, changed: only it is copied into
// the canvas. The page also learns how many pictures were drawn and how long
// the program worked between its waits (for the figures of
// docs/PERFORMANCE.md).
EM_JS(void, vn_draw, (const void* rgba, int x, int y, int w, int h, int frames,
                      double busyMilliseconds), {
    const canvas = Module['canvas'];
    // Opaque: the page need not blend the picture with what lies under it.
    const context = Module['vnContext'] ||
                    (Module['vnContext'] = canvas.getContext('2d', {alpha: false}));
    // Straight from the program's memory (which may have moved since the
    // last picture): no copy of its own.
    const pixels = new Uint8ClampedArray(HEAPU8.buffer, rgba, 640 * 480 * 4);
    context.putImageData(new ImageData(pixels, 640, 480), 0, 0, x, y, w, h);
    Module['vnWork'] = {frames: frames, busy: busyMilliseconds};
    if (Module['onPicture']) Module['onPicture']();
});

EM_JS(void, vn_set_cursor, (int shown), {
    Module['canvas'].style.cursor = shown ? 'default' : 'none';
});

EM_ASYNC_JS(void, vn_wait, (int milliseconds), {
    await new Promise((resolve) => setTimeout(resolve, milliseconds));
});

// Returns when the page queues an event, or after `milliseconds` when that
// is not negative.
EM_ASYNC_JS(void, vn_wait_event, (int milliseconds), {
    await new Promise((resolve) => {
        const timer = milliseconds < 0 ? 0 : setTimeout(() => {
            Module['vnWake'] = null;
            resolve();
        }, milliseconds);
        Module['vnWake'] = () => { clearTimeout(timer); resolve(); };
    });
});
// clang-format on

struct Page {
    bool presenterOpen = false;
    double lastYield = 0;  // milliseconds on the browser's clock
    double busy = 0;       // milliseconds worked between waits, in all
    int frames = 0;        // pictures presented
    // The picture in the canvas's byte order (R, G, B, A), and the indices
    // and lookup it was made from, so that only what changed is sent.
    std::vector<std::uint32_t> rgba;
    std::vector<std::uint8_t> shown;
    std::uint32_t lookup[256] = {};
    std::uint32_t bytes[256] = {};  // the lookup in the canvas's byte order
    bool valid = false;
    int unchanged = 0;     // presents in a row of the picture already shown
    double nextBlank = 0;  // the browser's clock: the earliest next present
} page;

constexpr int kUnchangedBeforeRest = 12;
constexpr int kRestMilliseconds = 200;
constexpr double kBlankMilliseconds = 1000.0 / 60;

const double kStart = emscripten_get_now();

// Around each wait: the work since the last one is counted, the wait not.
void NoteWaitStart() {
    page.busy += emscripten_get_now() - page.lastYield;
}
void NoteYield() {
    page.lastYield = emscripten_get_now();
}

// Waits without a page (the program run under node) keep time on the spot.
void SpinFor(double milliseconds) {
    const double until = emscripten_get_now() + milliseconds;
    while (emscripten_get_now() < until) {
    }
}

}  // namespace

namespace web {

bool OnPage() {
    return vn_page_present() != 0;
}

void YieldIfBusy() {
    if (emscripten_get_now() - page.lastYield <= kMaxBusyMilliseconds) return;
    NoteWaitStart();
    vn_wait(0);
    NoteYield();
}

}  // namespace web

using web::OnPage;

namespace backend {

// The page takes no options, so it never replays a run unseen.
void ShowNothing() {}

bool TakeOptions(int argc, char** argv, const char** error) {
    if (argc > 0) {
        *error = argv[0];
        return false;
    }
    return true;
}

const char* OptionsHelp() {
    return "";
}

bool MarksShown(int asked) {
    return asked == 1;  // the page remembers its own choice
}

// The page scales the picture itself: the "screen" is the picture's size.
bool ScreenSize(int* width, int* height) {
    *width = kWidth;
    *height = kHeight;
    return true;
}

bool OpenWindow(const char* /*title*/) {
    if (OnPage()) web::AttachInput();
    return true;
}

void HideWindow() {}

void CloseWindow() {
    ClosePresenter();
}

void ShowCursor(bool shown) {
    if (OnPage()) vn_set_cursor(shown ? 1 : 0);
}

bool OpenPresenter() {
    page.presenterOpen = true;
    page.valid = false;
    page.rgba.assign(static_cast<size_t>(kWidth) * kHeight, 0xFF000000u);
    page.shown.assign(static_cast<size_t>(kWidth) * kHeight, 0);
    return true;
}

void ClosePresenter() {
    page.presenterOpen = false;
    page.valid = false;
}

// What changed of a new picture goes to the canvas at once; the page shows
// it at its next animation frame. Nothing waits for that frame (asking the
// browser for frames keeps it drawing them): the page paces its pictures
// itself, one new picture per 60th of a second at most. A play frame takes
// two of the counter's steps, so its picture never waits here.
//
// Each time the page wakes costs the browser about as much as the program's
// work in between, so a screen that does not change should wake it seldom.
// A menu screen presents one picture again and again, changing only when its
// prompt blinks or a key is pressed. Presents of the picture already shown
// return at once, and from the 12th in a row each waits for input, 200 ms at
// most: the page wakes five times a second, a key is seen at once, and a
// blink is at most a fifth of a second late. Play does not wait here: its
// pictures stay the same only while no jewel falls and the basket stands,
// and with no jewel falling one starts within four frames.
bool Present(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    if (!page.presenterOpen || !OnPage()) return false;
    const bool all = !page.valid || std::memcmp(page.lookup, lookup, sizeof page.lookup) != 0;
    if (all) {
        std::memcpy(page.lookup, lookup, sizeof page.lookup);
        // 0xFFRRGGBB becomes the bytes R, G, B, A of a little-endian word.
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t c = lookup[i];
            page.bytes[i] = 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
        }
    }
    // The changed span of each row; the rectangle around them all.
    int left = kWidth, right = -1, top = kHeight, bottom = -1;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* in = pixels + static_cast<size_t>(y) * pitch;
        std::uint8_t* was = page.shown.data() + static_cast<size_t>(y) * kWidth;
        int first, last;
        if (!TakeChangedSpan(in, was, all, &first, &last)) continue;
        std::uint32_t* out = page.rgba.data() + static_cast<size_t>(y) * kWidth;
        for (int x = first; x <= last; ++x) out[x] = page.bytes[in[x]];
        left = std::min(left, first);
        right = std::max(right, last);
        if (top == kHeight) top = y;
        bottom = y;
    }
    page.valid = true;
    if (bottom < 0) {
        if (++page.unchanged >= kUnchangedBeforeRest) {
            NoteWaitStart();
            vn_wait_event(kRestMilliseconds);
            NoteYield();
        }
        return true;
    }
    page.unchanged = 0;
    const double now = emscripten_get_now();
    if (now < page.nextBlank) {
        NoteWaitStart();
        vn_wait(static_cast<int>(std::ceil(page.nextBlank - now)));
        NoteYield();
    }
    page.nextBlank = std::max(now, page.nextBlank) + kBlankMilliseconds;
    vn_draw(page.rgba.data(), left, top, right - left + 1, bottom - top + 1, ++page.frames,
            page.busy + (emscripten_get_now() - page.lastYield));
    return true;
}

void WaitForEvent(int milliseconds) {
    if (!OnPage()) {
        SpinFor(milliseconds);
        return;
    }
    // Only a loop that polls keys and does nothing else waits here, and in a
    // page everything that could change its keys arrives as an event (keys,
    // buttons, the controllers' readings, the page losing focus). The core
    // asks to be woken after `milliseconds` for the sake of a desktop's
    // window; here the timer would only wake the page for nothing, so an
    // outcome screen waits for the player without a timer.
    (void)milliseconds;
    NoteWaitStart();
    vn_wait_event(-1);
    NoteYield();
}

std::uint64_t Microseconds() {
    return static_cast<std::uint64_t>((emscripten_get_now() - kStart) * 1000.0);
}

void SleepUntil(std::uint64_t microseconds) {
    const std::uint64_t now = Microseconds();
    if (microseconds <= now) return;
    // A wait of any length (a replayed run's counter may ask for days) is
    // cut to a minute, well inside an int of milliseconds: the core's
    // waits find the time not yet come and wait again.
    constexpr double kLongestWait = 60000.0;
    const double milliseconds =
        std::min(static_cast<double>(microseconds - now) / 1000.0, kLongestWait);
    if (!OnPage()) {
        SpinFor(milliseconds);
        return;
    }
    // Browser timers count whole milliseconds and never fire early.
    NoteWaitStart();
    vn_wait(static_cast<int>(std::ceil(milliseconds)));
    NoteYield();
}

// The page puts the sprite sheet at the top of the program's file system.
const char* ProgramDirectory() {
    return "/";
}

// The page has no terminal: the console of the browser (or node's) shows it.
void Say(const char* text, bool problem) {
    std::fputs(text, problem ? stderr : stdout);
}

}  // namespace backend
