// The SDL2 backend's input: the keyboard's game keys and the game
// controllers' buttons as virtual-key codes, close requests, focus changes,
// and the switch between full screen and a window.
//
// A controller plays like the keyboard: the d-pad and the left stick are
// Left and Right, A is the screen's advance key (Enter or Space, whichever
// the screen waits for), B is Backspace and Back is Esc. Several things may
// hold one key at once (the Left arrow, the d-pad, the stick): the key goes
// down with the first and up with the last.
#include <vector>

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
        case SDL_SCANCODE_M:
            return 'M';  // the jewels' marks
        default:
            return 0;
    }
}

int ControllerKey(int button) {
    switch (button) {
        case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
            return VK_LEFT;
        case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
            return VK_RIGHT;
        case SDL_CONTROLLER_BUTTON_A:
            return backend::kAdvanceKey;
        case SDL_CONTROLLER_BUTTON_B:
            return VK_BACK;
        case SDL_CONTROLLER_BUTTON_BACK:
            return VK_ESCAPE;
        default:
            return 0;
    }
}

// Who holds what: a keyboard key is its scancode, a controller's button or
// stick direction is its instance and part, marked by the top bit.
using Source = std::uint32_t;
constexpr Source kController = 0x80000000u;
constexpr int kStickLeft = 62, kStickRight = 63;  // beyond SDL's buttons
Source ControllerPart(SDL_JoystickID instance, int part) {
    return kController | static_cast<Source>(instance) << 6 | static_cast<Source>(part);
}

// The stick counts as pushed past half way and as let go back inside a
// quarter, so that a stick resting near the edge does not flicker.
constexpr int kStickPush = 16384, kStickLetGo = 8192;

struct Hold {
    Source source;
    int key;
};
std::vector<Hold> holds;
std::vector<backend::Event> waiting;  // translated, not yet handed over
std::vector<SDL_GameController*> controllers;

bool Held(int key) {
    for (const Hold& hold : holds) {
        if (hold.key == key) return true;
    }
    return false;
}

void Press(Source source, int key, bool down) {
    if (key == 0) return;
    for (size_t i = 0; i < holds.size(); ++i) {
        if (holds[i].source != source) continue;
        if (down) return;  // already held
        holds.erase(holds.begin() + static_cast<long>(i));
        if (!Held(key)) waiting.push_back({backend::Event::KeyUp, key});
        return;
    }
    if (!down) return;  // not held (let go of while the program was elsewhere)
    if (!Held(key)) waiting.push_back({backend::Event::KeyDown, key});
    holds.push_back({source, key});
}

// Everything a controller holds goes up with it.
void LetGo(SDL_JoystickID instance) {
    for (size_t i = holds.size(); i-- > 0;) {
        const Hold hold = holds[i];
        if ((hold.source & kController) == 0 ||
            ((hold.source & ~kController) >> 6) != static_cast<Source>(instance)) {
            continue;
        }
        holds.erase(holds.begin() + static_cast<long>(i));
        if (!Held(hold.key)) waiting.push_back({backend::Event::KeyUp, hold.key});
    }
}

void Stick(SDL_JoystickID instance, int value) {
    const Source left = ControllerPart(instance, kStickLeft);
    const Source right = ControllerPart(instance, kStickRight);
    if (value < -kStickPush) Press(left, VK_LEFT, true);
    if (value > -kStickLetGo) Press(left, VK_LEFT, false);
    if (value > kStickPush) Press(right, VK_RIGHT, true);
    if (value < kStickLetGo) Press(right, VK_RIGHT, false);
}

void Translate(const SDL_Event& in) {
    switch (in.type) {
        case SDL_QUIT:
            waiting.push_back({backend::Event::Close, 0});
            return;
        case SDL_WINDOWEVENT:
            switch (in.window.event) {
                case SDL_WINDOWEVENT_CLOSE:
                    waiting.push_back({backend::Event::Close, 0});
                    return;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    // The core lets go of every key.
                    holds.clear();
                    waiting.push_back({backend::Event::FocusLost, 0});
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
                waiting.push_back({backend::Event::Close, 0});
                return;
            }
            // The Enter of Alt+Enter is not the game's.
            if (code == SDL_SCANCODE_F11 ||
                (alt && (code == SDL_SCANCODE_RETURN || code == SDL_SCANCODE_KP_ENTER))) {
                if (in.key.repeat == 0) sdl::ToggleFullScreen();
                return;
            }
            Press(code, VirtualKey(code), true);
            return;
        }
        case SDL_KEYUP:
            Press(in.key.keysym.scancode, VirtualKey(in.key.keysym.scancode), false);
            return;
        case SDL_CONTROLLERDEVICEADDED:
            if (SDL_GameController* controller = SDL_GameControllerOpen(in.cdevice.which))
                controllers.push_back(controller);
            return;
        case SDL_CONTROLLERDEVICEREMOVED:
            LetGo(in.cdevice.which);
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
            Press(ControllerPart(in.cbutton.which, in.cbutton.button),
                  ControllerKey(in.cbutton.button), in.type == SDL_CONTROLLERBUTTONDOWN);
            return;
        case SDL_CONTROLLERAXISMOTION:
            if (in.caxis.axis == SDL_CONTROLLER_AXIS_LEFTX) Stick(in.caxis.which, in.caxis.value);
            return;
        default:
            return;
    }
}

}  // namespace

namespace backend {

bool PollEvent(Event* event) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
    SDL_Event in;
    while (waiting.empty() && SDL_PollEvent(&in)) Translate(in);
    if (waiting.empty()) return false;
    *event = waiting.front();
    waiting.erase(waiting.begin());
    return true;
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
