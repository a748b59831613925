// The SDL2 backend's display: the window (full screen on the desktop, or a
// window of a whole multiple of the picture's size), the cursor, and the
// presenter that shows the core's 640 x 480 pictures in it.
//
// A picture arrives as 8-bit indices and a 256-colour lookup. It is scaled
// to the largest centred 4:3 area of the window, black around it, in one of
// two ways:
//   sharp    the picture enlarged by a whole factor with nearest-neighbour,
//            the smallest that reaches the area, then brought down to the
//            area with linear filtering: every picture pixel is the same size
//            to within one screen pixel, and an edge between two picture
//            pixels is at most one blended screen pixel wide;
//   nearest  each screen pixel shows the picture pixel it falls on: hard
//            edges, but at a size that is no whole multiple the picture
//            pixels are one or two screen pixels wide, unevenly.
// On a GPU the renderer does it: a streaming texture of the picture, drawn
// with nearest into a render target at the whole factor, which is drawn
// into the area with linear filtering. Without an accelerated renderer
// (SDL's dummy driver, a machine without a GPU) the picture goes straight
// into the window's own surface instead: scaling all of it on the processor
// every frame would cost more than the whole rest of a play frame, while a
// play frame changes only where jewels, the basket and the numbers moved.
// There the scaling is two passes over tables made when the area changes:
// each changed picture row span is widened (each window column mixes at
// most two picture columns), then each window row takes one widened row or
// mixes two.
#include <SDL_opengl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/backend.h"
#include "platform/sdl/sdl_backend.h"

namespace {

constexpr int kWidth = backend::kPictureWidth;
constexpr int kHeight = backend::kPictureHeight;

enum class Scaling { Sharp, Nearest };

struct Options {
    bool window = false;  // start in a window instead of full screen
    Scaling scaling = Scaling::Sharp;
} options;

// One axis of the scaling into the window surface: window position i shows
// picture position near[i] mixed with far[i] by weight[i] 256ths of the
// latter (0: near alone). Picture position c is read by window positions
// [from[c], to[c]).
struct Axis {
    std::vector<int> near, far, weight;
    int from[kWidth] = {};
    int to[kWidth] = {};
};

// Fills `axis` for `source` picture positions shown on `target` window ones.
void MakeAxis(Axis& axis, int source, int target, Scaling scaling) {
    axis.near.assign(static_cast<size_t>(target), 0);
    axis.far.assign(static_cast<size_t>(target), 0);
    axis.weight.assign(static_cast<size_t>(target), 0);
    // The whole factor, and the enlarged picture's size.
    const int factor = std::max(1, (target + source - 1) / source);
    const long enlarged = static_cast<long>(source) * factor;
    for (int i = 0; i < target; ++i) {
        if (scaling == Scaling::Nearest) {
            axis.near[i] = axis.far[i] = static_cast<int>(static_cast<long>(i) * source / target);
            continue;
        }
        // Linear filtering samples window pixel i's centre: enlarged position
        // u = (i + 1/2) * enlarged / target - 1/2, here in units of 1/(2 target).
        const long u = (2L * i + 1) * enlarged - target;
        long a = 0, rest = 0;  // whole enlarged position and what is left
        if (u > 0) {
            a = u / (2L * target);
            rest = u % (2L * target);
        }
        if (a >= enlarged - 1) a = enlarged - 1, rest = 0;
        const int nearPixel = static_cast<int>(a / factor);
        const int farPixel = static_cast<int>((a + 1) / factor);
        const int weight = static_cast<int>((rest * 256 + target) / (2L * target));
        axis.near[i] = nearPixel;
        axis.far[i] = nearPixel;
        if (farPixel != nearPixel && weight > 0) {
            if (weight >= 256) {
                axis.near[i] = axis.far[i] = farPixel;
            } else {
                axis.far[i] = farPixel;
                axis.weight[i] = weight;
            }
        }
    }
    for (int c = 0; c < source; ++c) {
        axis.from[c] = target;
        axis.to[c] = 0;
    }
    for (int i = 0; i < target; ++i) {
        for (int c : {axis.near[i], axis.far[i]}) {
            axis.from[c] = std::min(axis.from[c], i);
            axis.to[c] = std::max(axis.to[c], i + 1);
        }
    }
    // A position no window position reads (a window smaller than the
    // picture) stands where the next one read starts, so that a span of
    // picture positions still maps to the window positions between.
    for (int c = source - 1; c >= 0; --c) {
        if (axis.from[c] < axis.to[c]) continue;
        axis.from[c] = axis.to[c] = c + 1 < source ? axis.from[c + 1] : target;
    }
}

// a * (256 - weight) + b * weight, per colour channel, in 256ths.
inline std::uint32_t Mix(std::uint32_t a, std::uint32_t b, std::uint32_t weight) {
    const std::uint32_t keep = 256 - weight;
    const std::uint32_t redBlue = ((a & 0xFF00FFu) * keep + (b & 0xFF00FFu) * weight) >> 8;
    const std::uint32_t green = ((a & 0xFF00u) * keep + (b & 0xFF00u) * weight) >> 8;
    return 0xFF000000u | (redBlue & 0xFF00FFu) | (green & 0xFF00u);
}

struct Presenter {
    bool open = false;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;   // the picture
    SDL_Texture* enlarged = nullptr;  // the picture at the whole factor (sharp scaling)
    int enlargedFactor = 0;
    bool targets = false;  // the renderer draws into textures
    bool vsync = false;    // the renderer's present waits for the vertical blank

