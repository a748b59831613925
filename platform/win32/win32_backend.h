// What the Win32 backend's files share: the window and its picture.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

namespace win32 {

// Microseconds since `start` on the performance counter, without the
// overflow a plain ticks * 1000000 would reach after a few hours.
inline std::uint64_t MicrosecondsSince(const LARGE_INTEGER& start, const LARGE_INTEGER& frequency) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::uint64_t ticks = static_cast<std::uint64_t>(now.QuadPart - start.QuadPart);
    const std::uint64_t perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}

HWND Window();
// The window procedure's part for the picture: the window was uncovered,
// resized or moved to another monitor, so the last picture is drawn again
// (the game may be waiting for a key and present nothing new for long).
void RedrawPicture();
// The window's inside changed size: the presenter's bitmap follows.
void WindowResized();
// Between full screen and a window, keeping the picture (Alt+Enter, F11).
void ToggleFullScreen();
// The window procedure's part for input: true when it took the message.
bool InputMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace win32
