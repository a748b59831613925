// The platform core's common ground: loud failure, the seam's failure
// injection, the event pump that every blocking-free call runs, and the
// unresponsive-program rule.
#include "platform/core/core.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/backend.h"
#include "platform/core/run.h"

// Armed by seam::FailNextAlloc, consumed by __wrap_malloc (vn_seam_malloc).
extern "C" {
int vn_seam_fail_allocs = 0;
long vn_seam_alloc_skip = 0;  // allocations let through before the failures
long vn_seam_alloc_uses = 0;  // allocations counted since the last Reset
}

namespace standin {

SeamState seamState;

void Unsupported(const char* call, const char* format, ...) {
    std::fprintf(stderr, "platform: %s: ", call);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

bool InjectedFailure(seam::Call call, HRESULT usual, HRESULT* result) {
    if (!seamState.active) return false;
    ++seamState.uses[static_cast<int>(call)];
    SeamState::Failure& failure = seamState.failures[static_cast<int>(call)];
    if (failure.count <= 0) return false;
    if (failure.skip > 0) {
        --failure.skip;
        return false;
    }
    --failure.count;
    *result = failure.result != 0 ? failure.result : usual;
    return true;
}

void CheckTickBudget() {
    if (seamState.budget != 0 &&
        static_cast<DWORD>(seamState.tick - seamState.budgetStart) >= seamState.budget) {
        std::fprintf(stderr,
                     "seam: tick budget of %u ms used up at tick %u: the game did not finish\n",
                     seamState.budget, seamState.tick);
        std::fflush(stderr);
        std::abort();
    }
}

// A close request that the message loop has not taken within this time is
// answered the way the system treats an unresponsive program: it is ended.
// The game's menu screens and end-of-level waits keep control for as long as
// the player likes, polling keys without taking messages; a user who closes
// the window, or a SIGINT/SIGTERM, must still end the program promptly. The
// program ends as after its own quit: cursor shown, exit code 0.
constexpr std::uint64_t kUnresponsiveMicroseconds = 1000000;

void PumpEvents() {
    // Tests drive keys and close requests through the seam alone, unless a
    // test of the backend's own input asks for its events.
    if ((seamState.active && !seamState.backendInput) || runs::Headless()) return;
    backend::Event event;
    while (backend::PollEvent(&event)) {
        // A run being played stops at the player's Esc or close.
        if (runs::mode == runs::Mode::Replaying &&
            (event.kind == backend::Event::Close ||
             (event.kind == backend::Event::KeyDown && event.key == VK_ESCAPE))) {
            runs::LiveEscape();
        }
        switch (event.kind) {
            case backend::Event::Close:
                RequestClose();
                break;
            case backend::Event::FocusLost:
                ReleaseKeys();
                break;
            case backend::Event::KeyDown:
            case backend::Event::KeyUp:
                KeyEvent(event.key, event.kind == backend::Event::KeyDown);
                break;
        }
    }
    if (windowState.closePending &&
        realClock.microseconds() - windowState.closeSince > kUnresponsiveMicroseconds) {
        backend::ShowCursor(true);
        std::exit(0);
    }
}

}  // namespace standin
