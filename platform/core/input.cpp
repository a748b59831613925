// The polled keyboard (GetAsyncKeyState): the six keys' state from the
// backend's events or, under the test seam, from scripts; a controller's
// advance button; and the wait of a loop that does nothing but poll.
#include <cstdio>
#include <cstdlib>

#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/run.h"

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

// Which of Enter and Space the game polled last: the one a controller's
// advance button stands for (each screen polls only one of them). 0: neither
// polled yet, and the button is Enter.
int lastAdvancePolled = 0;
int advanceHeldAs = 0;  // the key the advance button pressed, until it lets go

// Polls in a row with no other call and no key changing: past this many the
// game is plainly waiting for a key, and each further poll first waits for
// the next input event, this long at most (close requests are events too).
constexpr int kPollsBeforeWait = 100;
constexpr int kPollWaitMilliseconds = 10;
int idlePolls = 0;
bool keysChanged = false;

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
    if (vk == backend::kAdvanceKey) {
        if (down) advanceHeldAs = lastAdvancePolled != 0 ? lastAdvancePolled : VK_RETURN;
        vk = advanceHeldAs;
        if (!down) advanceHeldAs = 0;
    }
    int slot = KeySlot(vk);
    if (slot < 0) return;
    keysChanged = true;
    if (down && !keys[slot].held) keys[slot].pressedSincePoll = true;
    keys[slot].held = down;
}

void ReleaseKeys() {
    for (KeyState& key : keys) key.held = false;
}

void ResetKeys() {
    for (KeyState& key : keys) key = KeyState{};
    scriptedKeys.clear();
    lastAdvancePolled = advanceHeldAs = idlePolls = 0;
}

// A poll right after polls that changed nothing: past a while of them, waits
// for input (brought in at once) instead of spinning.
static void WaitIfOnlyPolling() {
    if (lastCall != LastCall::KeyPoll || keysChanged) {
        idlePolls = 0;
    } else if (++idlePolls >= kPollsBeforeWait) {
        realClock.waitForEvent(kPollWaitMilliseconds);
        PumpEvents();
        if (keysChanged) idlePolls = 0;
    }
    keysChanged = false;
    lastCall = LastCall::KeyPoll;
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
    keysChanged = true;
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
    if (runs::mode != runs::Mode::Off) runs::BeforeRead();
    // The game polls keys in long loops without taking messages, so every
    // poll brings the event queue up to date.
    PumpEvents();
    if (RealTime()) WaitIfOnlyPolling();
    if (vk == VK_RETURN || vk == VK_SPACE) lastAdvancePolled = vk;
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
    if (runs::mode != runs::Mode::Off) held = runs::Key(vk, held);
    return static_cast<SHORT>(held ? 0x8000 : 0);
}
