// The Win32 backend's window and input under Wine (or Windows): messages
// sent to its real window as Windows sends them, and what comes of them.
// The settings' header before windows.h, whose near and far macros would
// take their names.
// clang-format off
#include "platform/desktop/settings.h"
#include "platform/win32/win32_backend.h"
// clang-format on

#include <gtest/gtest.h>

#include <string>

#include "platform/backend.h"

namespace {

using desktop::Rect;

// The events the backend gives the core, as "+39 -39" (down, up).
std::string Events() {
    std::string seen;
    backend::Event event;
    while (backend::PollEvent(&event)) {
        if (event.kind == backend::Event::KeyDown || event.kind == backend::Event::KeyUp)
            seen += (seen.empty() ? "" : " ") + std::string(event.kind ? "-" : "+") +
                    std::to_string(event.key);
    }
    return seen;
}

Rect Inside() {
    RECT r{};
    GetClientRect(win32::Window(), &r);
    POINT corner{0, 0};
    ClientToScreen(win32::Window(), &corner);
    return Rect{corner.x, corner.y, r.right, r.bottom};
}

std::string Text(const Rect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.w) + "x" +
           std::to_string(r.h);
}

// The game's window, in a window at a place of the test's.
class Win32Window : public testing::Test {
  protected:
    void SetUp() override {
        desktop::settings = desktop::Settings{};
        desktop::settings.window = true;
        desktop::settings.place = Rect{40, 30, 640, 480};
        ASSERT_TRUE(backend::OpenWindow("Vornackle"));
        Events();
    }
    void TearDown() override { backend::CloseWindow(); }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return SendMessageA(win32::Window(), message, wParam, lParam);
    }
};

// The execution state this thread asks for.
EXECUTION_STATE Asked() {
    const EXECUTION_STATE was = SetThreadExecutionState(ES_CONTINUOUS);
    SetThreadExecutionState(was | ES_CONTINUOUS);
    return was;
}

// A key let go while Alt is held (Right, then Alt as for Alt+Enter) is let
// go; one pressed with Alt held plays. Alt+Enter stays the switch's.
TEST_F(Win32Window, KeysGoUpAndDownWhileAltIsHeld) {
    constexpr LPARAM kAlt = 1 << 29, kUp = LPARAM(0xC0000000u);
    Send(WM_KEYDOWN, VK_RIGHT, 1);
    Send(WM_SYSKEYDOWN, VK_MENU, kAlt | 1);
    Send(WM_SYSKEYUP, VK_RIGHT, kAlt | kUp | 1);
    Send(WM_SYSKEYDOWN, VK_LEFT, kAlt | 1);
    Send(WM_KEYUP, VK_MENU, kUp | 1);
    Send(WM_KEYUP, VK_LEFT, kUp | 1);
    EXPECT_EQ("+39 -39 +37 -37", Events());
}

// While the game is in front neither the screen saver nor the display's
// sleep starts; behind another window they may.
TEST_F(Win32Window, NoScreenSaverWhileInFront) {
    Send(WM_ACTIVATEAPP, TRUE, 0);
    EXPECT_EQ(ES_CONTINUOUS | ES_DISPLAY_REQUIRED, Asked() & (ES_CONTINUOUS | ES_DISPLAY_REQUIRED));
    EXPECT_TRUE(win32::InputMessage(win32::Window(), WM_SYSCOMMAND, SC_SCREENSAVE, 0));
    EXPECT_TRUE(win32::InputMessage(win32::Window(), WM_SYSCOMMAND, SC_MONITORPOWER, 2));
    EXPECT_FALSE(win32::InputMessage(win32::Window(), WM_SYSCOMMAND, SC_MONITORPOWER, -1));
    Send(WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_EQ(ES_CONTINUOUS, Asked() & (ES_CONTINUOUS | ES_DISPLAY_REQUIRED));
}

// The window's inside is the place asked for; moved to a monitor of another
// scale it stays a whole multiple of the picture; a new resolution in full
// screen is covered; a maximised window is kept so, through the switches
// and into the next run, with the place it goes back to.
TEST_F(Win32Window, PlacesAreWholeMultiplesAndMaximisedIsKept) {
    const Rect place{40, 30, 640, 480};
    EXPECT_EQ(Text(place), Text(Inside()));
    RECT outer;
    GetWindowRect(win32::Window(), &outer);
    RECT suggested{outer.left, outer.top, outer.left + (outer.right - outer.left) * 3 / 2,
                   outer.top + (outer.bottom - outer.top) * 3 / 2};
    Send(WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    const Rect rescaled = Inside();
    EXPECT_TRUE(rescaled.w % 640 == 0 && rescaled.h * 4 == rescaled.w * 3) << Text(rescaled);
    EXPECT_EQ(Text(rescaled), Text(desktop::settings.place));

    win32::ToggleFullScreen();
    const HMONITOR monitor = MonitorFromWindow(win32::Window(), MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetMonitorInfoA(monitor, &info));
    SetWindowPos(win32::Window(), nullptr, 0, 0, 320, 200, SWP_NOZORDER);  // the old mode's
    Send(WM_DISPLAYCHANGE, 32, 0);
    RECT covered;
    GetWindowRect(win32::Window(), &covered);
    EXPECT_TRUE(EqualRect(&covered, &info.rcMonitor));
    win32::ToggleFullScreen();
    EXPECT_EQ(Text(rescaled), Text(Inside()));

    ShowWindow(win32::Window(), SW_MAXIMIZE);
    EXPECT_TRUE(desktop::settings.maximised);
    win32::ToggleFullScreen();
    win32::ToggleFullScreen();
    EXPECT_TRUE(IsZoomed(win32::Window()) && desktop::settings.maximised);
    EXPECT_EQ(Text(rescaled), Text(desktop::settings.place));
    backend::CloseWindow();
    EXPECT_TRUE(desktop::settings.maximised);
    ASSERT_TRUE(backend::OpenWindow("Vornackle"));
    EXPECT_TRUE(IsZoomed(win32::Window()));
    ShowWindow(win32::Window(), SW_RESTORE);
    EXPECT_FALSE(desktop::settings.maximised);
    EXPECT_EQ(Text(rescaled), Text(Inside()));
}

// XInput comes from the system's folder, never from a library of its name
// beside the program (the build puts one there).
TEST_F(Win32Window, XInputOnlyFromTheSystemsFolder) {
    Events();  // the controllers are first looked for
    wchar_t system[MAX_PATH], loaded[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    HMODULE xinput = GetModuleHandleW(L"xinput1_4.dll");
    ASSERT_NE(nullptr, xinput);
    ASSERT_NE(0u, GetModuleFileNameW(xinput, loaded, MAX_PATH));
    EXPECT_EQ(0, _wcsnicmp(system, loaded, length));
}

}  // namespace
