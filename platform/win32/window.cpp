// The Win32 backend's window: borderless over the whole monitor by default
// (a WS_POPUP window of the monitor's size: the display's mode is never
// changed, so Alt+Tab is instant and no other window moves), or a window
// whose inside is a whole multiple of the picture; the switch between the
// two; the cursor; and the window procedure. Whether it is a window and where
// are remembered between runs (platform/desktop/settings.h).
#include <vector>

#include "platform/backend.h"
#include "platform/desktop/settings.h"
#include "platform/win32/win32_backend.h"

namespace {

constexpr char kClassName[] = "VornackleWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
constexpr DWORD kFullStyle = WS_POPUP | WS_VISIBLE;

HWND window = nullptr;
bool fullScreen = false;
bool cursorShown = true;

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(monitor, &info)) {
        const RECT& r = info.rcWork;
        reinterpret_cast<std::vector<desktop::Rect>*>(list)->push_back(
            desktop::Rect{r.left, r.top, r.right - r.left, r.bottom - r.top});
    }
    return TRUE;
}

// The usable part of every monitor, the primary one first.
std::vector<desktop::Rect> UsableScreens() {
    std::vector<desktop::Rect> screens;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&screens));
    const POINT origin{0, 0};
    MONITORINFO primary{};
    primary.cbSize = sizeof primary;
    if (GetMonitorInfoA(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &primary)) {
        for (size_t i = 0; i < screens.size(); ++i) {
            if (screens[i].x == primary.rcWork.left && screens[i].y == primary.rcWork.top) {
                std::swap(screens[0], screens[i]);
                break;
            }
        }
    }
    return screens;
}

RECT MonitorRect(HMONITOR monitor, bool usable) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info)) {
        return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return usable ? info.rcWork : info.rcMonitor;
}

// Where the window's inside goes: where it was last, when that is still on
// a monitor, or the largest whole multiple of the picture that fits the
// monitor's usable part.
desktop::Rect WindowPlace(HMONITOR monitor) {
    if (desktop::settings.place.w > 0)
        return desktop::PlaceOnScreens(desktop::settings.place, UsableScreens());
    const RECT r = MonitorRect(monitor, true);
    return desktop::WindowedPlace(desktop::Rect{r.left, r.top, r.right - r.left, r.bottom - r.top});
}

// The outer rectangle of a window whose inside is `place`.
RECT Outer(const desktop::Rect& place) {
    RECT r{place.x, place.y, place.x + place.w, place.y + place.h};
    AdjustWindowRectEx(&r, kWindowStyle, FALSE, 0);
    return r;
}

// Notes where the window's inside is while it is a window.
void NotePlace() {
    if (window == nullptr || fullScreen || IsIconic(window)) return;
    RECT inside;
    if (!GetClientRect(window, &inside)) return;
    POINT corner{0, 0};
    ClientToScreen(window, &corner);
    desktop::settings.place =
        desktop::Rect{corner.x, corner.y, inside.right - inside.left, inside.bottom - inside.top};
}

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (win32::InputMessage(hwnd, message, wParam, lParam)) return 0;
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(hwnd, &paint);
            EndPaint(hwnd, &paint);
            win32::RedrawPicture();
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // the picture and its black bars cover the inside
        case WM_SIZE:
            win32::WindowResized();
            return 0;
        case WM_EXITSIZEMOVE:  // the player moved or sized the window
            desktop::KeepSettings();
            return 0;
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT) {
                SetCursor(cursorShown ? LoadCursor(nullptr, IDC_ARROW) : nullptr);
                return TRUE;
            }
            break;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize.x = 200;
            limits->ptMinTrackSize.y = 150;
            return 0;
        }
        case 0x02E0: {  // WM_DPICHANGED: the window moved to a monitor of another scale
            if (fullScreen) break;
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void CoverMonitor() {
    const RECT r = MonitorRect(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), false);
    SetWindowLongPtrA(window, GWL_STYLE, kFullStyle);
    SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_FRAMECHANGED | SWP_SHOWWINDOW);
}

}  // namespace

namespace win32 {

HWND Window() {
    return window;
}

void ToggleFullScreen() {
    if (window == nullptr) return;
    if (!fullScreen) {
        NotePlace();
        fullScreen = true;
        CoverMonitor();
    } else {
        fullScreen = false;
        const RECT outer = Outer(WindowPlace(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)));
        SetWindowLongPtrA(window, GWL_STYLE, kWindowStyle);
        SetWindowPos(window, HWND_NOTOPMOST, outer.left, outer.top, outer.right - outer.left,
                     outer.bottom - outer.top, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    }
    desktop::settings.window = !fullScreen;
    desktop::KeepSettings();
    RedrawPicture();
}

}  // namespace win32

namespace backend {

bool ScreenSize(int* width, int* height) {
    // A run replayed unseen needs no display: the picture's size will do.
    const bool unseen = desktop::showNothing;
    *width = unseen ? kPictureWidth : GetSystemMetrics(SM_CXSCREEN);
    *height = unseen ? kPictureHeight : GetSystemMetrics(SM_CYSCREEN);
    return *width > 0 && *height > 0;
}

bool OpenWindow(const char* title) {
    if (desktop::showNothing) return true;  // a run replayed unseen: no window, no display needed
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registered) {
        WNDCLASSEXA type{};
        type.cbSize = sizeof type;
        type.style = CS_OWNDC;
        type.lpfnWndProc = WindowProcedure;
        type.hInstance = instance;
        type.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
        type.hCursor = LoadCursor(nullptr, IDC_ARROW);
        type.hbrBackground = nullptr;
        type.lpszClassName = kClassName;
        if (RegisterClassExA(&type) == 0) return false;
        registered = true;
    }
    // Full screen on the monitor the window was last on, when it is still there.
    const POINT origin{0, 0};
    HMONITOR monitor = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    const desktop::Rect place = WindowPlace(monitor);
    const RECT inside{place.x, place.y, place.x + place.w, place.y + place.h};
    if (desktop::settings.place.w > 0) monitor = MonitorFromRect(&inside, MONITOR_DEFAULTTOPRIMARY);
    fullScreen = !desktop::settings.window;
    const RECT outer = fullScreen ? MonitorRect(monitor, false) : Outer(place);
    // A run replayed unseen gets a window that is never shown.
    const DWORD hidden = desktop::showNothing ? WS_VISIBLE : 0;
    window =
        CreateWindowExA(0, kClassName, title, (fullScreen ? kFullStyle : kWindowStyle) & ~hidden,
                        outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
                        nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return false;
    desktop::notePlace = NotePlace;
    if (!desktop::showNothing) SetForegroundWindow(window);
    UpdateWindow(window);
    return true;
}

void HideWindow() {
    if (window == nullptr) return;
    ShowWindow(window, SW_HIDE);
}

void CloseWindow() {
    ClosePresenter();
    NotePlace();
    if (window != nullptr) DestroyWindow(window);
    window = nullptr;
}

void ShowCursor(bool shown) {
    cursorShown = shown;
    if (window == nullptr) return;
    POINT at;
    if (GetCursorPos(&at) && WindowFromPoint(at) == window)
        SetCursor(shown ? LoadCursor(nullptr, IDC_ARROW) : nullptr);
}

}  // namespace backend
