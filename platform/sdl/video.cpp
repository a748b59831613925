// The SDL2 backend's display: the window over the whole screen, the cursor,
// and the presenter that shows the core's 640 x 480 pictures in it.
//
// A picture arrives as 8-bit indices and a 256-colour lookup. With a renderer
// it is looked up into a streaming ARGB8888 texture and scaled to the window
// keeping 4:3 with black bars. Without an accelerated renderer (SDL's dummy
// driver, a machine without a GPU) it goes straight into the window's own
// surface instead: SDL's software renderer would scale all of it through a
// generic per-pixel stretch every frame, which costs more than the whole rest
// of a play frame, while a play frame changes only where jewels, the basket
// and the numbers moved, so only those spans are looked up and scaled again.
#include <SDL_opengl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/backend.h"
#include "platform/sdl/sdl_backend.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Presenter {
    bool open = false;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    bool vsync = false;  // the renderer's present waits for the vertical blank

    // The picture as the window shows it, so that an unchanged one is not
    // sent again and, on the window surface, only changed spans are redrawn.
    std::vector<std::uint8_t> shown;
    std::uint32_t lookup[256] = {};
    bool valid = false;  // `shown` and `lookup` are what the window shows

    bool windowSurface = false;            // presenting into the window's surface
    const SDL_Surface* shownOn = nullptr;  // the surface it went to
    int shownWidth = 0, shownHeight = 0;
    SDL_Rect area{};  // where the picture sits in the window
    // Window rows [rowStart[y], rowEnd[y]) show picture row y.
    int rowStart[kHeight] = {};
    int rowEnd[kHeight] = {};
};

SDL_Window* window = nullptr;
Presenter presenter;
bool headless = false;

bool IsXrgbSurface(const SDL_Surface* surface) {
    return surface != nullptr && (surface->format->format == SDL_PIXELFORMAT_RGB888 ||
                                  surface->format->format == SDL_PIXELFORMAT_ARGB8888);
}

// Places the picture in a w x h window: the largest centred 4:3 area, the
// one SDL_RenderSetLogicalSize picks, and which window rows show which
// picture row (nearest neighbour).
void PlacePicture(Presenter& p, int w, int h) {
    if (w * kHeight > h * kWidth) {  // wider than 4:3: bars left and right
        const int width = h * kWidth / kHeight;
        p.area = SDL_Rect{(w - width) / 2, 0, width, h};
    } else {
        const int height = w * kHeight / kWidth;
        p.area = SDL_Rect{0, (h - height) / 2, w, height};
    }
    for (int y = 0; y < kHeight; ++y) p.rowStart[y] = p.rowEnd[y] = p.area.y;
    for (int row = 0; row < p.area.h; ++row) {
        const int y = row * kHeight / p.area.h;
        if (p.rowEnd[y] == p.area.y) p.rowStart[y] = p.area.y + row;
        p.rowEnd[y] = p.area.y + row + 1;
    }
}

// A renderer whose OpenGL is drawn by the processor (Mesa's llvmpipe or
// softpipe, as in a virtual display or a machine without a GPU driver)
// scales every whole picture on the CPU: presenting changed spans into the
// window's surface costs a small part of that.
bool DrawsOnTheProcessor(SDL_Renderer* renderer) {
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(renderer, &info) != 0) return false;
    if ((info.flags & SDL_RENDERER_SOFTWARE) != 0) return true;
    if (SDL_strncmp(info.name, "opengl", 6) != 0) return false;
    using GetString = const GLubyte*(APIENTRY*)(GLenum);
    auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    const GLubyte* name = getString != nullptr ? getString(GL_RENDERER) : nullptr;
    if (name == nullptr) return false;
    const char* renderer_name = reinterpret_cast<const char*>(name);
    return SDL_strstr(renderer_name, "llvmpipe") != nullptr ||
           SDL_strstr(renderer_name, "softpipe") != nullptr;
}

std::uint32_t* WindowRow(SDL_Surface* surface, int y) {
    return reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(surface->pixels) +
                                            static_cast<size_t>(y) * surface->pitch);
}

