// The SDL2 backend's presenter: shows the core's 640 x 480 pictures in the
// window, scaled as platform/desktop/scaler.h says.
//
// On a GPU the renderer does it: a streaming texture of the picture, drawn
// with nearest into a render target at the whole factor, which is drawn
// into the area with linear filtering. Without an accelerated renderer
// (SDL's dummy driver, a machine without a GPU) the picture goes straight
// into the window's own surface through the desktop backends' span scaler.
#include <SDL_opengl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/backend.h"
#include "platform/desktop/scaler.h"
#include "platform/desktop/settings.h"
#include "platform/sdl/sdl_backend.h"

namespace {

constexpr int kWidth = desktop::kPictureWidth;
constexpr int kHeight = desktop::kPictureHeight;

struct Presenter {
    bool open = false;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;   // the picture
    SDL_Texture* enlarged = nullptr;  // the picture at the whole factor (sharp scaling)
    int enlargedFactor = 0;
    bool targets = false;  // the renderer draws into textures
    bool vsync = false;    // the renderer's present waits for the vertical blank

    // Through the renderer: the picture as the window shows it, so that an
    // unchanged one is not sent again and a lost one is drawn again (the
    // span presenter keeps its own when presenting into the window's
    // surface).
    std::vector<std::uint8_t> shown;
    std::uint32_t lookup[256] = {};
    bool valid = false;  // `shown` and `lookup` are what the window shows

    bool windowSurface = false;            // presenting into the window's surface
    const SDL_Surface* shownOn = nullptr;  // the surface it went to
};

Presenter presenter;
desktop::SpanPresenter spans;

bool IsXrgbSurface(const SDL_Surface* surface) {
    return surface != nullptr && (surface->format->format == SDL_PIXELFORMAT_RGB888 ||
                                  surface->format->format == SDL_PIXELFORMAT_ARGB8888);
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

// The changed spans of the picture into the window's surface (all of it
// after a palette change or on a new window surface); with no picture, the
// last one again, all of it. The span presenter finds an unchanged picture
// unchanged, row by row, and draws nothing.
void PresentToWindow(const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    SDL_Surface* surface = SDL_GetWindowSurface(sdl::Window());  // follows resizes
    if (!IsXrgbSurface(surface)) return;
    const bool all = surface != presenter.shownOn;
    presenter.shownOn = surface;
    if (SDL_LockSurface(surface) != 0) return;
    desktop::Surface target{static_cast<std::uint32_t*>(surface->pixels), surface->pitch,
                            surface->w, surface->h};
    const desktop::Rect changed =
        pixels == nullptr
            ? spans.Redraw(target, desktop::settings.scaling)
            : spans.Present(target, pixels, pitch, lookup, desktop::settings.scaling, all);
    SDL_UnlockSurface(surface);
    if (changed.w > 0) {
        const SDL_Rect rect{changed.x, changed.y, changed.w, changed.h};
        SDL_UpdateWindowSurfaceRects(sdl::Window(), &rect, 1);
    }
}

// The whole factor that enlarges `area` for sharp scaling; 0 when the
// picture is drawn into it directly (nearest, a whole multiple already, or
// a renderer that cannot draw into textures).
int EnlargedFactor(const Presenter& p, const SDL_Rect& area) {
    if (desktop::settings.scaling != desktop::Scaling::Sharp || !p.targets) return 0;
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
    const desktop::Rect place = desktop::PictureArea(w, h);
    const SDL_Rect area{place.x, place.y, place.w, place.h};
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

}  // namespace

namespace sdl {

void RedrawPicture() {
    Presenter& p = presenter;
    if (!p.open || !p.valid) return;
    if (p.windowSurface) {
        PresentToWindow(nullptr, 0, nullptr);
    } else {
        PresentToRenderer(p, p.shown.data(), kWidth);
    }
}

}  // namespace sdl

namespace backend {

bool OpenPresenter() {
    if (presenter.open) return true;
    SDL_Window* window = sdl::Window();
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
        spans.Forget();
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
    if (!p.open || desktop::showNothing) return false;
    if (p.windowSurface) {
        PresentToWindow(pixels, pitch, lookup);
        p.valid = true;
        return false;
    }
    // A picture the window already shows is not sent again: the menu screens
    // present the same picture frame after frame.
    if (SameAsShown(p, pixels, pitch, lookup)) return false;
    std::memcpy(p.lookup, lookup, sizeof p.lookup);
    const Uint64 start = SDL_GetPerformanceCounter();
    PresentToRenderer(p, pixels, pitch);
    p.valid = true;
    // A driver may grant vsync and still return at once (a virtual display):
    // only a present that waited a few milliseconds counts as paced.
    const Uint64 took = SDL_GetPerformanceCounter() - start;
    return p.vsync && took * 1000 > SDL_GetPerformanceFrequency() * 3;
}

}  // namespace backend
