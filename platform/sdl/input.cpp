// The SDL2 backend's input: the keyboard's game keys and the game
// controllers' buttons (mapped as platform/desktop/controller.h says), close
// requests, focus changes, and the switch between full screen and a window.
#include <cstdint>
#include <vector>

#include "platform/backend.h"
#include "platform/desktop/controller.h"
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
        case SDL_SCANCODE_M:
            return 'M';  // the jewels' marks
        default:
            return 0;
    }
}

desktop::Pad PadPart(int button) {
    switch (button) {
        case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
            return desktop::Pad::DpadLeft;
        case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
            return desktop::Pad::DpadRight;
        case SDL_CONTROLLER_BUTTON_A:
            return desktop::Pad::A;
        case SDL_CONTROLLER_BUTTON_B:
            return desktop::Pad::B;
        case SDL_CONTROLLER_BUTTON_BACK:
            return desktop::Pad::Back;
        default:
            return desktop::Pad::Other;
    }
}

std::vector<SDL_GameController*> controllers;

void Translate(const SDL_Event& in) {
    switch (in.type) {
        case SDL_QUIT:
            desktop::Queue({backend::Event::Close, 0});
            return;
        case SDL_WINDOWEVENT:
            switch (in.window.event) {
                case SDL_WINDOWEVENT_CLOSE:
                    desktop::Queue({backend::Event::Close, 0});
                    return;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    desktop::FocusLost();
                    return;
                case SDL_WINDOWEVENT_EXPOSED:
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                case SDL_WINDOWEVENT_DISPLAY_CHANGED:
                    sdl::RedrawPicture();
                    return;
                default:
                    return;
            }
        case SDL_KEYDOWN: {
            const SDL_Scancode code = in.key.keysym.scancode;
            const bool alt = (in.key.keysym.mod & KMOD_ALT) != 0;
            // Without a window manager nobody else turns Alt+F4 into a close.
            if (code == SDL_SCANCODE_F4 && alt) {
                desktop::Queue({backend::Event::Close, 0});
                return;
            }
            // The Enter of Alt+Enter is not the game's.
            if (code == SDL_SCANCODE_F11 ||
                (alt && (code == SDL_SCANCODE_RETURN || code == SDL_SCANCODE_KP_ENTER))) {
                if (in.key.repeat == 0) sdl::ToggleFullScreen();
                return;
            }
            desktop::Press(code, VirtualKey(code), true);
            return;
        }
        case SDL_KEYUP:
            desktop::Press(in.key.keysym.scancode, VirtualKey(in.key.keysym.scancode), false);
            return;
        case SDL_CONTROLLERDEVICEADDED:
            if (SDL_GameController* controller = SDL_GameControllerOpen(in.cdevice.which))
                controllers.push_back(controller);
            return;
        case SDL_CONTROLLERDEVICEREMOVED:
            desktop::LetGo(in.cdevice.which);
            for (size_t i = 0; i < controllers.size(); ++i) {
                SDL_Joystick* joystick = SDL_GameControllerGetJoystick(controllers[i]);
                if (SDL_JoystickInstanceID(joystick) != in.cdevice.which) continue;
                SDL_GameControllerClose(controllers[i]);
                controllers.erase(controllers.begin() + static_cast<long>(i));
                break;
            }
            return;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            desktop::PressPad(in.cbutton.which, PadPart(in.cbutton.button),
                              in.type == SDL_CONTROLLERBUTTONDOWN);
            return;
        case SDL_CONTROLLERAXISMOTION:
            if (in.caxis.axis == SDL_CONTROLLER_AXIS_LEFTX)
                desktop::Stick(in.caxis.which, in.caxis.value);
            return;
        default:
            return;
    }
}

// SDL looks for controllers plugged in or out at every gathering of events,
// at the cost of a few system calls, and the core gathers them at every key
// poll and message read, five times in a play frame. With no controller open
// there are only those comings to look for, a few times a second; an open
// one's buttons and stick are read at every gathering, as SDL would.
constexpr std::uint64_t kLookForControllersMicroseconds = 100000;
bool lookedForControllers = false;
std::uint64_t lookedForControllersAt = 0;

void UpdateControllers() {
    const std::uint64_t now = backend::Microseconds();
    if (controllers.empty() && lookedForControllers &&
        now - lookedForControllersAt < kLookForControllersMicroseconds) {
        return;
    }
    lookedForControllers = true;
    lookedForControllersAt = now;
    SDL_GameControllerUpdate();
}

}  // namespace

namespace sdl {

void TakeOverControllerUpdates() {
    SDL_SetHint(SDL_HINT_AUTO_UPDATE_JOYSTICKS, "0");
}

}  // namespace sdl

namespace backend {

bool PollEvent(Event* event) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
    if (SDL_WasInit(SDL_INIT_GAMECONTROLLER) != 0) UpdateControllers();
    SDL_Event in;
    while (!desktop::EventWaiting() && SDL_PollEvent(&in)) Translate(in);
    return desktop::TakeEvent(event);
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
