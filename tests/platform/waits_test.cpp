// The core's waits, on a scripted real clock: a program only waiting sleeps,
// and what the game reads is what a spinning loop would read.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/core.h"
#include "tests/platform/platform_test_support.h"

namespace {

constexpr std::uint64_t kStep = 15625;  // microseconds: the counter steps 64 times a second

class WaitTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        clock.Install();
    }
    ScriptedClock clock;
};

// A play frame: the frame's start and the level clock read back to back, a
// key poll, the jewel test's read, then the wait for 30 ms to pass.
TEST_F(WaitTest, OnlyAThirdUnchangedReadInARowSleepsAndItReturnsTheNextStep) {
    clock.now = 6 * kStep + 300;  // the counter shows 93 ms
    GetAsyncKeyState(VK_ESCAPE);
    const DWORD start = GetTickCount();
    EXPECT_EQ(93u, start);
    EXPECT_EQ(93u, GetTickCount());
    GetAsyncKeyState(VK_RIGHT);
    EXPECT_EQ(93u, GetTickCount());
    EXPECT_TRUE(clock.sleeps.empty()) << "a read the game acts on was delayed";

    GetAsyncKeyState(VK_ESCAPE);
    std::vector<DWORD> seen;
    for (DWORD now = GetTickCount(); now - start < 30; now = GetTickCount()) seen.push_back(now);
    // Two reads of each value, then a sleep to the next step: the loop ends
    // on 125, the first value a spinning loop would have seen 30 ms on.
    EXPECT_EQ((std::vector<std::uint64_t>{7 * kStep, 8 * kStep}), clock.sleeps);
    EXPECT_EQ((std::vector<DWORD>{93, 93, 109, 109}), seen);
    EXPECT_EQ(125u, GetTickCount());
    // The message loop peeks between frames: the next frame's two reads of
    // the value the wait ended on are no third read in a row.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    EXPECT_EQ(125u, GetTickCount());
    EXPECT_EQ(125u, GetTickCount());
    EXPECT_EQ(2u, clock.sleeps.size()) << "a frame's start was delayed";
}

// An outcome screen polls its keys and nothing else until one is down.
TEST_F(WaitTest, IdlePollsWaitForInputAndAKeyPressedMeanwhileIsSeenAtOnce) {
    for (int i = 0; i < 100; ++i) GetAsyncKeyState(i % 2 ? VK_SPACE : VK_ESCAPE);
    EXPECT_TRUE(clock.eventWaits.empty()) << "polling waited before it had gone on a while";
    EXPECT_EQ(0, GetAsyncKeyState(VK_SPACE));
    ASSERT_EQ(1u, clock.eventWaits.size());
    EXPECT_LE(clock.eventWaits[0], 20) << "a close request would wait too long";

    // A tap that begins and ends during the wait still counts, on this poll.
    clock.duringEventWait = [] { seam::TapKey(VK_SPACE); };
    EXPECT_EQ(SHORT(0x8000), GetAsyncKeyState(VK_SPACE));
    clock.duringEventWait = nullptr;
    // A key that changed, or any other call, starts the count again.
    const size_t waits = clock.eventWaits.size();
    GetAsyncKeyState(VK_SPACE);
    GetTickCount();
    for (int i = 0; i < 50; ++i) GetAsyncKeyState(VK_SPACE);
    EXPECT_EQ(waits, clock.eventWaits.size());
}

// Headless, a flip happens at the next 60 Hz blank: Flip returns at once,
// and drawing on the flip chain or flipping again waits for that blank, so a
// menu screen shows 60 pictures a second and a play frame is not held up.
class FlipWaitTest : public DisplayTest {
  protected:
    ScriptedClock clock;
};

TEST_F(FlipWaitTest, DrawingAfterAFlipWaitsForItsBlank) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(DD_OK, Flip());  // the virtual clock: no waits
    clock.Install();
    clock.now = 5000;
    ASSERT_EQ(DD_OK, Flip());
    EXPECT_TRUE(clock.sleeps.empty()) << "Flip itself waited";
    clock.now = 9000;
    ASSERT_EQ(DD_OK, Fill(nullptr, 3));
    EXPECT_EQ((std::vector<std::uint64_t>{16667}), clock.sleeps);
    // A blank already past costs nothing.
    ASSERT_EQ(DD_OK, Flip());
    clock.now = 40000;
    ASSERT_EQ(DD_OK, Fill(nullptr, 4));
    EXPECT_EQ(1u, clock.sleeps.size());
    // A menu loop, draw and flip: one picture at each blank.
    clock.now = 1000000;
    for (int i = 0; i < 61; ++i) {
        ASSERT_EQ(DD_OK, Fill(nullptr, BYTE(i)));
        ASSERT_EQ(DD_OK, Flip());
    }
    ASSERT_EQ(61u, clock.sleeps.size());
    for (size_t i = 2; i < clock.sleeps.size(); ++i) {
        EXPECT_EQ(16667u, clock.sleeps[i] - clock.sleeps[i - 1]);
    }
}

// An entry notes its call: between two reads of an unchanged counter it
// makes the next read no third one in a row, so that read does not sleep (an
// entry that forgot would make a loop that calls it between reads sleep on
// every third read); a read itself is the one that sleeps. A function, a
// method and GDI text here; that every entry begins by noting its call,
// entries_check.py.
TEST_F(FlipWaitTest, AnEntryNotesItsCallForTheWaits) {
    HDC dc = nullptr;
    ASSERT_EQ(DD_OK, back->GetDC(&dc));
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"GetSystemMetrics", [] { GetSystemMetrics(SM_CXSCREEN); }},
        {"Unlock", [this] { back->Unlock(nullptr); }},
        {"SetBkMode", [dc] { SetBkMode(dc, TRANSPARENT); }},
        {"GetTickCount", [] { GetTickCount(); }},
    };
    clock.Install();
    for (const auto& [name, call] : calls) {
        GetTickCount();
        GetTickCount();
        clock.sleeps.clear();
        call();
        GetTickCount();
        EXPECT_EQ(std::string(name) == "GetTickCount", !clock.sleeps.empty()) << name;
        clock.now += kStep;  // the next entry from a fresh value
    }
}

}  // namespace

// A hall of fame's challenge chooses where the counter starts: it reads the
// chosen value at once and then steps as from a multiple of eight steps,
// wrapping at 2^32 like the machine's.
TEST_F(WaitTest, ACounterStartedAtAChosenValueStepsAndWrapsFromIt) {
    clock.now = 1000 * kStep + 77;  // a machine up for a while
    standin::StartCounterAt(0xFFFFFFF0u);
    EXPECT_EQ(0xFFFFFFF0u, GetTickCount());
    clock.now += kStep;
    EXPECT_EQ(0xFFFFFFFFu, GetTickCount());
    clock.now += kStep;
    EXPECT_EQ(15u, GetTickCount());
}