// Looks up and scales the spans of the picture that differ from what the
// window shows (all of it after a palette change or a new window surface).
void PresentToWindow(Presenter& p, const std::uint8_t* pixels, int pitch, bool all) {
    SDL_Surface* surface = SDL_GetWindowSurface(window);  // follows resizes
    if (!IsXrgbSurface(surface)) return;
    if (surface != p.shownOn || surface->w != p.shownWidth || surface->h != p.shownHeight) {
        PlacePicture(p, surface->w, surface->h);
        p.shownOn = surface;
        p.shownWidth = surface->w;
        p.shownHeight = surface->h;
        all = true;
    }
    if (p.area.w <= 0 || p.area.h <= 0 || SDL_LockSurface(surface) != 0) return;
    if (all) {
        for (int y = 0; y < surface->h; ++y)
            std::fill_n(WindowRow(surface, y), surface->w, 0xFF000000u);
    }
    const std::uint32_t step = (static_cast<std::uint32_t>(kWidth) << 16) / p.area.w;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* now = pixels + static_cast<size_t>(y) * pitch;
        std::uint8_t* was = p.shown.data() + static_cast<size_t>(y) * kWidth;
        int first = 0, last = kWidth - 1;
        if (!all) {
            while (first < kWidth && now[first] == was[first]) ++first;
            if (first == kWidth) continue;
            while (now[last] == was[last]) --last;
        }
        std::memcpy(was + first, now + first, static_cast<size_t>(last - first + 1));
        if (p.rowStart[y] == p.rowEnd[y]) continue;  // a window too small to show this row
        // The window columns around the span; each is looked up from its own
        // picture column, so a column or two too many costs nothing wrong.
        const int left = std::max(0, first * p.area.w / kWidth - 1);
        const int right = std::min(p.area.w, (last + 1) * p.area.w / kWidth + 2);
        std::uint32_t* out = WindowRow(surface, p.rowStart[y]) + p.area.x;
        std::uint32_t from = static_cast<std::uint32_t>(left) * step;  // 16.16 picture column
        for (int x = left; x < right; ++x, from += step) out[x] = p.lookup[now[from >> 16]];
        for (int copy = p.rowStart[y] + 1; copy < p.rowEnd[y]; ++copy) {
            std::memcpy(WindowRow(surface, copy) + p.area.x + left, out + left,
                        static_cast<size_t>(right - left) * 4);
        }
    }
    SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(window);
}

// Through the renderer: the whole picture into the texture, scaled by the GPU.
void PresentToRenderer(Presenter& p, const std::uint8_t* pixels, int pitch) {
    void* texels = nullptr;
    int texturePitch = 0;
    if (SDL_LockTexture(p.texture, nullptr, &texels, &texturePitch) != 0) return;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* in = pixels + static_cast<size_t>(y) * pitch;
        std::memcpy(p.shown.data() + static_cast<size_t>(y) * kWidth, in, kWidth);
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(texels) +
                                                     static_cast<size_t>(y) * texturePitch);
        for (int x = 0; x < kWidth; ++x) row[x] = p.lookup[in[x]];
    }
    SDL_UnlockTexture(p.texture);
    SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
    SDL_RenderClear(p.renderer);
    SDL_RenderCopy(p.renderer, p.texture, nullptr, nullptr);
    SDL_RenderPresent(p.renderer);
}

