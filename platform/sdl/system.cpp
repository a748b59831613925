// The SDL2 backend's clock, sound, program folder and messages.
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/backend.h"
#include "platform/desktop/settings.h"
#include "platform/sdl/sdl_backend.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kStart = Clock::now();

// One sound at a time, played from the caller's samples by SDL's audio
// thread; a new sound cuts the one still sounding. Mixed by hand rather than
// queued, so that a beep allocates nothing.
struct Audio {
    bool tried = false;
    SDL_AudioDeviceID device = 0;
    const std::int16_t* samples = nullptr;
    std::size_t count = 0;
    std::size_t position = 0;

    // The device's thread reads the samples until the device is closed, so it
    // is closed before anything it reads goes at exit.
    ~Audio() {
        if (device != 0) SDL_CloseAudioDevice(device);
    }
} audio;

void Fill(void* /*userdata*/, Uint8* stream, int bytes) {
    auto* out = reinterpret_cast<std::int16_t*>(stream);
    std::size_t wanted = static_cast<std::size_t>(bytes) / sizeof(std::int16_t);
    for (std::size_t i = 0; i < wanted; ++i) {
        out[i] = audio.position < audio.count ? audio.samples[audio.position++] : 0;
    }
}

}  // namespace

namespace backend {

std::uint64_t Microseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - kStart).count());
}

void SleepUntil(std::uint64_t microseconds) {
    std::this_thread::sleep_until(kStart + std::chrono::microseconds(microseconds));
}

bool OpenAudio(int samplesPerSecond) {
    if (audio.tried) return audio.device != 0;
    audio.tried = true;
    if (desktop::showNothing) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec want{};
    want.freq = samplesPerSecond;
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    want.samples = 512;
    want.callback = Fill;
    audio.device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (audio.device == 0) return false;
    SDL_PauseAudioDevice(audio.device, 0);
    return true;
}

void PlaySound(const std::int16_t* samples, std::size_t count) {
    if (audio.device == 0) return;
    SDL_LockAudioDevice(audio.device);
    audio.samples = samples;
    audio.count = count;
    audio.position = 0;
    SDL_UnlockAudioDevice(audio.device);
}

const char* ProgramDirectory() {
    static char* base = SDL_GetBasePath();  // ends in '/', or null
    return base != nullptr ? base : "";
}

}  // namespace backend

namespace backend {

void Say(const char* text, bool problem) {
    std::fputs(text, problem ? stderr : stdout);
}

}  // namespace backend
