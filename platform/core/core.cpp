// The platform core's common ground: loud failure, how every API entry
// begins, the event pump that every blocking-free call runs, the
// unresponsive-program rule, and a fresh start for a test harness.
#include "platform/core/core.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/backend.h"
#include "platform/core/harness.h"
#include "platform/core/run.h"

namespace standin {

Harness* harness = nullptr;

namespace {

constexpr const char* kEntryNames[] = {
#define VN_ENTRY_NAME(entry, name) name,
    VN_API_ENTRIES(VN_ENTRY_NAME)
#undef VN_ENTRY_NAME
};
static_assert(sizeof kEntryNames / sizeof kEntryNames[0] == kEntryCount);

Entry lastEntry = Entry::Count;  // none yet

[[noreturn]] void Refuse(const char* call, const char* format, va_list args) {
    std::fprintf(stderr, "platform: %s: ", call);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

const char* EntryName(Entry entry) {
    return kEntryNames[static_cast<int>(entry)];
}

void Unsupported(const char* call, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Refuse(call, format, args);
}

ApiCall::ApiCall(Entry entry) : entry_(entry), previous_(lastEntry) {
    lastEntry = entry;
    if (harness != nullptr) harness->Entered(entry);
}

void ApiCall::Unsupported(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    Refuse(EntryName(entry_), format, args);
}

bool ApiCall::Fails(HRESULT usual, HRESULT* result) const {
    if (harness == nullptr) return false;
    *result = usual;
    return harness->Fails(entry_, result);
}

// A close request that the message loop has not taken within this time is
// answered the way the system treats an unresponsive program: it is ended.
// The game's menu screens and end-of-level waits keep control for as long as
// the player likes, polling keys without taking messages; a user who closes
// the window, or a SIGINT/SIGTERM, must still end the program promptly. The
// program ends as after its own quit: cursor shown, exit code 0.
constexpr std::uint64_t kUnresponsiveMicroseconds = 1000000;

void PumpEvents() {
    // A verification shows nothing: only the system's quit can come (a
    // signal, which the replay catches itself), and asking the backend on
    // every read would cost more than the read (a system call with SDL).
    static unsigned unseenPumps = 0;
    if (runs::Unseen() && (++unseenPumps & 255u) != 0) return;
    backend::Event event;
    while (backend::PollEvent(&event)) {
        // A run being watched stops at the player's Esc or close.
        if (runs::mode == runs::Mode::Replaying &&
            (event.kind == backend::Event::Close ||
             (event.kind == backend::Event::KeyDown && event.key == VK_ESCAPE))) {
            runs::LiveEscape();
        }
        switch (event.kind) {
            case backend::Event::Close:
                // A replayed game's window has only its recording's close
                // requests; the player's stops the replay (above).
                if (runs::mode != runs::Mode::Replaying) RequestClose();
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
    // A replay ends at its recording's own end instead.
    if (windowState.closePending && runs::mode != runs::Mode::Replaying &&
        activeClock.microseconds() - windowState.closeSince > kUnresponsiveMicroseconds) {
        backend::ShowCursor(true);
        std::exit(0);
    }
}

void ForgetEverything() {
    lastEntry = Entry::Count;
    ForgetWaits();
    ForgetDirectDraw();
    ForgetWindow();
    ForgetKeys();
    ForgetFiles();
}

}  // namespace standin
