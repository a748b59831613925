// The Win32 backend's clock and waits, sound, the program's folder, and
// messages to the person who started it.

// The desktop's settings before windows.h, whose near and far macros would
// take their names; windows.h before the header that builds on it.
// clang-format off
#include "platform/desktop/settings.h"
#include "platform/win32/win32_backend.h"
#include <mmsystem.h>
// clang-format on
#undef PlaySound  // the backend's, not the system's

#include <string>

#include "platform/backend.h"

namespace {

// --- the clock -------------------------------------------------------------
struct Clock {
    LARGE_INTEGER frequency{}, start{};
    HANDLE timer = nullptr;
    Clock() {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        // A high-resolution waitable timer (Windows 10 1803 and later) sleeps
        // to within a fraction of a millisecond; elsewhere the system timer's
        // period goes to 1 ms for the program's life.
        constexpr DWORD kHighResolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
        timer = CreateWaitableTimerExA(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
        if (timer == nullptr) timeBeginPeriod(1);
    }
    ~Clock() {
        if (timer != nullptr) {
            CloseHandle(timer);
        } else {
            timeEndPeriod(1);
        }
    }
} clock;

// --- sound -----------------------------------------------------------------
// One sound at a time through waveOut; a new sound cuts the one still
// sounding. The samples are the caller's and stay put, so nothing is copied.
struct Audio {
    bool tried = false;
    HWAVEOUT device = nullptr;
    WAVEHDR header{};
    bool prepared = false;
    ~Audio() {
        if (device == nullptr) return;
        waveOutReset(device);
        if (prepared) waveOutUnprepareHeader(device, &header, sizeof header);
        waveOutClose(device);
    }
} audio;

}  // namespace

namespace backend {

std::uint64_t Microseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::uint64_t ticks = static_cast<std::uint64_t>(now.QuadPart - clock.start.QuadPart);
    const std::uint64_t perSecond = static_cast<std::uint64_t>(clock.frequency.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}

void SleepUntil(std::uint64_t microseconds) {
    for (;;) {
        const std::uint64_t now = Microseconds();
        if (now >= microseconds) return;
        const std::uint64_t left = microseconds - now;
        if (clock.timer != nullptr) {
            LARGE_INTEGER due;
            due.QuadPart = -static_cast<LONGLONG>(left * 10);  // relative, in 100 ns
            if (SetWaitableTimer(clock.timer, &due, 0, nullptr, nullptr, FALSE)) {
                WaitForSingleObject(clock.timer, INFINITE);
                continue;
            }
        }
        // With a 1 ms system timer Sleep(n) takes n to n + 1 ms.
        Sleep(left >= 2000 ? static_cast<DWORD>(left / 1000) : 1);
    }
}

bool OpenAudio(int samplesPerSecond) {
    if (audio.tried) return audio.device != nullptr;
    audio.tried = true;
    if (desktop::showNothing) return false;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = static_cast<DWORD>(samplesPerSecond);
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = format.nSamplesPerSec * 2;
    if (waveOutOpen(&audio.device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        audio.device = nullptr;
        return false;
    }
    return true;
}

void PlaySound(const std::int16_t* samples, std::size_t count) {
    if (audio.device == nullptr || count == 0) return;
    waveOutReset(audio.device);
    if (audio.prepared) waveOutUnprepareHeader(audio.device, &audio.header, sizeof audio.header);
    audio.header = WAVEHDR{};
    audio.header.lpData = reinterpret_cast<LPSTR>(const_cast<std::int16_t*>(samples));
    audio.header.dwBufferLength = static_cast<DWORD>(count * sizeof *samples);
    audio.prepared =
        waveOutPrepareHeader(audio.device, &audio.header, sizeof audio.header) == MMSYSERR_NOERROR;
    if (audio.prepared) waveOutWrite(audio.device, &audio.header, sizeof audio.header);
}

const char* ProgramDirectory() {
    static const std::string folder = [] {
        char path[MAX_PATH * 4];
        const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        if (length == 0 || length >= sizeof path) return std::string();
        std::string name(path, length);
        for (char& c : name) {
            if (c == '\\') c = '/';  // Windows takes either
        }
        return name.substr(0, name.rfind('/') + 1);
    }();
    return folder.c_str();
}

void Say(const char* text, bool problem) {
    // Started from a console or with its output redirected: written there,
    // as a console program would. Started from Explorer or a shortcut: a
    // message box, as Windows programs say it.
    HANDLE out = GetStdHandle(problem ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    bool console =
        out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
    if (!console && AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr);
        console = out != INVALID_HANDLE_VALUE;
    }
    const DWORD length = static_cast<DWORD>(std::char_traits<char>::length(text));
    DWORD written = 0;
    if (console && WriteFile(out, text, length, &written, nullptr)) return;
    MessageBoxA(nullptr, text, "Vornackle", MB_OK | (problem ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace backend
