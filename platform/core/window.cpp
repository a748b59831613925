// USER32 window side: the one window class and window (the backend's window
// over the whole screen), the posted-message queue, the window procedure
// defaults, the cursor counter and the screen metrics.
#include <cstring>

#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/run.h"

namespace standin {

WindowState windowState;

// The handles the stand-in gives out; only their addresses matter.
static HWND__ mainWindowHandle;
static HICON__ applicationIcon;
static HICON__ arrowCursor;
static HBRUSH__ blackBrush;
static HDC__ windowDc;

HWND MainWindowHandle() {
    return windowState.exists ? &mainWindowHandle : nullptr;
}

static bool IsMainWindow(HWND window) {
    return window == &mainWindowHandle && windowState.exists;
}

static void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = CurrentTick();
    windowState.queue.push_back(msg);
}

void RequestClose() {
    if (!windowState.exists || windowState.closePending) return;
    windowState.closePending = true;
    windowState.closeSince = activeClock.microseconds();
    Post(&mainWindowHandle, WM_CLOSE, 0, 0);
    if (runs::mode != runs::Mode::Off) runs::NoteCloseRequest();
}

static void DestroyMainWindow() {
    windowState.exists = false;
    if (windowState.windowProc != nullptr) {
        windowState.windowProc(&mainWindowHandle, WM_DESTROY, 0, 0);
    }
    // The backend's window itself stays (hidden) while the display device
    // may still present into it; it goes with the process.
    if (windowState.opened) backend::HideWindow();
}

void ForgetWindow() {
    if (windowState.opened) backend::CloseWindow();
    windowState = WindowState{};
}

}  // namespace standin

using namespace standin;

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
    const ApiCall call(Entry::RegisterClassA);
    if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr ||
        windowClass->lpszClassName == nullptr) {
        call.Unsupported("a class needs a window procedure and a name");
    }
    if (windowClass->cbClsExtra != 0 || windowClass->cbWndExtra != 0 ||
        windowClass->lpszMenuName != nullptr) {
        call.Unsupported("extra bytes (%d, %d) and menus are not supported",
                         windowClass->cbClsExtra, windowClass->cbWndExtra);
    }
    HRESULT ignored;
    if (call.Fails(0, &ignored)) return 0;
    if (windowState.classRegistered) {
        // The system refuses a second class of the same name.
        if (windowState.className == windowClass->lpszClassName) return 0;
        call.Unsupported("only one window class is supported (have \"%s\", got \"%s\")",
                         windowState.className.c_str(), windowClass->lpszClassName);
    }
    windowState.classRegistered = true;
    windowState.className = windowClass->lpszClassName;
    windowState.windowProc = windowClass->lpfnWndProc;
    return 0xC001;
}

int WINAPI GetSystemMetrics(int index) {
    const ApiCall call(Entry::GetSystemMetrics);
    if (index != SM_CXSCREEN && index != SM_CYSCREEN) {
        call.Unsupported("only SM_CXSCREEN and SM_CYSCREEN are supported, got %d", index);
    }
    int width = 0, height = 0;
    if (!backend::ScreenSize(&width, &height)) return 0;
    return index == SM_CXSCREEN ? width : height;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE /*instance*/, LPVOID param) {
    const ApiCall call(Entry::CreateWindowExA);
    if (exStyle != 0 || style != (WS_POPUP | WS_VISIBLE)) {
        call.Unsupported(
            "only a visible pop-up window (style 0x%X, ex-style 0) is supported, got style "
            "0x%X, ex-style 0x%X",
            static_cast<unsigned>(WS_POPUP | WS_VISIBLE), style, exStyle);
    }
    if (parent != nullptr || menu != nullptr || param != nullptr) {
        call.Unsupported("parent windows, menus and creation data are not supported");
    }
    HRESULT ignored;
    if (call.Fails(0, &ignored)) return nullptr;
    if (!windowState.classRegistered || className == nullptr ||
        windowState.className != className) {
        return nullptr;
    }
    if (windowState.exists) call.Unsupported("only one window is supported");
    int screenWidth = 0, screenHeight = 0;
    if (!backend::ScreenSize(&screenWidth, &screenHeight)) return nullptr;
    if (x != 0 || y != 0 || width != screenWidth || height != screenHeight) {
        call.Unsupported(
            "only a window over the whole desktop (0, 0, %d x %d) is supported, got (%d, "
            "%d, %d x %d)",
            screenWidth, screenHeight, x, y, width, height);
    }
    if (!backend::OpenWindow(title != nullptr ? title : "")) return nullptr;
    windowState.opened = true;
    windowState.exists = true;
    if (windowState.cursorCount < 0) backend::ShowCursor(false);
    PrepareSound();
    // The window procedure sees WM_CREATE before the window is handed out;
    // -1 refuses the creation. No creation record is passed (lParam 0).
    if (windowState.windowProc(&mainWindowHandle, WM_CREATE, 0, 0) == -1) {
        windowState.exists = false;
        windowState.opened = false;
        backend::CloseWindow();
        return nullptr;
    }
    return &mainWindowHandle;
}

