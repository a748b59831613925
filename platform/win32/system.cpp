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

// `wide` in the ANSI code page; "" when a letter of it has no place there.
std::string Narrow(const std::wstring& wide) {
    const UINT page = GetACP();
    // UTF-8 has a place for every letter, and takes no question of it.
    BOOL lost = FALSE;
    BOOL* ask = page == CP_UTF8 ? nullptr : &lost;
    const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n =
        WideCharToMultiByte(page, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr, ask);
    if (n <= 0 || lost) return "";
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(page, flags, wide.data(), int(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

}  // namespace

namespace backend {

std::uint64_t Microseconds() {
    return win32::MicrosecondsSince(clock.start, clock.frequency);
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

// The program's folder as the C library's file calls take it: in the ANSI
// code page, which the manifest makes UTF-8 on Windows 10 1903 and later.
// A folder with letters outside an older Windows' code page ("Łukasz" under
// 1252) is named by its short form, which has none.
const char* ProgramDirectory() {
    static const std::string folder = [] {
        std::wstring path(32768, L'\0');
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
        if (length == 0 || length >= path.size()) return std::string();
        path.resize(path.rfind(L'\\', length) + 1);
        std::string name = Narrow(path);
        if (name.empty()) {
            std::wstring brief(32768, L'\0');
            const DWORD n = GetShortPathNameW(path.c_str(), &brief[0], DWORD(brief.size()));
            if (n > 0 && n < brief.size()) name = Narrow(brief.substr(0, n));
        }
        for (char& c : name) {
            if (c == '\\') c = '/';  // Windows takes either
        }
        return name;
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
