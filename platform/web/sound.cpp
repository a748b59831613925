// The program's beeps, through the browser's WebAudio.
#include <emscripten.h>

#include <cstddef>
#include <cstdint>

#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/web/page.h"

namespace {

// clang-format off
// Browsers keep sound off until the player touches a key or the screen: the
// context is made at once and allowed to run by the first such gesture. It
// runs only while a beep plays: a running context keeps the machine's sound
// going (silence included) and costs a few per cent of a core. It asks for
// 20 ms buffers rather than the browser's shortest: a beep starts some 40 ms
// later, and the sound costs the browser a fraction of what it did.
EM_JS(int, vn_open_audio, (int rate), {
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return 0;
    let context;
    try { context = new Context({latencyHint: 0.02}); } catch (e) { return 0; }
    const audio = Module['vnAudio'] =
        {context: context, rate: rate, buffers: new Map(), playing: null, allowed: false};
    const allow = () => {
        if (audio.allowed) return;
        context.resume().then(() => {
            audio.allowed = true;
            if (!audio.playing) context.suspend();
        }, () => {});
    };
    for (const name of ['keydown', 'pointerdown', 'touchstart']) {
        window.addEventListener(name, allow, true);
    }
    return 1;
});

// The samples stay unchanged for the program's life: each beep's buffer is
// made once, on its first play.
EM_JS(void, vn_play, (const int16_t* samples, int count), {
    const audio = Module['vnAudio'];
    if (!audio || !audio.allowed || Module['soundOff']) return;
    const context = audio.context;
    let buffer = audio.buffers.get(samples);
    if (!buffer) {
        buffer = context.createBuffer(1, count, audio.rate);
        const out = buffer.getChannelData(0);
        const first = samples >> 1;
        for (let i = 0; i < count; ++i) out[i] = HEAP16[first + i] / 32768;
        audio.buffers.set(samples, buffer);
    }
    if (audio.playing) {
        try { audio.playing.stop(); } catch (e) {}
    }
    const source = context.createBufferSource();
    source.buffer = buffer;
    source.connect(context.destination);
    source.onended = () => {
        if (audio.playing !== source) return;
        audio.playing = null;
        context.suspend();
    };
    audio.playing = source;
    source.start();
    if (context.state !== 'running') context.resume();
});
// A game was completed (its outcome's beep): the page may offer to submit
// the run to a hall of fame.
EM_JS(void, vn_game_complete, (), {
    if (Module['onGameComplete']) Module['onGameComplete']();
});
// clang-format on

}  // namespace

namespace backend {

// Beeps reach PlaySound in a page without WebAudio too (silent there): the
// page learns of a completed game from its beep.
bool OpenAudio(int samplesPerSecond) {
    if (!web::OnPage()) return false;
    vn_open_audio(samplesPerSecond);
    return true;
}

void PlaySound(const std::int16_t* samples, std::size_t count) {
    if (!web::OnPage()) return;
    vn_play(samples, static_cast<int>(count));
    UINT type = 0;
    if (standin::BeepOfSamples(samples, &type) && type == MB_ICONEXCLAMATION) vn_game_complete();
}

}  // namespace backend
