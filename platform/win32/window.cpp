// The Win32 backend's window: borderless over the whole monitor by default
// (a WS_POPUP window of the monitor's size: the display's mode is never
// changed, so Alt+Tab is instant and no other window moves), or a window
// whose inside is a whole multiple of the picture; the switch between the
// two; the cursor; and the window procedure. Whether it is a window, where,
// and whether it is maximised are remembered between runs
// (platform/desktop/settings.h).
//
// The program is aware of each monitor's scale (its manifest): every size
// here is in the monitor's own pixels, and a window's frame is measured at
// the scale of the monitor it is on, so that its inside is the whole
// multiple of the picture it is meant to be on a 150 % monitor too.
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
// While the program itself places the window, its moves are not the
// player's: the place is noted once it is done.
int placing = 0;
struct Placing {
    Placing() { ++placing; }
    ~Placing() { --placing; }
};

// The per-monitor scale's calls, where this Windows has them (10 1607 and
// 8.1 on): without them every monitor has the system's scale.
struct DpiCalls {
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    AdjustForDpi adjust = nullptr;
    ForMonitor forMonitor = nullptr;
    DpiCalls() {
        if (HMODULE user = GetModuleHandleA("user32.dll"))
            adjust = reinterpret_cast<AdjustForDpi>(
                reinterpret_cast<void*>(GetProcAddress(user, "AdjustWindowRectExForDpi")));
        if (HMODULE shcore = LoadLibraryExA("shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
            forMonitor = reinterpret_cast<ForMonitor>(
                reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
    }
};
const DpiCalls& Dpi() {
    static const DpiCalls calls;
    return calls;
}

// The scale of the monitor that holds most of `place`, in dots per inch; 0
// when this Windows cannot tell (the system's scale is then taken).
UINT DpiAt(const desktop::Rect& place) {
    if (Dpi().forMonitor == nullptr) return 0;
    const RECT r{place.x, place.y, place.x + place.w, place.y + place.h};
    UINT x = 0, y = 0;
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    if (Dpi().forMonitor(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y) !=
        S_OK)
        return 0;
    return x;
}

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

// The outer rectangle of a window whose inside is `place`, with the frame
// the monitor's scale `dpi` gives it (0: the system's).
RECT Outer(const desktop::Rect& place, UINT dpi) {
    RECT r{place.x, place.y, place.x + place.w, place.y + place.h};
    if (dpi == 0 || Dpi().adjust == nullptr || !Dpi().adjust(&r, kWindowStyle, FALSE, 0, dpi)) {
        r = RECT{place.x, place.y, place.x + place.w, place.y + place.h};
        AdjustWindowRectEx(&r, kWindowStyle, FALSE, 0);
    }
    return r;
}

// Where the window's inside is on the screen now.
desktop::Rect Inside() {
    RECT inside{};
    GetClientRect(window, &inside);
    POINT corner{0, 0};
    ClientToScreen(window, &corner);
    return desktop::Rect{corner.x, corner.y, inside.right - inside.left,
                         inside.bottom - inside.top};
}

void NotePlace();

// Puts the window's inside at `place`. Should the frame differ from the one
// reckoned (a Windows that cannot say a monitor's scale, a title bar of two
// lines), the outer rectangle is corrected by what the inside came out as.
void PlaceWindow(const desktop::Rect& place, HWND after, UINT flags) {
    const Placing busy;
    RECT outer = Outer(place, DpiAt(place));
    for (int attempt = 0; attempt < 2; ++attempt) {
        SetWindowPos(window, after, outer.left, outer.top, outer.right - outer.left,
                     outer.bottom - outer.top, flags);
        const desktop::Rect got = Inside();
        if (got.x == place.x && got.y == place.y && got.w == place.w && got.h == place.h) return;
        outer.left += place.x - got.x;
        outer.top += place.y - got.y;
        outer.right += place.x + place.w - got.x - got.w;
        outer.bottom += place.y + place.h - got.y - got.h;
        flags &= ~UINT(SWP_FRAMECHANGED);
    }
}

void PlaceWindowAndNote(const desktop::Rect& place, UINT flags) {
    PlaceWindow(place, nullptr, flags);
    NotePlace();
}

// Notes where the window's inside is while it is a window, or that it is
// maximised (its place is then the one it goes back to, noted before).
void NotePlace() {
    if (window == nullptr || fullScreen || placing > 0 || IsIconic(window)) return;
    desktop::settings.maximised = IsZoomed(window) != FALSE;
    if (!desktop::settings.maximised) desktop::settings.place = Inside();
}

void CoverMonitor() {
    const RECT r = MonitorRect(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), false);
    SetWindowLongPtrA(window, GWL_STYLE, kFullStyle);
    SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_FRAMECHANGED | SWP_SHOWWINDOW);
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
        case WM_MOVE:
            NotePlace();
            return 0;
        case WM_SIZE: {
            // Maximised, or back from it: kept at once (no end of a move
            // comes to keep it then).
            const bool wasMaximised = desktop::settings.maximised;
            NotePlace();
            win32::WindowResized();
            if (placing == 0 && desktop::settings.maximised != wasMaximised)
                desktop::KeepSettings();
            return 0;
        }
        case WM_EXITSIZEMOVE:  // the player moved or sized the window
            desktop::KeepSettings();
            return 0;
        case WM_DISPLAYCHANGE:  // another resolution, a monitor docked or gone
            if (fullScreen) {
                CoverMonitor();
            } else if (!IsZoomed(hwnd) && !IsIconic(hwnd)) {
                const desktop::Rect place = desktop::PlaceOnScreens(Inside(), UsableScreens());
                PlaceWindowAndNote(place, SWP_NOZORDER | SWP_NOACTIVATE);
            }
            win32::RedrawPicture();
            break;
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
        case WM_DPICHANGED: {  // the window moved to a monitor of another scale
            if (fullScreen) {
                CoverMonitor();
                return 0;
            }
            if (IsZoomed(hwnd)) break;
            // Windows suggests the old size scaled, which is no whole multiple
            // of the picture: the nearest one that is, where it suggests.
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            const RECT frame = Outer(desktop::Rect{0, 0, 0, 0}, HIWORD(wParam));
            const desktop::Rect inside{
                suggested->left - frame.left, suggested->top - frame.top,
                suggested->right - suggested->left - frame.right + frame.left,
                suggested->bottom - suggested->top - frame.bottom + frame.top};
            const RECT usable =
                MonitorRect(MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST), true);
            PlaceWindowAndNote(
                desktop::RescaledPlace(
                    inside, desktop::Rect{usable.left, usable.top, usable.right - usable.left,
                                          usable.bottom - usable.top}),
                SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
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
        {
            const Placing busy;
            SetWindowLongPtrA(window, GWL_STYLE, kWindowStyle);
            PlaceWindow(WindowPlace(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)),
                        HWND_NOTOPMOST, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
            if (desktop::settings.maximised) ShowWindow(window, SW_MAXIMIZE);
        }
        NotePlace();
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
    const bool maximised = !fullScreen && desktop::settings.maximised;
    const RECT outer = fullScreen ? MonitorRect(monitor, false) : Outer(place, DpiAt(place));
    // A run replayed unseen gets a window that is never shown; a maximised
    // one is shown once it is.
    const DWORD hidden = desktop::showNothing || maximised ? WS_VISIBLE : 0;
    window =
        CreateWindowExA(0, kClassName, title, (fullScreen ? kFullStyle : kWindowStyle) & ~hidden,
                        outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
                        nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return false;
    if (!fullScreen) {
        {
            const Placing busy;
            PlaceWindow(place, nullptr, SWP_NOZORDER | SWP_NOACTIVATE);
            if (maximised && !desktop::showNothing) ShowWindow(window, SW_SHOWMAXIMIZED);
        }
        if (!desktop::showNothing) NotePlace();
    }
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
