// The SDL2 backend's input: the keyboard's six keys as virtual-key codes,
// close requests and focus changes.
#include "platform/backend.h"
#include "platform/sdl/sdl_backend.h"
#include "platform/standin_windows.h"

namespace {

int VirtualKey(SDL_Scancode code) {
    switch (code) {
        case SDL_SCANCODE_LEFT:
            return VK_LEFT;
        case SDL_SCANCODE_RIGHT:
            return VK_RIGHT;
        case SDL_SCANCODE_RETURN:
        case SDL_SCANCODE_KP_ENTER:
            return VK_RETURN;
        case SDL_SCANCODE_SPACE:
            return VK_SPACE;
        case SDL_SCANCODE_BACKSPACE:
            return VK_BACK;
        case SDL_SCANCODE_ESCAPE:
            return VK_ESCAPE;
        default:
            return 0;
    }
}

// Turns one SDL event into ours; false for the events the core has no use for.
bool Translate(const SDL_Event& in, backend::Event* out) {
    switch (in.type) {
        case SDL_QUIT:
            *out = {backend::Event::Close, 0};
            return true;
        case SDL_WINDOWEVENT:
            switch (in.window.event) {
                case SDL_WINDOWEVENT_CLOSE:
                    *out = {backend::Event::Close, 0};
                    return true;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    *out = {backend::Event::FocusLost, 0};
                    return true;
                case SDL_WINDOWEVENT_EXPOSED:
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                case SDL_WINDOWEVENT_DISPLAY_CHANGED:
                    sdl::InvalidatePicture();
                    return false;
                default:
                    return false;
            }
        case SDL_KEYDOWN:
            // Without a window manager nobody else turns Alt+F4 into a close.
            if (in.key.keysym.scancode == SDL_SCANCODE_F4 && (in.key.keysym.mod & KMOD_ALT) != 0) {
                *out = {backend::Event::Close, 0};
                return true;
            }
            if (in.key.repeat != 0) return false;
            *out = {backend::Event::KeyDown, VirtualKey(in.key.keysym.scancode)};
            return out->key != 0;
        case SDL_KEYUP:
            *out = {backend::Event::KeyUp, VirtualKey(in.key.keysym.scancode)};
            return out->key != 0;
        default:
            return false;
    }
}

}  // namespace

namespace backend {

bool PollEvent(Event* event) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
    SDL_Event in;
    while (SDL_PollEvent(&in)) {
        if (Translate(in, event)) return true;
    }
    return false;
}

void WaitForEvent(int milliseconds) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        SleepUntil(Microseconds() + static_cast<std::uint64_t>(milliseconds) * 1000);
        return;
    }
    // Leaves the event in the queue for PollEvent.
    SDL_WaitEventTimeout(nullptr, milliseconds);
}

}  // namespace backend
