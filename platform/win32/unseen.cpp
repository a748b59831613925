// The console companion's backend (vornackle.com, console_main.cpp): what a
// run replayed unseen needs of the machine, and no more. No window, no
// picture shown, no sound, no input: a verification runs the same on a
// desktop, in a service, over ssh, or under Wine with no display at all.
// Its words go to the console it was started from, as a console program's do.
// The options, the settings and the marks are the desktop's
// (platform/desktop/options.cpp), so that --help and a mistyped option read
// as the game's own program says them.
#include <cstdio>
#include <string>

#include "platform/backend.h"
#include "platform/win32/win32_backend.h"

namespace {

struct Counter {
    LARGE_INTEGER frequency{}, start{};
    Counter() {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
    }
} counter;

}  // namespace

namespace backend {

// Nothing is on a screen, whatever size the machine's is.
bool ScreenSize(int* width, int* height) {
    *width = kPictureWidth;
    *height = kPictureHeight;
    return true;
}

bool OpenWindow(const char* /*title*/) {
    return true;
}
void HideWindow() {}
void CloseWindow() {}
void ShowCursor(bool /*shown*/) {}

bool OpenPresenter() {
    return true;
}
void ClosePresenter() {}
bool Present(const std::uint8_t* /*pixels*/, int /*pitch*/, const std::uint32_t /*lookup*/[256]) {
    return false;
}

// The file is the only input.
bool PollEvent(Event* /*event*/) {
    return false;
}
void WaitForEvent(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds > 0 ? milliseconds : 0));
}

std::uint64_t Microseconds() {
    return win32::MicrosecondsSince(counter.start, counter.frequency);
}

void SleepUntil(std::uint64_t microseconds) {
    const std::uint64_t now = Microseconds();
    if (now < microseconds) Sleep(static_cast<DWORD>((microseconds - now + 999) / 1000));
}

bool OpenAudio(int /*samplesPerSecond*/) {
    return false;
}
void PlaySound(const std::int16_t* /*samples*/, std::size_t /*count*/) {}

const char* ProgramDirectory() {
    static const std::string folder = [] {
        char path[MAX_PATH * 4];
        const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        if (length == 0 || length >= sizeof path) return std::string();
        std::string name(path, length);
        for (char& c : name) {
            if (c == '\\') c = '/';
        }
        return name.substr(0, name.rfind('/') + 1);
    }();
    return folder.c_str();
}

void Say(const char* text, bool problem) {
    std::FILE* to = problem ? stderr : stdout;
    std::fputs(text, to);
    std::fflush(to);
}

}  // namespace backend