    // The picture as the window shows it, so that an unchanged one is not
    // sent again, a lost one is drawn again, and on the window surface only
    // changed spans are redrawn.
    std::vector<std::uint8_t> shown;
    std::uint32_t lookup[256] = {};
    bool valid = false;  // `shown` and `lookup` are what the window shows

    bool windowSurface = false;            // presenting into the window's surface
    const SDL_Surface* shownOn = nullptr;  // the surface it went to
    int shownWidth = 0, shownHeight = 0;
    Scaling shownScaling = Scaling::Sharp;
    SDL_Rect area{};  // where the picture sits in the window
    Axis columns, rows;
    // Picture rows widened to the area's width, and per picture row the
    // window columns [spanFrom, spanTo) widened again by this present.
    std::vector<std::uint32_t> widened;
    int spanFrom[kHeight] = {};
    int spanTo[kHeight] = {};
};

SDL_Window* window = nullptr;
Presenter presenter;
bool showNothing = false;  // a run replayed unseen

bool IsXrgbSurface(const SDL_Surface* surface) {
    return surface != nullptr && (surface->format->format == SDL_PIXELFORMAT_RGB888 ||
                                  surface->format->format == SDL_PIXELFORMAT_ARGB8888);
}

// The largest centred 4:3 area of a w x h window.
SDL_Rect PictureArea(int w, int h) {
    if (w * kHeight > h * kWidth) {  // wider than 4:3: bars left and right
        const int width = h * kWidth / kHeight;
        return SDL_Rect{(w - width) / 2, 0, width, h};
    }
    const int height = w * kHeight / kWidth;
    return SDL_Rect{0, (h - height) / 2, w, height};
}

void PlacePicture(Presenter& p, int w, int h) {
    p.area = PictureArea(w, h);
    if (p.area.w <= 0 || p.area.h <= 0) return;
    MakeAxis(p.columns, kWidth, p.area.w, options.scaling);
    MakeAxis(p.rows, kHeight, p.area.h, options.scaling);
    p.widened.assign(static_cast<size_t>(p.area.w) * kHeight, 0);
    p.shownScaling = options.scaling;
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

// Picture row `row`, columns read by window columns [from, to), looked up
// and widened into `out`.
void Widen(const Presenter& p, const std::uint8_t* row, std::uint32_t* out, int from, int to) {
    const int* near = p.columns.near.data();
    const int* far = p.columns.far.data();
    const int* weight = p.columns.weight.data();
    // Mixed even with weight 0: a branch on it would be mispredicted at
    // every other column at sizes like 1.6.
    for (int x = from; x < to; ++x) {
        out[x] = Mix(p.lookup[row[near[x]]], p.lookup[row[far[x]]],
                     static_cast<std::uint32_t>(weight[x]));
    }
}

// The first and the last column where two picture rows differ (kWidth:
// none), eight columns at a time: most rows of a play frame do not change.
int FirstDifference(const std::uint8_t* a, const std::uint8_t* b) {
    int x = 0;
    for (; x < kWidth; x += 8) {
        std::uint64_t wa, wb;
        std::memcpy(&wa, a + x, 8);
        std::memcpy(&wb, b + x, 8);
        if (wa != wb) break;
    }
    while (x < kWidth && a[x] == b[x]) ++x;
    return x;
}
int LastDifference(const std::uint8_t* a, const std::uint8_t* b) {
    int end = kWidth;  // a multiple of 8
    for (; end > 0; end -= 8) {
        std::uint64_t wa, wb;
        std::memcpy(&wa, a + end - 8, 8);
        std::memcpy(&wb, b + end - 8, 8);
        if (wa != wb) break;
    }
    int x = end - 1;
    while (x > 0 && a[x] == b[x]) --x;
    return x;
}

// Looks up and scales the spans of the picture that differ from what the
// window shows (all of it after a palette change or a new window surface).
void PresentToWindow(Presenter& p, const std::uint8_t* pixels, int pitch, bool all) {
    SDL_Surface* surface = SDL_GetWindowSurface(window);  // follows resizes
    if (!IsXrgbSurface(surface)) return;
    if (surface != p.shownOn || surface->w != p.shownWidth || surface->h != p.shownHeight ||
        p.shownScaling != options.scaling) {
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
    // Picture rows: the changed span of each, widened.
    const int width = p.area.w;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* now = pixels + static_cast<size_t>(y) * pitch;
        std::uint8_t* was = p.shown.data() + static_cast<size_t>(y) * kWidth;
        int first = 0, last = kWidth - 1;
        if (!all) {
            first = FirstDifference(now, was);
            if (first == kWidth) {
                p.spanFrom[y] = width;
                p.spanTo[y] = 0;
                continue;
            }
            last = LastDifference(now, was);
        }
        if (now != was)
            std::memcpy(was + first, now + first, static_cast<size_t>(last - first + 1));
        p.spanFrom[y] = p.columns.from[first];
        p.spanTo[y] = p.columns.to[last];
        Widen(p, now, p.widened.data() + static_cast<size_t>(y) * width, p.spanFrom[y],
              p.spanTo[y]);
    }
    // Window rows: each reads one widened row or mixes two.
    for (int y = 0; y < p.area.h; ++y) {
        const int near = p.rows.near[y], far = p.rows.far[y];
        const int from = std::min(p.spanFrom[near], p.spanFrom[far]);
        const int to = std::max(p.spanTo[near], p.spanTo[far]);
        if (from >= to) continue;
        std::uint32_t* out = WindowRow(surface, p.area.y + y) + p.area.x;
        const std::uint32_t* a = p.widened.data() + static_cast<size_t>(near) * width;
        const std::uint32_t weight = static_cast<std::uint32_t>(p.rows.weight[y]);
        if (weight == 0) {
            std::memcpy(out + from, a + from, static_cast<size_t>(to - from) * 4);
            continue;
        }
        const std::uint32_t* b = p.widened.data() + static_cast<size_t>(far) * width;
        for (int x = from; x < to; ++x) out[x] = a[x] == b[x] ? a[x] : Mix(a[x], b[x], weight);
    }
    SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(window);
}

// The whole factor that enlarges `area` for sharp scaling; 0 when the
// picture is drawn into it directly (nearest, a whole multiple already, or
// a renderer that cannot draw into textures).
int EnlargedFactor(const Presenter& p, const SDL_Rect& area) {
    if (options.scaling != Scaling::Sharp || !p.targets) return 0;
    if (area.w % kWidth == 0 && area.h % kHeight == 0) return 0;
    const int factor = std::max((area.w + kWidth - 1) / kWidth, (area.h + kHeight - 1) / kHeight);
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(p.renderer, &info) == 0 && info.max_texture_width > 0 &&
        (factor * kWidth > info.max_texture_width || factor * kHeight > info.max_texture_height)) {
        return 0;
    }
    return factor;
}

// Through the renderer: the whole picture into the texture, scaled by the GPU.
void PresentToRenderer(Presenter& p, const std::uint8_t* pixels, int pitch) {
    void* texels = nullptr;
    int texturePitch = 0;
    if (SDL_LockTexture(p.texture, nullptr, &texels, &texturePitch) != 0) return;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* in = pixels + static_cast<size_t>(y) * pitch;
        std::uint8_t* kept = p.shown.data() + static_cast<size_t>(y) * kWidth;
        if (in != kept) std::memcpy(kept, in, kWidth);
        backend::LookUpRow(in, p.lookup,
                           reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(texels) +
                                                            static_cast<size_t>(y) * texturePitch));
    }
    SDL_UnlockTexture(p.texture);
    int w = 0, h = 0;
    SDL_GetRendererOutputSize(p.renderer, &w, &h);
    const SDL_Rect area = PictureArea(w, h);
    const int factor = EnlargedFactor(p, area);
    if (factor != p.enlargedFactor) {
        if (p.enlarged != nullptr) SDL_DestroyTexture(p.enlarged);
        p.enlarged = nullptr;
        if (factor != 0) {
            p.enlarged =
                SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET,
                                  factor * kWidth, factor * kHeight);
            if (p.enlarged != nullptr) SDL_SetTextureScaleMode(p.enlarged, SDL_ScaleModeLinear);
        }
        p.enlargedFactor = p.enlarged != nullptr ? factor : 0;
    }
    SDL_Texture* shown = p.texture;
    if (p.enlarged != nullptr && SDL_SetRenderTarget(p.renderer, p.enlarged) == 0) {
        SDL_RenderCopy(p.renderer, p.texture, nullptr, nullptr);
        SDL_SetRenderTarget(p.renderer, nullptr);
        shown = p.enlarged;
    }
    SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
    SDL_RenderClear(p.renderer);
    SDL_RenderCopy(p.renderer, shown, nullptr, &area);
    SDL_RenderPresent(p.renderer);
}

