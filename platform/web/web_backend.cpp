// The web backend: the game compiled to WebAssembly and played in a page.
// The page (web/index.html) holds a 640 x 480 canvas; this file shows the
// core's pictures in it, takes the keyboard and the page's on-screen buttons,
// tells the browser's time and plays beeps through WebAudio.
//
// The game keeps its blocking loops. The program is built with ASYNCIFY, and
// each wait here (the counter's next step, the next animation frame, a key
// poll with nothing to do) hands control back to the browser until it is
// over, so the page draws, takes input and plays sound meanwhile.
//
// Without a page nothing is shown or heard and the waits keep time on the
// spot. (The tests under node link the headless backend instead.)
#include <emscripten.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/backend.h"

namespace {

constexpr int kWidth = backend::kPictureWidth;
constexpr int kHeight = backend::kPictureHeight;

// Longest the browser goes without control while the game runs: a loop that
// neither waits for the counter nor for a key still yields this often.
constexpr double kMaxBusyMilliseconds = 50;

// --- the page's side -----------------------------------------------------------
// Events travel from the page's listeners to PollEvent through a queue of
// numbers: the kind times 2^20 plus the key.

// clang-format off
EM_JS(int, vn_page_present, (), {
    return typeof document !== 'undefined' && !!Module['canvas'] ? 1 : 0;
});

EM_JS(void, vn_attach_input, (), {
    const keys = {ArrowLeft: 0x25, ArrowRight: 0x27, Enter: 0x0D, NumpadEnter: 0x0D,
                  Space: 0x20, Backspace: 0x08, Escape: 0x1B};
    const events = Module['vnEvents'] = [];
    const push = (kind, key) => {
        events.push(kind * 1048576 + key);
        const wake = Module['vnWake'];
        Module['vnWake'] = null;
        if (wake) wake();
    };
    // The page's on-screen buttons press keys through this.
    Module['vnKey'] = (vk, down) => push(down ? 0 : 1, vk);
    const onKey = (down) => (e) => {
        const vk = keys[e.code] || (e.key === ' ' ? 0x20 : keys[e.key]);
        if (!vk) return;
        // Arrows and Space must not scroll the page, Backspace must not go
        // back, and Enter or Space must not press a focused button.
        e.preventDefault();
        if (down && e.repeat) return;
        push(down ? 0 : 1, vk);
    };
    window.addEventListener('keydown', onKey(true), true);
    window.addEventListener('keyup', onKey(false), true);
    // A key let go while the page is not in front is never reported.
    window.addEventListener('blur', () => push(3, 0));
    document.addEventListener('visibilitychange', () => {
        if (document.hidden) push(3, 0);
    });
});

EM_JS(int, vn_next_event, (), {
    const events = Module['vnEvents'];
    return events && events.length ? events.shift() : -1;
});

EM_JS(void, vn_draw, (const void* rgba), {
    const canvas = Module['canvas'];
    const context = Module['vnContext'] || (Module['vnContext'] = canvas.getContext('2d'));
    const image = Module['vnImage'] || (Module['vnImage'] = context.createImageData(640, 480));
    image.data.set(HEAPU8.subarray(rgba, rgba + 640 * 480 * 4));
    context.putImageData(image, 0, 0);
    if (Module['onPicture']) Module['onPicture']();
});

EM_JS(void, vn_set_cursor, (int shown), {
    Module['canvas'].style.cursor = shown ? 'default' : 'none';
});

// Returns at the page's next animation frame; a hidden page has none, so a
// timer ends the wait too. The page learns how many pictures were presented
// and how long the program worked between its waits (for the figures of
// docs/PERFORMANCE.md).
EM_ASYNC_JS(void, vn_wait_frame, (int frames, double busyMilliseconds), {
    Module['vnWork'] = {frames: frames, busy: busyMilliseconds};
    await new Promise((resolve) => {
        const timer = setTimeout(resolve, 100);
        requestAnimationFrame(() => { clearTimeout(timer); resolve(); });
    });
});

EM_ASYNC_JS(void, vn_wait, (int milliseconds), {
    await new Promise((resolve) => setTimeout(resolve, milliseconds));
});

// Returns when the page queues an event or after `milliseconds`.
EM_ASYNC_JS(void, vn_wait_event, (int milliseconds), {
    await new Promise((resolve) => {
        const timer = setTimeout(() => { Module['vnWake'] = null; resolve(); }, milliseconds);
        Module['vnWake'] = () => { clearTimeout(timer); resolve(); };
    });
});

// Browsers keep sound off until the player touches a key or the screen: the
// context is made at once and started by the first such gesture.
EM_JS(int, vn_open_audio, (int rate), {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return 0;
    let context;
    try { context = new Context(); } catch (e) { return 0; }
    Module['vnAudio'] = {context: context, rate: rate, buffers: new Map(), playing: null};
    const start = () => { if (context.state !== 'running') context.resume(); };
    for (const name of ['keydown', 'pointerdown', 'touchstart']) {
        window.addEventListener(name, start, true);
    }
    return 1;
});

// The samples stay unchanged for the program's life: each beep's buffer is
// made once, on its first play.
EM_JS(void, vn_play, (const int16_t* samples, int count), {
    const audio = Module['vnAudio'];
    if (!audio || audio.context.state !== 'running') return;
    let buffer = audio.buffers.get(samples);
    if (!buffer) {
        buffer = audio.context.createBuffer(1, count, audio.rate);
        const out = buffer.getChannelData(0);
        const first = samples >> 1;
        for (let i = 0; i < count; ++i) out[i] = HEAP16[first + i] / 32768;
        audio.buffers.set(samples, buffer);
    }
    if (audio.playing) {
        try { audio.playing.stop(); } catch (e) {}
    }
    const source = audio.context.createBufferSource();
    source.buffer = buffer;
    source.connect(audio.context.destination);
    source.start();
    audio.playing = source;
});
// clang-format on

struct Page {
    bool inputAttached = false;
    bool presenterOpen = false;
    double lastYield = 0;  // milliseconds on the browser's clock
    double busy = 0;       // milliseconds worked between waits, in all
    int frames = 0;        // pictures presented
    // The picture in the canvas's byte order (R, G, B, A), and the indices
    // and lookup it was made from, so that an unchanged picture is not sent.
    std::vector<std::uint32_t> rgba;
    std::vector<std::uint8_t> shown;
    std::uint32_t lookup[256] = {};
    bool valid = false;
} page;

const double kStart = emscripten_get_now();

bool OnPage() {
    return vn_page_present() != 0;
}

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

// The page scales the picture itself: the "screen" is the picture's size.
bool ScreenSize(int* width, int* height) {
    *width = kWidth;
    *height = kHeight;
    return true;
}

bool OpenWindow(const char* /*title*/) {
    if (OnPage() && !page.inputAttached) {
        vn_attach_input();
        page.inputAttached = true;
    }
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

bool Present(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    if (!page.presenterOpen || !OnPage()) return false;
    const bool same =
        page.valid && SamePicture(page.shown.data(), page.lookup, pixels, pitch, lookup);
    // The menu screens present one picture again and again: it is sent to the
    // canvas once, though every present still waits for the frame.
    if (!same) {
        // 0xFFRRGGBB becomes the bytes R, G, B, A of a little-endian word.
        std::uint32_t bytes[256];
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t c = lookup[i];
            bytes[i] = 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
        }
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* in = pixels + static_cast<size_t>(y) * pitch;
            LookUpRow(in, bytes, page.rgba.data() + static_cast<size_t>(y) * kWidth);
            std::memcpy(page.shown.data() + static_cast<size_t>(y) * kWidth, in, kWidth);
        }
        std::memcpy(page.lookup, lookup, sizeof page.lookup);
        page.valid = true;
        vn_draw(page.rgba.data());
    }
    // The page shows the canvas at its next animation frame: that is this
    // display's vertical blank.
    NoteWaitStart();
    vn_wait_frame(++page.frames, page.busy);
    NoteYield();
    return true;
}

