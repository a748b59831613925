// Polled keyboard (GetAsyncKeyState) and the millisecond tick counter
// (GetTickCount), real or, under the test seam, scripted and virtual.
#include <cstdio>
#include <cstdlib>

#include "platform/standin_internal.h"

namespace standin {

namespace {

// The six keys the game polls.
constexpr int kKeys[] = {VK_LEFT, VK_RIGHT, VK_RETURN, VK_SPACE, VK_BACK, VK_ESCAPE};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

struct KeyState {
    bool held = false;
    // Pressed since this key was last polled: a tap that begins and ends
    // between two polls still reads as held once.
    bool pressedSincePoll = false;
};
KeyState keys[kKeyCount];

int KeySlot(int vk) {
    for (int i = 0; i < kKeyCount; ++i) {
        if (kKeys[i] == vk) return i;
    }
    return -1;
}

// A game that polls keys for ever without the clock moving and without a
// picture being presented can never be steered by a test: stop it loudly.
constexpr long kPollsWithoutProgress = 20000000;

}  // namespace

std::vector<ScriptedKey> scriptedKeys;

void KeyEvent(int vk, bool down) {
    int slot = KeySlot(vk);
    if (slot < 0) return;
    if (down && !keys[slot].held) keys[slot].pressedSincePoll = true;
    keys[slot].held = down;
}

void ReleaseKeys() {
    for (KeyState& key : keys) key.held = false;
}

void ResetKeys() {
    for (KeyState& key : keys) key = KeyState{};
    scriptedKeys.clear();
}

void SeamHoldKey(int vk, bool held) {
    int slot = KeySlot(vk);
    if (slot < 0) Unsupported("seam::HoldKey", "key 0x%X is not one the game polls", vk);
    KeyEvent(vk, held);
}

void SeamTapKey(int vk) {
    int slot = KeySlot(vk);
    if (slot < 0) Unsupported("seam::TapKey", "key 0x%X is not one the game polls", vk);
    keys[slot].pressedSincePoll = true;
}

bool SeamKeyHeld(int vk) {
    for (const ScriptedKey& script : scriptedKeys) {
        if (script.vk == vk && static_cast<DWORD>(seamState.tick - script.from) <
                                   static_cast<DWORD>(script.until - script.from)) {
            return true;
        }
    }
    return false;
}

DWORD CurrentTick() {
    if (seamState.active && !seamState.realClock) return seamState.tick;
    // The system's counter is 32 bits of milliseconds and wraps after 49.7 days.
    // It moves only on the system timer's interrupt, 64 times a second, so it
    // steps by 15 or 16 ms. The game relies on that: it starts a jewel when the
    // count is a multiple of 5, and with a counter exact to the millisecond its
    // 30 ms frames would find the same remainder frame after frame, starting
    // jewels on every frame or on none.
    const Uint64 interrupts = SDL_GetTicks64() * 64 / 1000;
    return static_cast<DWORD>(interrupts * 1000 / 64);
}

}  // namespace standin

using namespace standin;

// Only bit 0x8000 (held now, or pressed since this key's last poll) is
// reported. The low bit, "pressed since the last call", is never set: it is
// unreliable on the system too and the game does not read it.
SHORT WINAPI GetAsyncKeyState(int vk) {
    int slot = KeySlot(vk);
    if (slot < 0) {
        Unsupported(
            "GetAsyncKeyState",
            "only VK_LEFT, VK_RIGHT, VK_RETURN, VK_SPACE, VK_BACK, VK_ESCAPE are supported, "
            "got 0x%X",
            vk);
    }
    // The game polls keys in long loops without taking messages, so every
    // poll brings the event queue up to date.
    PumpEvents();
    bool scripted = false;
    if (seamState.active) {
        if (seamState.pollHook) seamState.pollHook();
        scripted = SeamKeyHeld(vk);
        if (++seamState.pollsWithoutProgress > kPollsWithoutProgress) {
            std::fprintf(stderr,
                         "seam: %ld key polls at tick %u without the clock moving or a frame "
                         "shown: the game is stuck waiting for a key\n",
                         seamState.pollsWithoutProgress, seamState.tick);
            std::abort();
        }
    }
    KeyState& key = keys[slot];
    bool held = key.held || key.pressedSincePoll || scripted;
    key.pressedSincePoll = false;
    return static_cast<SHORT>(held ? 0x8000 : 0);
}

DWORD WINAPI GetTickCount(void) {
    if (!seamState.active || seamState.realClock) return CurrentTick();
    DWORD now = seamState.tick;
    seamState.tick += seamState.tickStep;
    seamState.pollsWithoutProgress = 0;
    CheckTickBudget();
    return now;
}