bool SameAsShown(const Presenter& p, const std::uint8_t* pixels, int pitch,
                 const std::uint32_t lookup[256]) {
    if (!p.valid || std::memcmp(p.lookup, lookup, sizeof p.lookup) != 0) return false;
    for (int y = 0; y < kHeight; ++y) {
        if (std::memcmp(p.shown.data() + static_cast<size_t>(y) * kWidth,
                        pixels + static_cast<size_t>(y) * pitch, kWidth) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace sdl {

bool EnsureVideo() {
    static bool failedForGood = false;  // no display now means none later
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
    if (failedForGood && !headless) return false;
    // The game draws in whole pixels: nearest-neighbour scaling, always.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    // Without a window manager nothing else would bring the window forward.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
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
    return true;
}

SDL_Window* Window() {
    return window;
}

void InvalidatePicture() {
    presenter.valid = false;
}

}  // namespace sdl

namespace backend {

void UseHeadless() {
    // Before SDL starts anything; SDL itself stays up across test resets.
    headless = true;
    SDL_setenv("SDL_VIDEODRIVER", "dummy", 1);
    SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
}

bool TakeOptions(int argc, char** argv, const char** error) {
    if (argc > 0) {
        *error = argv[0];
        return false;
    }
    return true;
}

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
    // A window of the desktop's size, full-screen on the desktop: without a
    // window manager a smaller window would not cover the screen, and the
    // monitor's own mode is never changed.
    window =
        SDL_CreateWindow(title, 0, 0, width, height,
                         SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN);
    return window != nullptr;
}

void HideWindow() {
    if (window != nullptr) SDL_HideWindow(window);
}

void CloseWindow() {
    ClosePresenter();
    if (window != nullptr) SDL_DestroyWindow(window);
    window = nullptr;
}

void ShowCursor(bool shown) {
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
}

bool OpenPresenter() {
    if (presenter.open) return true;
    if (window == nullptr) return false;
    Presenter& p = presenter;
    // The monitor's mode is never changed: the picture is scaled to the
    // desktop-sized window instead, whole, with black bars.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    const Uint32 accelerated = SDL_RENDERER_ACCELERATED;
    p.renderer = SDL_CreateRenderer(window, -1, accelerated | SDL_RENDERER_PRESENTVSYNC);
    if (p.renderer == nullptr) p.renderer = SDL_CreateRenderer(window, -1, accelerated);
    if (p.renderer != nullptr && DrawsOnTheProcessor(p.renderer)) {
        SDL_DestroyRenderer(p.renderer);
        p.renderer = nullptr;
        // The window's surface written straight to the display, not through
        // the same OpenGL.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    }
    p.shown.assign(static_cast<size_t>(kWidth) * kHeight, 0);
    if (p.renderer == nullptr && IsXrgbSurface(SDL_GetWindowSurface(window))) {
        p.windowSurface = true;
        p.open = true;
        return true;
    }
    if (p.renderer == nullptr) p.renderer = SDL_CreateRenderer(window, -1, 0);
    if (p.renderer == nullptr) return false;
    SDL_RendererInfo info;
    p.vsync = SDL_GetRendererInfo(p.renderer, &info) == 0 &&
              (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    SDL_RenderSetLogicalSize(p.renderer, kWidth, kHeight);
    p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                  kWidth, kHeight);
    if (p.texture == nullptr) {
        ClosePresenter();
        return false;
    }
    p.open = true;
    return true;
}

void ClosePresenter() {
    if (presenter.texture != nullptr) SDL_DestroyTexture(presenter.texture);
    if (presenter.renderer != nullptr) SDL_DestroyRenderer(presenter.renderer);
    presenter = Presenter{};
}

bool Present(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    Presenter& p = presenter;
    if (!p.open) return false;
    // A picture the window already shows is not sent again: the menu screens
    // present the same picture frame after frame.
    if (SameAsShown(p, pixels, pitch, lookup)) return false;
    bool all = !p.valid || std::memcmp(p.lookup, lookup, sizeof p.lookup) != 0;
    std::memcpy(p.lookup, lookup, sizeof p.lookup);
    if (p.windowSurface) {
        PresentToWindow(p, pixels, pitch, all);
        p.valid = true;
        return false;
    }
    const Uint64 start = SDL_GetPerformanceCounter();
    PresentToRenderer(p, pixels, pitch);
    p.valid = true;
    // A driver may grant vsync and still return at once (a virtual display):
    // only a present that waited a few milliseconds counts as paced.
    const Uint64 took = SDL_GetPerformanceCounter() - start;
    return p.vsync && took * 1000 > SDL_GetPerformanceFrequency() * 3;
}

std::uint32_t WindowPixel(int x, int y) {
    if (window == nullptr || !presenter.windowSurface) return 0;
    SDL_Surface* surface = SDL_GetWindowSurface(window);
    if (!IsXrgbSurface(surface) || x < 0 || y < 0 || x >= surface->w || y >= surface->h) return 0;
    return WindowRow(surface, y)[x];
}

}  // namespace backend
