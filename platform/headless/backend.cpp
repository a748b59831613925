// The headless backend, linked into the tests in place of a real one: a
// display nobody sees whose pictures are kept (their checksum and colours),
// no input but what the tests script through the seam, beeps kept by type,
// and the machine's own clock for the tests that run on it.
#include "platform/backend.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/core/core.h"
#include "platform/headless/captures.h"

namespace headless {

namespace {

// The screen's size: the dummy display of the desktop's tests had it too.
constexpr int kScreenWidth = 1024, kScreenHeight = 768;

const auto kStart = std::chrono::steady_clock::now();

std::uint32_t Checksum(const std::uint8_t* pixels, int pitch) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (int y = 0; y < backend::kPictureHeight; ++y) {
        const std::uint8_t* row = pixels + static_cast<size_t>(y) * pitch;
        for (int x = 0; x < backend::kPictureWidth; ++x) hash = (hash ^ row[x]) * 16777619u;
    }
    return hash;
}

}  // namespace

}  // namespace headless

using headless::captures;

namespace backend {

void ShowNothing() {}  // nothing is ever shown here

bool TakeOptions(int argc, char** argv, const char** error) {
    if (argc == 0) return true;
    *error = argv[0];
    return false;
}

const char* OptionsHelp() {
    return "";
}

bool MarksShown(int asked) {
    return asked == 1;
}

bool ScreenSize(int* width, int* height) {
    *width = headless::kScreenWidth;
    *height = headless::kScreenHeight;
    return true;
}

bool OpenWindow(const char* /*title*/) {
    return true;
}
void HideWindow() {}
void CloseWindow() {
    ClosePresenter();
}
void ShowCursor(bool /*shown*/) {}

bool OpenPresenter() {
    // A run that follows only the texts keeps no picture: nothing to fill.
    if (captures.textsOnly) return true;
    captures.argb.assign(static_cast<size_t>(kPictureWidth) * kPictureHeight, 0xFF000000u);
    return true;
}

void ClosePresenter() {
    captures.argb.clear();
}

bool Present(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    // Runs of thousands of sessions that follow only the texts skip the rest.
    if (captures.textsOnly || captures.argb.empty()) return false;
    captures.checksum = headless::Checksum(pixels, pitch);
    for (int y = 0; y < kPictureHeight; ++y) {
        LookUpRow(pixels + static_cast<size_t>(y) * pitch, lookup,
                  captures.argb.data() + static_cast<size_t>(y) * kPictureWidth);
    }
    return false;
}

bool PollEvent(Event* event) {
    if (captures.events.empty()) return false;
    *event = captures.events.front();
    captures.events.erase(captures.events.begin());
    return true;
}

void WaitForEvent(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint64_t Microseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - headless::kStart)
                                          .count());
}

void SleepUntil(std::uint64_t microseconds) {
    std::this_thread::sleep_until(headless::kStart + std::chrono::microseconds(microseconds));
}

bool OpenAudio(int /*samplesPerSecond*/) {
    return true;
}

void PlaySound(const std::int16_t* samples, std::size_t count) {
    // A sound that is none of the beeps' tones, or an empty one, is no beep.
    UINT type = 0;
    if (count == 0 || !standin::BeepOfSamples(samples, &type)) type = ~0u;
    captures.beeps.push_back(type);
}

const char* ProgramDirectory() {
    static std::string dir;
    dir = captures.programDir;
#ifndef _WIN32  // the tests under Wine find their files in the working folder
    if (dir.empty()) {
        char path[4096];
        const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
        if (length > 0) {
            dir.assign(path, static_cast<size_t>(length));
            dir.erase(dir.find_last_of('/') + 1);
        }
    }
#endif
    return dir.c_str();
}

void Say(const char* text, bool problem) {
    std::fputs(text, problem ? stderr : stdout);
}

}  // namespace backend
