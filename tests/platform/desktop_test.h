// Shared by the desktop backend's tests: a virtual game controller, and
// keyboard events pushed through SDL as the keyboard would send them.
#pragma once

#include <SDL.h>

namespace desktoptest {

// A game controller plugged in for the life of the object. SDL's virtual
// joystick with the standard controller's buttons and axes, numbered as
// SDL_GameControllerButton and SDL_GameControllerAxis number them.
class VirtualController {
  public:
    VirtualController() {
        // No window of the dummy driver has the focus, which would hold back
        // a controller's events.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
        desc.axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
        desc.name = "test controller";
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        joystick_ = index >= 0 ? SDL_JoystickOpen(index) : nullptr;
    }
    ~VirtualController() { Unplug(); }

    bool Plugged() const { return joystick_ != nullptr; }
    void Button(SDL_GameControllerButton button, bool down) {
        SDL_JoystickSetVirtualButton(joystick_, button, down ? 1 : 0);
    }
    void LeftStickX(Sint16 value) {
        SDL_JoystickSetVirtualAxis(joystick_, SDL_CONTROLLER_AXIS_LEFTX, value);
    }
    void Unplug() {
        if (joystick_ == nullptr) return;
        const SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
        SDL_JoystickClose(joystick_);
        joystick_ = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
        }
    }

  private:
    SDL_Joystick* joystick_ = nullptr;
};

inline void PushKey(SDL_Scancode code, bool down, Uint16 mod = KMOD_NONE) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = code;
    event.key.keysym.sym = SDL_GetKeyFromScancode(code);
    event.key.keysym.mod = mod;
    SDL_PushEvent(&event);
}

}  // namespace desktoptest