bool SameAsShown(const Presenter& p, const std::uint8_t* pixels, int pitch,
                 const std::uint32_t lookup[256]) {
    return p.valid && backend::SamePicture(p.shown.data(), p.lookup, pixels, pitch, lookup);
}

// The window's size on the display it is on: the largest whole multiple of
// the picture that fits the usable part of the display, at least 1x.
void WindowedSize(int display, int* width, int* height) {
    SDL_Rect usable{0, 0, kWidth, kHeight};
    if (SDL_GetDisplayUsableBounds(display, &usable) != 0) SDL_GetDisplayBounds(display, &usable);
    const int factor = std::max(1, std::min(usable.w / kWidth, usable.h / kHeight));
    *width = factor * kWidth;
    *height = factor * kHeight;
}

}  // namespace

namespace sdl {

bool EnsureVideo() {
    static bool failedForGood = false;  // no display now means none later
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
    if (failedForGood) return false;
    // The game draws in whole pixels: nearest-neighbour unless asked otherwise.
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
    // Controllers are welcome but not needed: the keyboard plays the game.
    SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);
    return true;
}

SDL_Window* Window() {
    return window;
}

void RedrawPicture() {
    Presenter& p = presenter;
    if (!p.open || !p.valid) return;
    if (p.windowSurface) {
        PresentToWindow(p, p.shown.data(), kWidth, true);
    } else {
        PresentToRenderer(p, p.shown.data(), kWidth);
    }
}

