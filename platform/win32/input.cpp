// The Win32 backend's input: the keyboard's game keys from the window's
// messages, controllers through XInput (mapped as
// platform/desktop/controller.h says), close requests, focus changes and the
// switch between full screen and a window; and the wait for any of them.

// windows.h before the header that builds on it.
// clang-format off
#include "platform/win32/win32_backend.h"
#include <xinput.h>
// clang-format on

#include <initializer_list>
#include <string>

#include "platform/backend.h"
#include "platform/desktop/controller.h"

namespace {

int GameKey(WPARAM key) {
    switch (key) {
        case VK_LEFT:
        case VK_RIGHT:
        case VK_RETURN:
        case VK_SPACE:
        case VK_BACK:
        case VK_ESCAPE:
        case 'M':  // the jewels' marks
            return static_cast<int>(key);
        default:
            return 0;
    }
}

// XInput, from whichever of its libraries this Windows has (loaded when
// first asked, so that the program starts on a Windows with none of them),
// and only from the system's folder: a file of that name beside the program
// or in the working folder is never loaded.
using GetState = DWORD(WINAPI*)(DWORD, XINPUT_STATE*);
GetState getState = nullptr;
bool xinputTried = false;

struct Controller {
    bool connected = false;
    DWORD packet = 0;
    WORD buttons = 0;
    DWORD lastLook = 0;  // when an empty slot was last looked at
};
Controller controllers[XUSER_MAX_COUNT];
DWORD lastPoll = 0;
bool anyConnected = false;

void LoadXInput() {
    xinputTried = true;
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 20) return;
    for (const wchar_t* name : {L"xinput1_4.dll", L"xinput1_3.dll", L"xinput9_1_0.dll"}) {
        const std::wstring path = std::wstring(system) + L"\\" + name;
        if (HMODULE library =
                LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
            getState = reinterpret_cast<GetState>(
                reinterpret_cast<void*>(GetProcAddress(library, "XInputGetState")));
            if (getState != nullptr) return;
            FreeLibrary(library);
        }
    }
}

const struct {
    WORD bit;
    desktop::Pad part;
} kButtons[] = {{XINPUT_GAMEPAD_DPAD_LEFT, desktop::Pad::DpadLeft},
                {XINPUT_GAMEPAD_DPAD_RIGHT, desktop::Pad::DpadRight},
                {XINPUT_GAMEPAD_A, desktop::Pad::A},
                {XINPUT_GAMEPAD_B, desktop::Pad::B},
                {XINPUT_GAMEPAD_BACK, desktop::Pad::Back}};

// Reads the controllers at most every 8 ms; an empty slot only every two
// seconds, since asking one costs as much as a frame's work.
void PollControllers() {
    if (!xinputTried) LoadXInput();
    if (getState == nullptr) return;
    const DWORD now = GetTickCount();
    if (now - lastPoll < 8) return;
    lastPoll = now;
    anyConnected = false;
    for (DWORD slot = 0; slot < XUSER_MAX_COUNT; ++slot) {
        Controller& c = controllers[slot];
        if (!c.connected && c.lastLook != 0 && now - c.lastLook < 2000) continue;
        c.lastLook = now;
        XINPUT_STATE state{};
        if (getState(slot, &state) != ERROR_SUCCESS) {
            if (c.connected) desktop::LetGo(static_cast<int>(slot));
            c = Controller{};
            c.lastLook = now;
            continue;
        }
        c.connected = anyConnected = true;
        if (state.dwPacketNumber == c.packet) continue;
        c.packet = state.dwPacketNumber;
        const WORD changed = state.Gamepad.wButtons ^ c.buttons;
        for (const auto& button : kButtons) {
            if ((changed & button.bit) != 0)
                desktop::PressPad(static_cast<int>(slot), button.part,
                                  (state.Gamepad.wButtons & button.bit) != 0);
        }
        c.buttons = state.Gamepad.wButtons;
        desktop::Stick(static_cast<int>(slot), state.Gamepad.sThumbLX);
    }
}

}  // namespace

namespace win32 {

bool InputMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool repeat = (lParam & (1L << 30)) != 0;
    switch (message) {
        case WM_CLOSE:
            desktop::Queue({backend::Event::Close, 0});
            return true;
        case WM_ACTIVATEAPP:
            // While the game is in front, neither the screen saver nor the
            // display's sleep starts: a controller is no input Windows sees.
            SetThreadExecutionState(
                wParam ? ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
            // Keys held now will never be reported released.
            if (!wParam) desktop::FocusLost();
            return false;
        case WM_KEYDOWN:
            if (wParam == VK_F11) {
                if (!repeat) ToggleFullScreen();
                return true;
            }
            desktop::Press(static_cast<desktop::Source>(wParam), GameKey(wParam), true);
            return true;
        case WM_KEYUP:
        case WM_SYSKEYUP:  // let go while Alt is held (as for Alt+Enter)
            desktop::Press(static_cast<desktop::Source>(wParam), GameKey(wParam), false);
            return true;
        case WM_SYSKEYDOWN:
            // The Enter of Alt+Enter is not the game's.
            if (wParam == VK_RETURN) {
                if (!repeat) ToggleFullScreen();
                return true;
            }
            // Alt+F4 closes as Windows makes it.
            if (wParam == VK_F4) return false;
            // Any other key plays with Alt held too; a lone Alt or F10 must
            // not open the (missing) menu and stop the game.
            desktop::Press(static_cast<desktop::Source>(wParam), GameKey(wParam), true);
            return true;
        case WM_SYSCHAR:
            return true;  // or Windows beeps for the Enter of Alt+Enter
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_KEYMENU:
                case SC_SCREENSAVE:
                    return true;
                case SC_MONITORPOWER:  // to sleep, not to wake
                    return lParam != -1;
                default:
                    return false;
            }
        default:
            return false;
    }
}

}  // namespace win32

namespace backend {

bool PollEvent(Event* event) {
    PollControllers();
    MSG message;
    while (!desktop::EventWaiting() && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            desktop::Queue({Event::Close, 0});
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return desktop::TakeEvent(event);
}

void WaitForEvent(int milliseconds) {
    if (desktop::EventWaiting()) return;
    // A connected controller is read every frame; nothing else wakes for it.
    const DWORD wait = anyConnected && milliseconds > 16 ? 16 : static_cast<DWORD>(milliseconds);
    MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

}  // namespace backend
