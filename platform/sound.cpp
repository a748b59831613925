// System beeps (MessageBeep): four short tones of our own making, queued on
// an SDL audio device; silent when there is no device.
#include <cmath>

#include "platform/standin_internal.h"

namespace standin {

std::vector<UINT> beeps;

namespace {

constexpr int kRate = 22050;

struct Note {
    double hertz;
    int ms;
    bool square;  // a harsher square wave for the failure beep
};

// One tone per beep type: a short ping for a catch, a rising pair for a
// completed level, a rising triad for the completed game, a low buzz for a
// failed attempt.
struct Tone {
    UINT type;
    Note notes[3];
    int noteCount;
};
constexpr Tone kTones[] = {
    {MB_OK, {{1320, 90, false}}, 1},
    {MB_ICONASTERISK, {{660, 110, false}, {990, 130, false}}, 2},
    {MB_ICONEXCLAMATION, {{523, 80, false}, {659, 80, false}, {784, 110, false}}, 3},
    {MB_ICONHAND, {{196, 240, true}}, 1},
};
constexpr int kToneCount = sizeof kTones / sizeof kTones[0];

struct Audio {
    bool tried = false;
    SDL_AudioDeviceID device = 0;
    std::vector<std::int16_t> samples[kToneCount];
    // The tone now sounding and how far it got; the callback reads them
    // under the device lock.
    const std::vector<std::int16_t>* playing = nullptr;
    size_t position = 0;

    // The device's thread keeps calling Fill until the device is closed, so
    // it is closed before the tones it reads are destroyed at exit.
    ~Audio() {
        if (device != 0) SDL_CloseAudioDevice(device);
    }
} audio;

// Plays the current tone, then silence. Beeps are mixed by hand rather than
// queued so that a beep allocates nothing.
void Fill(void* /*userdata*/, Uint8* stream, int bytes) {
    auto* out = reinterpret_cast<std::int16_t*>(stream);
    size_t count = static_cast<size_t>(bytes) / sizeof(std::int16_t);
    for (size_t i = 0; i < count; ++i) {
        if (audio.playing != nullptr && audio.position < audio.playing->size()) {
            out[i] = (*audio.playing)[audio.position++];
        } else {
            out[i] = 0;
        }
    }
}

void Synthesize(const Tone& tone, std::vector<std::int16_t>* out) {
    const double pi = 3.14159265358979323846;
    for (int n = 0; n < tone.noteCount; ++n) {
        const Note& note = tone.notes[n];
        int count = kRate * note.ms / 1000;
        int fade = kRate * 5 / 1000;  // 5 ms ramps keep the edges from clicking
        for (int i = 0; i < count; ++i) {
            double phase = 2.0 * pi * note.hertz * i / kRate;
            double wave = note.square ? (std::sin(phase) >= 0 ? 0.6 : -0.6) : std::sin(phase);
            double envelope = 1.0;
            if (i < fade) envelope = static_cast<double>(i) / fade;
            if (count - i < fade) envelope = static_cast<double>(count - i) / fade;
            out->push_back(static_cast<std::int16_t>(wave * envelope * 9000));
        }
    }
}

bool OpenAudio() {
    if (audio.tried) return audio.device != 0;
    audio.tried = true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec want{};
    want.freq = kRate;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 512;
    want.callback = Fill;
    audio.device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (audio.device == 0) return false;
    for (int i = 0; i < kToneCount; ++i) Synthesize(kTones[i], &audio.samples[i]);
    SDL_PauseAudioDevice(audio.device, 0);
    return true;
}

}  // namespace

void PrepareSound() {
    OpenAudio();
}

}  // namespace standin

using namespace standin;

BOOL WINAPI MessageBeep(UINT type) {
    int tone = -1;
    for (int i = 0; i < kToneCount; ++i) {
        if (kTones[i].type == type) tone = i;
    }
    if (tone < 0) {
        Unsupported("MessageBeep",
                    "only MB_OK, MB_ICONASTERISK, MB_ICONEXCLAMATION and MB_ICONHAND are "
                    "supported, got 0x%X",
                    type);
    }
    if (seamState.active) beeps.push_back(type);
    if (OpenAudio()) {
        // A new beep cuts the one still sounding, so beeps never pile up.
        SDL_LockAudioDevice(audio.device);
        audio.playing = &audio.samples[tone];
        audio.position = 0;
        SDL_UnlockAudioDevice(audio.device);
    }
    return TRUE;
}
