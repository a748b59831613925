// The entry function, the window procedure and the message loop that calls
// the game's FrameStep on every iteration.
#include <cstdio>

#include "game/game_data.h"
#include "shell/shell.h"

namespace {

// The only diagnostic the program has: without a window or a display there
// is nothing to show, and a failure must not pass for a normal exit.
int Fail(const char* why) {
#ifndef _WIN32
    fprintf(stderr, "vornackle: %s\n", why);
#else
    (void)why;
#endif
    return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    appInstance = instance;

    char unknown[48];
    if (!TakeCommandLine(commandLine, unknown, sizeof unknown)) {
        char why[96];
        snprintf(why, sizeof why, "unknown option '%s'", unknown);
        Fail(why);
        return 2;
    }

    WNDCLASSA windowClass = {};
    windowClass.style = CS_DBLCLKS | CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = "TORVACLASS";
    if (!RegisterClassA(&windowClass)) return Fail("cannot register the window class");

    HWND window = CreateWindowExA(0, "TORVACLASS", "TORVA Game Console", WS_POPUP | WS_VISIBLE, 0,
                                  0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return Fail("cannot create the window (no display?)");

    ShowCursor(FALSE);
    mainWindow = window;

    StartUp();

    // Never blocks: the game runs one step per iteration, message or not.
    MSG message = {};
    for (;;) {
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) break;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        FrameStep();
    }

    ShowCursor(TRUE);
    // The game gave up (no display, or one that takes no pictures).
    if (gameData.failure != nullptr) return Fail(gameData.failure);
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_PAINT: {
            // Validates the window; nothing is drawn through it.
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
