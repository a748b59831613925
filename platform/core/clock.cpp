// The millisecond tick counter (GetTickCount) and the core's waits, which
// let a program that is only waiting sleep instead of spinning a core.
//
// The game waits by spinning: a play frame reads the counter until 30 ms have
// passed, and the outcome screens poll the keyboard until a key is down. The
// system's counter moves only on its timer interrupt, 64 times a second, so a
// loop that reads it again and again sees one value for 15 or 16 ms. Sleeping
// until the next step and returning the value read then is what a spinning
// loop would have seen first, so nothing the game sees changes.
#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/harness.h"
#include "platform/core/run.h"

namespace standin {

namespace {

constexpr std::uint64_t kStepMicroseconds = 15625;     // 1/64 s: the system timer's period
constexpr std::uint64_t kRefreshMicroseconds = 16667;  // a 60 Hz display

// The reads of a row with no other call between them that return one value.
// A play frame reads twice in a row at its start (the frame's start, then the
// level clock), and both must read the counter as it is: only the third such
// read is a wait.
constexpr int kReadsBeforeWait = 3;
int sameReads = 0;
DWORD lastRead = 0;
std::uint64_t flipDueAt = 0;  // the blank a flip waits for; 0: none pending
// A chosen start: the counter reads `counterFirst` at the clock's
// `counterZero` microseconds.
bool counterChosen = false;
DWORD counterFirst = 0;
std::uint64_t counterZero = 0;

DWORD TickAt(std::uint64_t microseconds) {
    if (counterChosen) {
        microseconds = microseconds > counterZero ? microseconds - counterZero : 0;
    }
    // The system's counter is 32 bits of milliseconds and wraps after 49.7
    // days. It steps by 15 or 16 ms, and the game relies on that: it starts a
    // jewel when the count is a multiple of 5, and with a counter exact to the
    // millisecond its 30 ms frames would find the same remainder frame after
    // frame, starting jewels on every frame or on none.
    const std::uint64_t interrupts = microseconds / kStepMicroseconds;
    return static_cast<DWORD>(counterFirst + interrupts * 1000 / 64);
}

// A read right after a read of the same value: the third in a row sleeps
// until the counter's next step.
DWORD ReadTick(bool afterRead) {
    std::uint64_t now = activeClock.microseconds();
    DWORD tick = TickAt(now);
    if (afterRead && tick == lastRead) {
        if (++sameReads >= kReadsBeforeWait) {
            // A clock may wake early: sleep again until the step is there.
            for (int tries = 0; tries < 4 && TickAt(now) == tick; ++tries) {
                activeClock.sleepUntil((now / kStepMicroseconds + 1) * kStepMicroseconds);
                now = activeClock.microseconds();
            }
            tick = TickAt(now);
            sameReads = 1;
        }
    } else {
        sameReads = 1;
    }
    lastRead = tick;
    return tick;
}

}  // namespace

Clock activeClock = MachineClock();

Clock MachineClock() {
    return Clock{backend::Microseconds, backend::SleepUntil, backend::WaitForEvent};
}

void UseClock(Clock next) {
    activeClock = std::move(next);
    flipDueAt = 0;
    sameReads = 0;
    lastRead = 0;
}

void ForgetWaits() {
    UseClock(MachineClock());
    counterChosen = false;
    counterFirst = 0;
}

void StartCounterAt(DWORD first) {
    counterChosen = true;
    counterFirst = first;
    counterZero = activeClock.microseconds();
}

DWORD CurrentTick() {
    DWORD tick;
    if (harness != nullptr && harness->VirtualTick(false, &tick)) return tick;
    return TickAt(activeClock.microseconds());
}

void ScheduleFlip() {
    const std::uint64_t now = activeClock.microseconds();
    flipDueAt = (now / kRefreshMicroseconds + 1) * kRefreshMicroseconds;
}

void WaitForPendingFlip() {
    if (flipDueAt == 0) return;
    const std::uint64_t due = flipDueAt;
    flipDueAt = 0;
    if (activeClock.microseconds() < due) activeClock.sleepUntil(due);
}

}  // namespace standin

using namespace standin;

DWORD WINAPI GetTickCount(void) {
    const ApiCall call(Entry::GetTickCount);
    if (runs::mode == runs::Mode::Replaying) return runs::Tick(0);  // as recorded
    DWORD tick;
    if (harness == nullptr || !harness->VirtualTick(true, &tick)) {
        tick = ReadTick(call.Previous() == Entry::GetTickCount);
    }
    if (runs::mode == runs::Mode::Recording) runs::Tick(tick);
    return tick;
}
