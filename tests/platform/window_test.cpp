// Window, messages, keys, beeps and time: the loop's plumbing to WM_QUIT,
// what the window calls refuse, the exact key bit, taps between polls, tones
// made once. (The tick counter's real steps: the waits.)
#include <iterator>

#include "tests/platform/platform_test_support.h"

namespace {

using WindowTest = PlatformTest;

// Takes messages as the game's loop does until WM_QUIT: its wParam, or -1.
int RunLoop(int maxIterations) {
    MSG msg;
    for (int i = 0; i < maxIterations; ++i) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) continue;
        if (msg.message == WM_QUIT) return int(msg.wParam);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return -1;
}

TEST_F(WindowTest, PostedDestroyOrACloseRequestEndsTheLoop) {
    HWND window = OpenTestWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(-1, RunLoop(5));  // nothing waiting: the loop just spins
    ASSERT_TRUE(PostMessageA(window, WM_DESTROY, 0, 0));
    EXPECT_EQ(7, RunLoop(3));  // TestWindowProc answers with PostQuitMessage(7)
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_DESTROY}), windowProcMessages);
    EXPECT_EQ(-1, RunLoop(3));  // the quit message comes once
    PostQuitMessage(3);         // and only after the messages posted before it
    PostMessageA(window, WM_PAINT, 0, 0);
    EXPECT_EQ(3, RunLoop(2));
    EXPECT_EQ(UINT(WM_PAINT), windowProcMessages.back());

    // A close request (twice while one waits) goes WM_CLOSE -> DefWindowProcA -> WM_DESTROY.
    windowProcMessages.clear();
    seam::PushCloseRequest();
    seam::PushCloseRequest();
    ASSERT_EQ(1u, seam::PostedMessages().size());
    EXPECT_EQ(window, seam::PostedMessages()[0].window);
    EXPECT_EQ(7, RunLoop(3));
    EXPECT_EQ((std::vector<UINT>{WM_CLOSE, WM_DESTROY}), windowProcMessages);
    EXPECT_FALSE(PostMessageA(window, WM_DESTROY, 0, 0));  // the window has gone
    WNDCLASSA again{};  // a class of the same name is refused, a child window stops us
    again.lpfnWndProc = TestWindowProc;
    again.lpszClassName = "TESTCLASS";
    EXPECT_EQ(0, RegisterClassA(&again));
    EXPECT_DEATH(CreateWindowExA(0, "TESTCLASS", "", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, window,
                                 nullptr, nullptr, nullptr),
                 "parent windows");
    EXPECT_DEATH(LoadCursorA(nullptr, MAKEINTRESOURCEA(32513)), "only the system's IDC_ARROW");
}

// A key held reads as exactly the top bit; a tap between two polls is seen
// once, by its own key's poll; a release, or a key held on, is no new press.
TEST_F(WindowTest, HeldKeysAreExactlyTheTopBitAndTapsAreNotLost) {
    seam::HoldKey(VK_LEFT, true);
    EXPECT_EQ(SHORT(0x8000), GetAsyncKeyState(VK_LEFT));
    EXPECT_EQ(SHORT(0x8000), GetAsyncKeyState(VK_LEFT));
    EXPECT_EQ(0, GetAsyncKeyState(VK_RIGHT));
    seam::HoldKey(VK_LEFT, false);
    EXPECT_EQ(0, GetAsyncKeyState(VK_LEFT));
    seam::TapKey(VK_RETURN);
    EXPECT_FALSE(Held(VK_SPACE));
    EXPECT_TRUE(Held(VK_RETURN));
    EXPECT_FALSE(Held(VK_RETURN));
    seam::HoldKey(VK_SPACE, true);  // pressed and released between two polls
    seam::HoldKey(VK_SPACE, false);
    EXPECT_TRUE(Held(VK_SPACE));
    EXPECT_FALSE(Held(VK_SPACE));
    seam::HoldKey(VK_BACK, false);  // let go with no press seen (Enter of a terminal)
    EXPECT_FALSE(Held(VK_BACK));
}

// The tones are made once: later beeps allocate nothing (a tone made anew
// for each would grow under the device playing it).
TEST_F(WindowTest, BeepsAfterTheFirstAllocateNothing) {
    const UINT types[] = {MB_OK, MB_ICONHAND, MB_ICONASTERISK, MB_ICONEXCLAMATION};
    for (UINT type : types) MessageBeep(type);
    seam::ClearBeeps();
    const long allocations = seam::HeapAllocations();
    for (UINT type : types) MessageBeep(type);
    EXPECT_EQ(seam::HeapAllocations(), allocations);
    EXPECT_EQ(seam::Beeps(), std::vector<UINT>(std::begin(types), std::end(types)));
}

}  // namespace
