// Window and messages: the loop's plumbing from a posted WM_DESTROY or a
// system close request to WM_QUIT, the cursor counter and the beeps.
#include "tests/platform/platform_test_support.h"

namespace {

class WindowTest : public PlatformTest {};

// Takes messages as the game's loop does until WM_QUIT; its wParam, or -1.
int RunLoop(int maxIterations) {
    MSG msg;
    for (int i = 0; i < maxIterations; ++i) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return -1;
}

TEST_F(WindowTest, WindowCoversTheDesktopAndSeesWmCreate) {
    HWND window = OpenTestWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(seam::WindowExists());
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_GT(GetSystemMetrics(SM_CYSCREEN), 0);
    EXPECT_EQ(std::vector<UINT>{WM_CREATE}, windowProcMessages);
    // A class of an unknown name makes no window.
    EXPECT_EQ(nullptr, CreateWindowExA(0, "OTHER", "", WS_POPUP | WS_VISIBLE, 0, 0,
                                       GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                       nullptr, nullptr, nullptr, nullptr));
}

TEST_F(WindowTest, PostedDestroyReachesTheWindowProcAndEndsTheLoop) {
    HWND window = OpenTestWindow();
    EXPECT_EQ(-1, RunLoop(5));  // nothing waiting: the loop just spins
    ASSERT_TRUE(PostMessageA(window, WM_DESTROY, 0, 0));
    ASSERT_EQ(1u, seam::PostedMessages().size());
    EXPECT_EQ(static_cast<UINT>(WM_DESTROY), seam::PostedMessages()[0].message);
    EXPECT_EQ(7, RunLoop(3));  // TestWindowProc answers with PostQuitMessage(7)
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_DESTROY}), windowProcMessages);
    // The quit message comes once.
    EXPECT_EQ(-1, RunLoop(3));
}

TEST_F(WindowTest, QuitMessageWaitsForTheMessagesPostedBeforeIt) {
    HWND window = OpenTestWindow();
    PostQuitMessage(3);
    PostMessageA(window, WM_PAINT, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_PAINT), msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(3u, msg.wParam);
}

TEST_F(WindowTest, CloseRequestBecomesWmCloseThenDestroysTheWindow) {
    HWND window = OpenTestWindow();
    seam::PushCloseRequest();
    seam::PushCloseRequest();  // a second request while one waits is the same one
    ASSERT_EQ(1u, seam::PostedMessages().size());
    EXPECT_EQ(window, seam::PostedMessages()[0].window);
    EXPECT_EQ(static_cast<UINT>(WM_CLOSE), seam::PostedMessages()[0].message);
    EXPECT_EQ(7, RunLoop(3));
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY}), windowProcMessages);
    EXPECT_FALSE(seam::WindowExists());
    // Messages for the window that has gone are refused.
    EXPECT_FALSE(PostMessageA(window, WM_DESTROY, 0, 0));
}

TEST_F(WindowTest, CursorFollowsTheDisplayCounter) {
    OpenTestWindow();
    EXPECT_EQ(0, seam::CursorShowCount());
    EXPECT_EQ(-1, ShowCursor(FALSE));
    EXPECT_EQ(-2, ShowCursor(FALSE));
    EXPECT_EQ(-1, ShowCursor(TRUE));  // still hidden: the counter is below 0
    EXPECT_EQ(0, ShowCursor(TRUE));
    EXPECT_EQ(0, seam::CursorShowCount());
}

TEST_F(WindowTest, InjectedFailuresOfRegistrationAndCreation) {
    seam::FailNext(seam::Call::RegisterClassA);
    EXPECT_EQ(nullptr, OpenTestWindow());
    seam::Reset();
    seam::FailNext(seam::Call::CreateWindowExA);
    EXPECT_EQ(nullptr, OpenTestWindow());
    EXPECT_FALSE(seam::WindowExists());
}

TEST_F(WindowTest, BeepsAreRecordedInOrderAndUnknownTypesAbort) {
    EXPECT_TRUE(MessageBeep(MB_OK));
    EXPECT_TRUE(MessageBeep(MB_ICONASTERISK));
    EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
    EXPECT_TRUE(MessageBeep(MB_ICONHAND));
    const std::vector<UINT> expected = {MB_OK, MB_ICONASTERISK, MB_ICONEXCLAMATION, MB_ICONHAND};
    EXPECT_EQ(expected, seam::Beeps());
    EXPECT_DEATH(MessageBeep(0x20), "MessageBeep: only .* got 0x20");
}

}  // namespace
