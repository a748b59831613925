// The polled keyboard (GetAsyncKeyState): the game's keys' state from the
// backend's events, a controller's advance button, and the wait of a loop
// that does nothing but poll.
#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/run.h"

namespace standin {

namespace {

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

// A poll right after polls that changed nothing: past a while of them, waits
// for input (brought in at once) instead of spinning.
void WaitIfOnlyPolling(bool afterPoll) {
    if (!afterPoll || keysChanged) {
        idlePolls = 0;
    } else if (++idlePolls >= kPollsBeforeWait) {
        activeClock.waitForEvent(kPollWaitMilliseconds);
        PumpEvents();
        if (keysChanged) idlePolls = 0;
    }
    keysChanged = false;
}

}  // namespace

bool IsPolledKey(int vk) {
    return KeySlot(vk) >= 0;
}

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

void TapKey(int vk) {
    int slot = KeySlot(vk);
    if (slot < 0) return;
    keys[slot].pressedSincePoll = true;
    keysChanged = true;
}

void ReleaseKeys() {
    for (KeyState& key : keys) key.held = false;
}

void ForgetKeys() {
    for (KeyState& key : keys) key = KeyState{};
    lastAdvancePolled = advanceHeldAs = idlePolls = 0;
    keysChanged = false;
}

}  // namespace standin

using namespace standin;

// Only bit 0x8000 (held now, or pressed since this key's last poll) is
// reported. The low bit, "pressed since the last call", is never set: it is
// unreliable on the system too and the game does not read it.
SHORT WINAPI GetAsyncKeyState(int vk) {
    const ApiCall call(Entry::GetAsyncKeyState);
    int slot = KeySlot(vk);
    if (slot < 0) {
        call.Unsupported(
            "only VK_LEFT, VK_RIGHT, VK_RETURN, VK_SPACE, VK_BACK, VK_ESCAPE, 'M' are supported, "
            "got 0x%X",
            vk);
    }
    // The game polls keys in long loops without taking messages, so every
    // poll brings the event queue up to date.
    PumpEvents();
    WaitIfOnlyPolling(call.Previous() == Entry::GetAsyncKeyState);
    if (vk == VK_RETURN || vk == VK_SPACE) lastAdvancePolled = vk;
    KeyState& key = keys[slot];
    bool held = key.held || key.pressedSincePoll;
    key.pressedSincePoll = false;
    if (runs::mode != runs::Mode::Off) held = runs::Key(vk, held);
    return static_cast<SHORT>(held ? 0x8000 : 0);
}