bool PollEvent(Event* event) {
    if (!OnPage()) return false;
    // A loop that calls nothing that waits still lets the page draw and take
    // input now and then.
    if (emscripten_get_now() - page.lastYield > kMaxBusyMilliseconds) {
        NoteWaitStart();
        vn_wait(0);
        NoteYield();
    }
    const int next = vn_next_event();
    if (next < 0) return false;
    event->kind = static_cast<Event::Kind>(next >> 20);
    event->key = next & 0xFFFFF;
    return true;
}

void WaitForEvent(int milliseconds) {
    if (!OnPage()) {
        SpinFor(milliseconds);
        return;
    }
    NoteWaitStart();
    vn_wait_event(milliseconds);
    NoteYield();
}

std::uint64_t Microseconds() {
    return static_cast<std::uint64_t>((emscripten_get_now() - kStart) * 1000.0);
}

void SleepUntil(std::uint64_t microseconds) {
    const std::uint64_t now = Microseconds();
    if (microseconds <= now) return;
    const double milliseconds = static_cast<double>(microseconds - now) / 1000.0;
    if (!OnPage()) {
        SpinFor(milliseconds);
        return;
    }
    // Browser timers count whole milliseconds and never fire early.
    NoteWaitStart();
    vn_wait(static_cast<int>(std::ceil(milliseconds)));
    NoteYield();
}

bool OpenAudio(int samplesPerSecond) {
    return OnPage() && vn_open_audio(samplesPerSecond) != 0;
}

void PlaySound(const std::int16_t* samples, std::size_t count) {
    if (OnPage()) vn_play(samples, static_cast<int>(count));
}

// The page puts the sprite sheet at the top of the program's file system.
const char* ProgramDirectory() {
    return "/";
}

}  // namespace backend
