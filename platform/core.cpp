// The stand-in's common ground: loud failure, SDL start-up, the event pump
// that every blocking-free call runs, and the unresponsive-program rule.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/standin_internal.h"

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

bool EnsureVideo() {
    static bool failedForGood = false;  // no display now means none later
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
    if (failedForGood && !seamState.active) return false;
    if (seamState.active) {
        SDL_setenv("SDL_VIDEODRIVER", "dummy", 1);
        SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    // The game draws in whole pixels: nearest-neighbour scaling, always.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    // Without a window manager nothing else would bring the window forward.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        failedForGood = true;
        return false;
    }
    // With no display SDL falls back to a driver that shows nothing; the
    // program would then run unseen for ever. Only a driver asked for by name
    // (as the tests do) may be one of those.
    const char* driver = SDL_GetCurrentVideoDriver();
    bool invisible = driver == nullptr || SDL_strcmp(driver, "offscreen") == 0 ||
                     SDL_strcmp(driver, "dummy") == 0;
    if (invisible && SDL_getenv("SDL_VIDEODRIVER") == nullptr) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        failedForGood = true;
        return false;
    }
    return true;
}

// A close request that the message loop has not taken within this time is
// answered the way the system treats an unresponsive program: it is ended.
// The game's menu screens and end-of-level waits keep control for as long as
// the player likes, polling keys without taking messages; a user who closes
// the window, or a SIGINT/SIGTERM, must still end the program promptly. The
// program ends as after its own quit: cursor shown, exit code 0.
constexpr std::uint64_t kUnresponsiveMs = 1000;

static void EndUnresponsiveProgram() {
    SDL_ShowCursor(SDL_ENABLE);
    SDL_Quit();
    std::exit(0);
}

static int VirtualKey(SDL_Scancode code) {
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

void PumpEvents() {
    // Tests drive keys and close requests through the seam alone.
    if (seamState.active || SDL_WasInit(SDL_INIT_VIDEO) == 0) return;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
            case SDL_QUIT:
                RequestClose();
                break;
            case SDL_WINDOWEVENT:
                if (event.window.event == SDL_WINDOWEVENT_CLOSE) RequestClose();
                if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) ReleaseKeys();
                break;
            case SDL_KEYDOWN:
                // Without a window manager nobody else turns Alt+F4 into a close.
                if (event.key.keysym.scancode == SDL_SCANCODE_F4 &&
                    (event.key.keysym.mod & KMOD_ALT) != 0) {
                    RequestClose();
                } else if (int vk = VirtualKey(event.key.keysym.scancode)) {
                    KeyEvent(vk, true);
                }
                break;
            case SDL_KEYUP:
                if (int vk = VirtualKey(event.key.keysym.scancode)) KeyEvent(vk, false);
                break;
            default:
                break;
        }
    }
    if (windowState.closePending && SDL_GetTicks64() - windowState.closeSince > kUnresponsiveMs) {
        EndUnresponsiveProgram();
    }
}

}  // namespace standin
