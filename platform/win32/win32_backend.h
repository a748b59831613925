// What the Win32 backend's files share: the window and its picture.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace win32 {

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
