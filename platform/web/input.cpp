// The page's input: the keyboard, the page's on-screen buttons (through
// Module.vnKey) and game controllers, queued by the page's listeners and read
// by the core's PollEvent. A queued event also ends a wait for input
// (Module.vnWake, set by web_backend.cpp's wait).
#include <emscripten.h>

#include "platform/backend.h"
#include "platform/web/page.h"

namespace {

// Events travel from the page's listeners to PollEvent through a queue of
// numbers: the kind times 2^20 plus the key. The kinds' values and that
// factor come from here when the listeners are attached.
constexpr int kKindShift = 20;

// clang-format off
EM_JS(void, vn_attach_input, (int keyDown, int keyUp, int focusLost, int advanceKey,
                              int kindFactor), {
    const VK_BACK = 0x08, VK_RETURN = 0x0D, VK_SPACE = 0x20, VK_ESCAPE = 0x1B,
          VK_LEFT = 0x25, VK_RIGHT = 0x27, VK_M = 0x4D;
    const keys = {ArrowLeft: VK_LEFT, ArrowRight: VK_RIGHT, Enter: VK_RETURN,
                  NumpadEnter: VK_RETURN, Space: VK_SPACE, Backspace: VK_BACK,
                  Escape: VK_ESCAPE, KeyM: VK_M};
    const events = Module['vnEvents'] = [];
    const push = (kind, key) => {
        events.push(kind * kindFactor + key);
        const wake = Module['vnWake'];
        Module['vnWake'] = null;
        if (wake) wake();
    };
    // The page's on-screen buttons press keys through this.
    Module['vnKey'] = (vk, down) => push(down ? keyDown : keyUp, vk);
    const onKey = (down) => (e) => {
        const vk = keys[e.code] || (e.key === ' ' ? VK_SPACE : keys[e.key]);
        // Keys typed into the page's fields (a hall of fame's initials) are theirs.
        if (!vk || (e.target && e.target.tagName === 'INPUT')) return;
        // Arrows and Space must not scroll the page, Backspace must not go
        // back, and Enter or Space must not press a focused button.
        e.preventDefault();
        if (down && e.repeat) return;
        push(down ? keyDown : keyUp, vk);
    };
    window.addEventListener('keydown', onKey(true), true);
    window.addEventListener('keyup', onKey(false), true);

    // Game controllers with the standard mapping, as on the desktop: the
    // d-pad and the left stick move, A goes on as the screen asks, B is
    // Backspace, Back (Select) is Esc. The browser reports no presses, so the
    // page reads the controllers 60 times a second while one is plugged in
    // and the page is in front, and not at all otherwise.
    const pressed = (pad, button) => !!pad.buttons[button] && pad.buttons[button].pressed;
    const padKeys = [
        [VK_LEFT, (pad) => pressed(pad, 14) || pad.axes[0] < -0.5],
        [VK_RIGHT, (pad) => pressed(pad, 15) || pad.axes[0] > 0.5],
        [advanceKey, (pad) => pressed(pad, 0)],
        [VK_BACK, (pad) => pressed(pad, 1)],
        [VK_ESCAPE, (pad) => pressed(pad, 8)],
    ];
    const padHeld = padKeys.map(() => false);
    let padTimer = 0;
    const pollPads = () => {
        const all = (!document.hidden && navigator.getGamepads && navigator.getGamepads()) || [];
        const pads = Array.from(all).filter((pad) => pad && pad.connected &&
                                                     pad.mapping === 'standard');
        // A controller unplugged, or a page hidden, lets go of its keys.
        padKeys.forEach(([vk, held], i) => {
            const now = pads.some(held);
            if (now !== padHeld[i]) {
                padHeld[i] = now;
                push(now ? keyDown : keyUp, vk);
            }
        });
        if (pads.length && !Module['padSeen']) {
            Module['padSeen'] = true;
            if (Module['onPadSeen']) Module['onPadSeen']();
        }
        padTimer = pads.length ? setTimeout(pollPads, 16) : 0;
    };
    const watchPads = () => { if (!padTimer) pollPads(); };

    // Listening is not free: from the moment a page listens for controllers
    // until it stops, the browser reads them 60 times a second in a thread of
    // its own, two per cent of a core where a page at rest takes nothing.
    // So until this browser has seen a controller of the player's, the page
    // listens one second in every three: a controller announces itself with a
    // press, and one held or pressed again is noticed within three seconds.
    // Once one has been seen (remembered by the page for later visits) the
    // page listens all the time.
    let listening = false, turn = 0;
    const listen = (on) => {
        if (on === listening) return;
        listening = on;
        for (const name of ['gamepadconnected', 'gamepaddisconnected']) {
            if (on) window.addEventListener(name, watchPads);
            else window.removeEventListener(name, watchPads);
        }
        // Asked only while listening: asking starts the browser's reading.
        if (on) watchPads();
    };
    const takeTurns = () => {
        clearTimeout(turn);
        turn = 0;
        if (document.hidden) return listen(false);
        if (Module['padSeen']) return listen(true);
        listen(!listening);
        turn = setTimeout(takeTurns, listening ? 1000 : 2000);
    };
    takeTurns();

    // A key let go while the page is not in front is never reported.
    window.addEventListener('blur', () => push(focusLost, 0));
    document.addEventListener('visibilitychange', () => {
        if (document.hidden) push(focusLost, 0);
        if (listening) watchPads();
        takeTurns();
    });
});

EM_JS(int, vn_next_event, (), {
    const events = Module['vnEvents'];
    return events && events.length ? events.shift() : -1;
});
// clang-format on

bool attached = false;

}  // namespace

namespace web {

void AttachInput() {
    if (attached) return;
    vn_attach_input(backend::Event::KeyDown, backend::Event::KeyUp, backend::Event::FocusLost,
                    backend::kAdvanceKey, 1 << kKindShift);
    attached = true;
}

}  // namespace web

namespace backend {

bool PollEvent(Event* event) {
    if (!web::OnPage()) return false;
    // A loop that calls nothing that waits still lets the page draw and take
    // input now and then.
    web::YieldIfBusy();
    const int next = vn_next_event();
    if (next < 0) return false;
    event->kind = static_cast<Event::Kind>(next >> kKindShift);
    event->key = next & ((1 << kKindShift) - 1);
    return true;
}

}  // namespace backend
