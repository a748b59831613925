// The SDL2 backend's window: SDL's video start-up, the window on the whole
// screen or in a window of a whole multiple of the picture's size, the
// switch between the two, and the cursor. The window's place and whether it
// is one are remembered between runs (platform/desktop/settings.h).
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/backend.h"
#include "platform/desktop/settings.h"
#include "platform/sdl/sdl_backend.h"

namespace {

SDL_Window* window = nullptr;

std::vector<desktop::Rect> UsableScreens() {
    std::vector<desktop::Rect> screens;
    for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
        SDL_Rect usable;
        if (SDL_GetDisplayUsableBounds(i, &usable) != 0 && SDL_GetDisplayBounds(i, &usable) != 0)
            continue;
        screens.push_back(desktop::Rect{usable.x, usable.y, usable.w, usable.h});
    }
    return screens;
}

// Where the window goes on `display`: where it was last, when that is still
// on a screen, or the largest whole multiple of the picture that fits.
desktop::Rect WindowPlace(int display) {
    const std::vector<desktop::Rect> screens = UsableScreens();
    if (desktop::settings.place.w > 0)
        return desktop::PlaceOnScreens(desktop::settings.place, screens);
    desktop::Rect usable{0, 0, 640, 480};
    if (display >= 0 && display < static_cast<int>(screens.size())) usable = screens[display];
    return desktop::WindowedPlace(usable);
}

// Notes where the window is while it is one.
void NotePlace() {
    if (window == nullptr || (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0)
        return;
    desktop::Rect& place = desktop::settings.place;
    SDL_GetWindowPosition(window, &place.x, &place.y);
    SDL_GetWindowSize(window, &place.w, &place.h);
}

}  // namespace

namespace sdl {

bool EnsureVideo() {
    static bool failedForGood = false;  // no display now means none later
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
    if (failedForGood) return false;
    // SDL's dummy driver: a window that is nowhere.
    if (desktop::showNothing) SDL_setenv("SDL_VIDEODRIVER", "dummy", 1);
    // The game draws in whole pixels: nearest-neighbour unless asked otherwise.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    // Without a window manager nothing else would bring the window forward.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        // SDL's reason, beside the program's own line ("no display?"): a
        // display that refused the connection is told from none at all.
        std::fprintf(stderr, "vornackle: SDL video: %s\n", SDL_GetError());
        failedForGood = true;
        return false;
    }
    // With no display SDL falls back to a driver that shows nothing; the
    // program would then run unseen for ever. Only a driver asked for by name
    // (as the tests do) may be one of those.
    const char* driver = SDL_GetCurrentVideoDriver();
    bool invisible = driver == nullptr || SDL_strcmp(driver, "offscreen") == 0 ||
                     SDL_strcmp(driver, "dummy") == 0;
    if (invisible && SDL_getenv("SDL_VIDEODRIVER") == nullptr) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        failedForGood = true;
        return false;
    }
    // Controllers are welcome but not needed: the keyboard plays the game. A
    // replay shown to no one reads none (its keys are the run's), and asks no
    // device manager: a sandboxed verifier has none. The backend updates the
    // controllers itself, not SDL at every look for events.
    TakeOverControllerUpdates();
    if (!desktop::showNothing) SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
    return true;
}

SDL_Window* Window() {
    return window;
}

void ToggleFullScreen() {
    if (window == nullptr) return;
    const int display = std::max(0, SDL_GetWindowDisplayIndex(window));
    if ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) == 0) {
        NotePlace();
        // Over the whole of the screen the window is on, borderless, so that
        // it covers the screen even without a window manager.
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(display, &bounds) != 0) return;
        SDL_SetWindowBordered(window, SDL_FALSE);
        SDL_SetWindowPosition(window, bounds.x, bounds.y);
        SDL_SetWindowSize(window, bounds.w, bounds.h);
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
        desktop::settings.window = false;
    } else {
        const desktop::Rect place = WindowPlace(display);
        SDL_SetWindowFullscreen(window, 0);
        SDL_SetWindowBordered(window, SDL_TRUE);
        SDL_SetWindowResizable(window, SDL_TRUE);
        SDL_SetWindowSize(window, place.w, place.h);
        SDL_SetWindowPosition(window, place.x, place.y);
        desktop::settings.window = true;
    }
    desktop::KeepSettings();
    RedrawPicture();
}

}  // namespace sdl

namespace backend {

bool ScreenSize(int* width, int* height) {
    SDL_DisplayMode mode;
    if (!sdl::EnsureVideo() || SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
    *width = mode.w;
    *height = mode.h;
    return true;
}

bool OpenWindow(const char* title) {
    int width = 0, height = 0;
    if (!ScreenSize(&width, &height)) return false;
    desktop::notePlace = NotePlace;
    if (desktop::settings.window) {
        const desktop::Rect place = WindowPlace(0);
        window = SDL_CreateWindow(title, place.x, place.y, place.w, place.h,
                                  SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
        return window != nullptr;
    }
    // A window of the desktop's size, full-screen on the desktop: without a
    // window manager a smaller window would not cover the screen, and the
    // monitor's own mode is never changed.
    window =
        SDL_CreateWindow(title, 0, 0, width, height,
                         SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN);
    return window != nullptr;
}

void HideWindow() {
    if (window == nullptr) return;
    SDL_HideWindow(window);
}

void CloseWindow() {
    ClosePresenter();
    NotePlace();
    if (window != nullptr) SDL_DestroyWindow(window);
    window = nullptr;
}

void ShowCursor(bool shown) {
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

}  // namespace backend