void ToggleFullScreen() {
    if (window == nullptr) return;
    const int display = std::max(0, SDL_GetWindowDisplayIndex(window));
    if ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) == 0) {
        // Over the whole of the screen the window is on, borderless, so that
        // it covers the screen even without a window manager.
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(display, &bounds) != 0) return;
        SDL_SetWindowBordered(window, SDL_FALSE);
        SDL_SetWindowPosition(window, bounds.x, bounds.y);
        SDL_SetWindowSize(window, bounds.w, bounds.h);
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
        int width = 0, height = 0;
        WindowedSize(display, &width, &height);
        SDL_SetWindowFullscreen(window, 0);
        SDL_SetWindowBordered(window, SDL_TRUE);
        SDL_SetWindowResizable(window, SDL_TRUE);
        SDL_SetWindowSize(window, width, height);
        SDL_SetWindowPosition(window, SDL_WINDOWPOS_CENTERED_DISPLAY(display),
                              SDL_WINDOWPOS_CENTERED_DISPLAY(display));
    }
    RedrawPicture();
}

}  // namespace sdl

namespace backend {

void ShowNothing() {
    // SDL's dummy drivers: a window and a sound device that are nowhere.
    showNothing = true;
    SDL_setenv("SDL_VIDEODRIVER", "dummy", 1);
    SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
}

bool TakeOptions(int argc, char** argv, const char** error) {
    for (int i = 0; i < argc; ++i) {
        const char* option = argv[i];
        if (SDL_strcmp(option, "--window") == 0) {
            options.window = true;
        } else if (SDL_strcmp(option, "--fullscreen") == 0) {
            options.window = false;
        } else if (SDL_strcmp(option, "--scale=sharp") == 0) {
            options.scaling = Scaling::Sharp;
        } else if (SDL_strcmp(option, "--scale=nearest") == 0) {
            options.scaling = Scaling::Nearest;
        } else {
            *error = option;
            return false;
        }
    }
    return true;
}

const char* OptionsHelp() {
    return "  --window          start in a window (Alt+Enter or F11 switch while playing)\n"
           "  --fullscreen      start on the whole screen (the default)\n"
           "  --scale=sharp     every picture pixel the same size, edges crisp (the default)\n"
           "  --scale=nearest   each screen pixel from the nearest picture pixel: hard edges,\n"
           "                    uneven at sizes that are no whole multiple of 640 x 480\n";
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
    if (options.window) {
        WindowedSize(0, &width, &height);
        window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                                  height, SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
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
    // window instead, whole, with black bars.
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
    const bool known = SDL_GetRendererInfo(p.renderer, &info) == 0;
    p.vsync = known && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
    p.targets = known && (info.flags & SDL_RENDERER_TARGETTEXTURE) != 0;
    p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                  kWidth, kHeight);
    if (p.texture == nullptr) {
        ClosePresenter();
        return false;
    }
    SDL_SetTextureScaleMode(p.texture, SDL_ScaleModeNearest);
    p.open = true;
    return true;
}

void ClosePresenter() {
    if (presenter.enlarged != nullptr) SDL_DestroyTexture(presenter.enlarged);
    if (presenter.texture != nullptr) SDL_DestroyTexture(presenter.texture);
    if (presenter.renderer != nullptr) SDL_DestroyRenderer(presenter.renderer);
    presenter = Presenter{};
}

bool Present(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    Presenter& p = presenter;
    if (!p.open || showNothing) return false;
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

}  // namespace backend
