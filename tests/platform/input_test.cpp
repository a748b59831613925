// Keys and time: the exact key bit, taps that fall between polls, scripts and
// the tick counter across the 32-bit wrap.
#include "tests/platform/platform_test_support.h"

namespace {

class InputTest : public PlatformTest {};

bool Held(int vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

TEST_F(InputTest, HeldKeyReportsExactlyTheTopBit) {
    seam::HoldKey(VK_LEFT, true);
    EXPECT_EQ(static_cast<SHORT>(0x8000), GetAsyncKeyState(VK_LEFT));
    EXPECT_EQ(static_cast<SHORT>(0x8000), GetAsyncKeyState(VK_LEFT));
    EXPECT_EQ(0, GetAsyncKeyState(VK_RIGHT));
    EXPECT_LT(GetAsyncKeyState(VK_LEFT), 0);  // the top bit is the sign of a SHORT
    seam::HoldKey(VK_LEFT, false);
    EXPECT_EQ(0, GetAsyncKeyState(VK_LEFT));
    EXPECT_DEATH(GetAsyncKeyState('A'), "GetAsyncKeyState: only .* got 0x41");
}

TEST_F(InputTest, TapBetweenPollsIsSeenOnceByEachKeysNextPoll) {
    seam::TapKey(VK_RETURN);
    EXPECT_FALSE(Held(VK_SPACE));  // another key's poll does not use it up
    EXPECT_TRUE(Held(VK_RETURN));
    EXPECT_FALSE(Held(VK_RETURN));

    // Pressed and released between two polls, as a quick player does.
    seam::HoldKey(VK_SPACE, true);
    seam::HoldKey(VK_SPACE, false);
    EXPECT_TRUE(Held(VK_SPACE));
    EXPECT_FALSE(Held(VK_SPACE));
}

TEST_F(InputTest, PollHookRunsBeforeTheKeyIsRead) {
    int polls = 0;
    seam::SetPollHook([&] {
        if (++polls == 3) seam::HoldKey(VK_ESCAPE, true);
    });
    EXPECT_FALSE(Held(VK_ESCAPE));
    EXPECT_FALSE(Held(VK_ESCAPE));
    EXPECT_TRUE(Held(VK_ESCAPE));
}

TEST_F(InputTest, TickCounterStepsOnEachReadAndWraps) {
    seam::SetTick(0xFFFFFFFEu);
    EXPECT_EQ(0xFFFFFFFEu, GetTickCount());
    EXPECT_EQ(0xFFFFFFFFu, GetTickCount());
    EXPECT_EQ(0u, GetTickCount());
    EXPECT_EQ(1u, seam::PeekTick());
    seam::SetTickStep(30);
    EXPECT_EQ(1u, GetTickCount());
    EXPECT_EQ(31u, GetTickCount());
    seam::AdvanceTick(0xFFFFFFFFu);  // a full lap less one
    EXPECT_EQ(60u, seam::PeekTick());
}

TEST_F(InputTest, ScriptedKeyFollowsVirtualTimeAcrossTheWrap) {
    seam::ScriptKey(VK_RIGHT, 0xFFFFFFF0u, 0x10u);
    seam::SetTick(0xFFFFFFEFu);
    EXPECT_FALSE(Held(VK_RIGHT));
    seam::SetTick(0xFFFFFFF0u);
    EXPECT_TRUE(Held(VK_RIGHT));
    seam::SetTick(0x5u);
    EXPECT_TRUE(Held(VK_RIGHT));
    seam::SetTick(0x10u);
    EXPECT_FALSE(Held(VK_RIGHT));
}

TEST_F(InputTest, SpentTickBudgetStopsARunawayTest) {
    seam::SetTickBudget(100);
    seam::SetTickStep(10);
    EXPECT_DEATH(
        {
            for (;;) GetTickCount();
        },
        "tick budget of 100 ms used up");
}

}  // namespace