int WINAPI ShowCursor(BOOL show) {
    const ApiCall call(Entry::ShowCursor);
    windowState.cursorCount += show ? 1 : -1;
    backend::ShowCursor(windowState.cursorCount >= 0);
    return windowState.cursorCount;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    const ApiCall call(Entry::LoadIconA);
    if (instance != nullptr || name != IDI_APPLICATION) {
        call.Unsupported("only the system's IDI_APPLICATION icon is supported");
    }
    return &applicationIcon;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    const ApiCall call(Entry::LoadCursorA);
    if (instance != nullptr || name != IDC_ARROW) {
        call.Unsupported("only the system's IDC_ARROW cursor is supported");
    }
    return &arrowCursor;
}

HGDIOBJ WINAPI GetStockObject(int object) {
    const ApiCall call(Entry::GetStockObject);
    if (object != BLACK_BRUSH) {
        call.Unsupported("only BLACK_BRUSH is supported, got %d", object);
    }
    return &blackBrush;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    const ApiCall call(Entry::PeekMessageA);
    if (msg == nullptr || window != nullptr || filterMin != 0 || filterMax != 0 ||
        remove != PM_REMOVE) {
        call.Unsupported(
            "only PM_REMOVE without window or message filter is supported, got window %p, "
            "filter %u-%u, flags %u",
            static_cast<void*>(window), filterMin, filterMax, remove);
    }
    PumpEvents();
    if (runs::mode != runs::Mode::Off) runs::MessageRead();
    if (!windowState.queue.empty()) {
        *msg = windowState.queue.front();
        windowState.queue.pop_front();
        return TRUE;
    }
    // Like the system, the quit message comes only once the queue is empty.
    if (windowState.quitPosted) {
        windowState.quitPosted = false;
        windowState.closePending = false;
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(windowState.quitCode);
        msg->time = CurrentTick();
        return TRUE;
    }
    return FALSE;
}

// No keyboard messages are ever queued (keys are polled), so there is
// nothing to translate.
BOOL WINAPI TranslateMessage(const MSG* /*msg*/) {
    const ApiCall call(Entry::TranslateMessage);
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    const ApiCall call(Entry::DispatchMessageA);
    if (msg == nullptr) return 0;
    // Messages for a window that has gone since they were posted are dropped.
    if (!IsMainWindow(msg->hwnd)) return 0;
    LRESULT result = windowState.windowProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    // The program took the close request and kept its window: it answered.
    if (msg->message == WM_CLOSE && windowState.exists) windowState.closePending = false;
    return result;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    const ApiCall call(Entry::DefWindowProcA);
    // Closing destroys the window, which sends WM_DESTROY to its procedure.
    if (message == WM_CLOSE && IsMainWindow(window)) DestroyMainWindow();
    return 0;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const ApiCall call(Entry::PostMessageA);
    if (window != nullptr && !IsMainWindow(window)) return FALSE;
    if (message == WM_QUIT) call.Unsupported("post WM_QUIT with PostQuitMessage");
    Post(window, message, wParam, lParam);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    const ApiCall call(Entry::PostQuitMessage);
    windowState.quitPosted = true;
    windowState.quitCode = exitCode;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    const ApiCall call(Entry::BeginPaint);
    if (paint == nullptr || !IsMainWindow(window)) return nullptr;
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = &windowDc;
    return &windowDc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
    const ApiCall call(Entry::EndPaint);
    return paint != nullptr && paint->hdc == &windowDc && window == &mainWindowHandle;
}
