// DirectDraw stand-in: fills, keyed copies, clipping, flips, reference counts.
#include "tests/platform/platform_test_support.h"

namespace {

class DirectDrawTest : public PlatformTest {};

TEST_F(DirectDrawTest, OpensTheDisplayAsTheGameDoes) {
    HWND window = OpenTestWindow();
    ASSERT_NE(nullptr, window);
    TestDisplay d = OpenTestDisplay(window);
    ASSERT_NE(nullptr, d.back);
    ASSERT_NE(nullptr, seam::PrimaryPixels());
}

}  // namespace
