// System beeps (MessageBeep): four short tones of our own making, played by
// the backend's sound device; silent when there is none.
#include <cmath>

#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/run.h"

namespace standin {

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

// The backend's device plays from these until the process is gone, after
// every static destructor: they are made once and never freed.
struct Audio {
    bool tried = false;
    bool open = false;
    std::vector<std::int16_t>* samples = new std::vector<std::int16_t>[kToneCount];
} audio;

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
    if (audio.tried) return audio.open;
    audio.tried = true;
    for (int i = 0; i < kToneCount; ++i) Synthesize(kTones[i], &audio.samples[i]);
    audio.open = backend::OpenAudio(kRate);
    return audio.open;
}

}  // namespace

void PrepareSound() {
    OpenAudio();
}

bool BeepOfSamples(const std::int16_t* samples, UINT* type) {
    for (int i = 0; i < kToneCount; ++i) {
        if (samples == nullptr || audio.samples[i].data() != samples) continue;
        *type = kTones[i].type;
        return true;
    }
    return false;
}

}  // namespace standin

using namespace standin;

BOOL WINAPI MessageBeep(UINT type) {
    const ApiCall call(Entry::MessageBeep);
    int tone = -1;
    for (int i = 0; i < kToneCount; ++i) {
        if (kTones[i].type == type) tone = i;
    }
    if (tone < 0) {
        call.Unsupported(
            "only MB_OK, MB_ICONASTERISK, MB_ICONEXCLAMATION and MB_ICONHAND are "
            "supported, got 0x%X",
            type);
    }
    if (runs::mode != runs::Mode::Off) runs::NoteBeep(type);
    // A new beep cuts the one still sounding, so beeps never pile up.
    if (OpenAudio()) backend::PlaySound(audio.samples[tone].data(), audio.samples[tone].size());
    return TRUE;
}
