// GDI text on a surface: top-left placement, the nearest palette entry, a
// transparent background, clipping at the surface edges and the records.
#include <cstring>

#include "tests/platform/platform_test_support.h"

namespace {

class TextTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        d = OpenTestDisplay(OpenTestWindow());
        ASSERT_TRUE(seam::FontLoaded());
    }

    void Label(const char* text, COLORREF colour, int x, int y) {
        HDC dc = nullptr;
        ASSERT_EQ(DD_OK, d.back->GetDC(&dc));
        SetTextColor(dc, colour);
        EXPECT_EQ(2, SetBkMode(dc, TRANSPARENT));  // a fresh context is opaque
        EXPECT_TRUE(TextOutA(dc, x, y, text, static_cast<int>(std::strlen(text))));
        ASSERT_EQ(DD_OK, d.back->ReleaseDC(dc));
    }

    // The smallest box around pixels of `index` on the back surface.
    RECT InkBox(BYTE index) {
        RECT box{640, 480, -1, -1};
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                if (PixelAt(d.back, x, y) != index) continue;
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
        }
        return box;
    }

    TestDisplay d;
};

TEST_F(TextTest, TextSitsBelowAndRightOfItsTopLeftInTheNearestEntry) {
    // The test palette's entry i is (i, 255 - i, i / 2): (100, 154, 50) is
    // as near to entry 100 (100, 155, 50) as to entry 101 (101, 154, 50),
    // and a tie goes to the lower index.
    Label("HI", RGB(100, 154, 50), 200, 100);
    RECT box = InkBox(100);
    EXPECT_GE(box.left, 200);
    EXPECT_LE(box.left, 203);
    EXPECT_GE(box.top, 100);
    EXPECT_LE(box.top, 106);     // the cell's top is at y; capitals start a little lower
    EXPECT_LE(box.bottom, 116);  // a 12-pixel font
    EXPECT_GT(box.right - box.left, 8);
    // Nothing but the ink changed: the background stays index 0.
    int other = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x)
            other += PixelAt(d.back, x, y) != 0 && PixelAt(d.back, x, y) != 100;
    }
    EXPECT_EQ(0, other);
}

TEST_F(TextTest, BackgroundShowsBetweenTheGlyphs) {
    RECT square{300, 300, 340, 320};
    ASSERT_EQ(DD_OK, Fill(d.back, &square, 40));
    Label("O", RGB(255, 0, 127), 305, 302);  // entry 255 is (255, 0, 127)
    EXPECT_EQ(40, PixelAt(d.back, 300, 300));
    RECT ink = InkBox(255);
    ASSERT_GT(ink.right, ink.left);
    // The middle of the "O" is left as it was.
    EXPECT_EQ(40, PixelAt(d.back, (ink.left + ink.right) / 2, (ink.top + ink.bottom) / 2));
}

TEST_F(TextTest, TextAtTheEdgesIsClippedToTheSurface) {
    // Entry 200 is (200, 55, 100). Text running off the right and bottom
    // edges and off the top-left corner draws its visible part only.
    Label("WWWWWWWWWWWWWWWWWWWW", RGB(200, 55, 100), 600, 474);
    Label("WWWW", RGB(200, 55, 100), -20, -6);
    RECT ink = InkBox(200);
    EXPECT_EQ(0, ink.left);
    EXPECT_EQ(0, ink.top);
    EXPECT_EQ(640, ink.right);
    EXPECT_EQ(480, ink.bottom);
}

TEST_F(TextTest, TextsAreRecordedPerPicture) {
    Label("ONE", RGB(101, 154, 50), 10, 20);
    Label("", RGB(101, 154, 50), 10, 40);
    ASSERT_EQ(2u, seam::TextsSinceFlip().size());
    EXPECT_EQ("ONE", seam::TextsSinceFlip()[0].text);
    EXPECT_EQ(101, seam::TextsSinceFlip()[0].index);
    EXPECT_EQ(RGB(101, 154, 50), seam::TextsSinceFlip()[0].colour);
    EXPECT_EQ(10, seam::TextsSinceFlip()[0].x);
    EXPECT_EQ(20, seam::TextsSinceFlip()[0].y);
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    EXPECT_TRUE(seam::TextsSinceFlip().empty());
    ASSERT_EQ(2u, seam::TextsOfLastPresent().size());
    Label("TWO", RGB(0, 0, 0), 0, 0);
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    ASSERT_EQ(1u, seam::TextsOfLastPresent().size());
    EXPECT_EQ("TWO", seam::TextsOfLastPresent()[0].text);
}

TEST_F(TextTest, OpaqueBackgroundIsRefused) {
    HDC dc = nullptr;
    ASSERT_EQ(DD_OK, d.back->GetDC(&dc));
    EXPECT_DEATH(TextOutA(dc, 0, 0, "A", 1), "TextOutA: opaque text backgrounds are not supported");
    EXPECT_DEATH(SetBkMode(dc, 2), "SetBkMode: only TRANSPARENT is supported, got 2");
    d.back->ReleaseDC(dc);
}

}  // namespace
