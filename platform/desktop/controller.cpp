// The desktop backends' input queue and key holds (controller.h).
#include "platform/desktop/controller.h"

#include <vector>

#include "platform/standin_windows.h"

namespace desktop {

namespace {

constexpr Source kController = 0x80000000u;
constexpr int kStickLeft = 62, kStickRight = 63;  // beyond any button's number
constexpr int kStickPush = 16384, kStickLetGo = 8192;

struct Hold {
    Source source;
    int key;
};
std::vector<Hold> holds;
std::vector<backend::Event> waiting;  // translated, not yet handed over

bool Held(int key) {
    for (const Hold& hold : holds) {
        if (hold.key == key) return true;
    }
    return false;
}

int PadKey(Pad part) {
    switch (part) {
        case Pad::DpadLeft:
            return VK_LEFT;
        case Pad::DpadRight:
            return VK_RIGHT;
        case Pad::A:
            return backend::kAdvanceKey;
        case Pad::B:
            return VK_BACK;
        case Pad::Back:
            return VK_ESCAPE;
        default:
            return 0;
    }
}

Source Part(int controller, int part) {
    return kController | static_cast<Source>(controller) << 6 | static_cast<Source>(part);
}

}  // namespace

Source ControllerPart(int controller, Pad part) {
    return Part(controller, static_cast<int>(part));
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

void PressPad(int controller, Pad part, bool down) {
    Press(ControllerPart(controller, part), PadKey(part), down);
}

void Stick(int controller, int value) {
    const Source left = Part(controller, kStickLeft);
    const Source right = Part(controller, kStickRight);
    if (value < -kStickPush) Press(left, VK_LEFT, true);
    if (value > -kStickLetGo) Press(left, VK_LEFT, false);
    if (value > kStickPush) Press(right, VK_RIGHT, true);
    if (value < kStickLetGo) Press(right, VK_RIGHT, false);
}

void LetGo(int controller) {
    for (size_t i = holds.size(); i-- > 0;) {
        const Hold hold = holds[i];
        if ((hold.source & kController) == 0 ||
            ((hold.source & ~kController) >> 6) != static_cast<Source>(controller)) {
            continue;
        }
        holds.erase(holds.begin() + static_cast<long>(i));
        if (!Held(hold.key)) waiting.push_back({backend::Event::KeyUp, hold.key});
    }
}

void FocusLost() {
    holds.clear();
    waiting.push_back({backend::Event::FocusLost, 0});
}

void Queue(backend::Event event) {
    waiting.push_back(event);
}

bool TakeEvent(backend::Event* event) {
    if (waiting.empty()) return false;
    *event = waiting.front();
    waiting.erase(waiting.begin());
    return true;
}

bool EventWaiting() {
    return !waiting.empty();
}

}  // namespace desktop
