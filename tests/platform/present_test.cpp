// Presenting as the program does without an accelerated renderer (SDL's
// dummy driver here): the picture looked up and scaled into the window's own
// surface, only the changed spans redrawn from one present to the next.
#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/platform/platform_test_support.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;

class WindowPresentTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        seam::PresentLikeProgram(true);
        window = OpenTestWindow();
        ASSERT_NE(nullptr, window);
        d = OpenTestDisplay(window);
        ASSERT_NE(nullptr, d.back);
        windowWidth = GetSystemMetrics(SM_CXSCREEN);
        windowHeight = GetSystemMetrics(SM_CYSCREEN);
        for (int i = 0; i < 256; ++i) colours[i] = Colour(i, 255 - i, i / 2);
    }

    static std::uint32_t Colour(int red, int green, int blue) {
        return 0xFF000000u | static_cast<std::uint32_t>(red << 16 | green << 8 | blue);
    }

    // Clears the back buffer and fills the rectangles (left, top, right,
    // bottom, colour), in the picture and in its model.
    void Draw(const std::vector<std::vector<int>>& rects) {
        model.assign(kWidth * kHeight, 0);
        ASSERT_EQ(DD_OK, Fill(d.back, nullptr, 0));
        for (const std::vector<int>& r : rects) {
            RECT rect = {r[0], r[1], r[2], r[3]};
            ASSERT_EQ(DD_OK, Fill(d.back, &rect, static_cast<BYTE>(r[4])));
            for (int y = r[1]; y < r[3]; ++y) {
                for (int x = r[0]; x < r[2]; ++x) model[y * kWidth + x] = static_cast<BYTE>(r[4]);
            }
        }
    }

    // Every window pixel shows the model's nearest picture pixel inside the
    // centred 4:3 area, black outside it.
    void ExpectWindowShowsModel() {
        int areaWidth = windowWidth, areaHeight = windowHeight;
        if (windowWidth * kHeight > windowHeight * kWidth) {
            areaWidth = windowHeight * kWidth / kHeight;
        } else {
            areaHeight = windowWidth * kHeight / kWidth;
        }
        const int left = (windowWidth - areaWidth) / 2, top = (windowHeight - areaHeight) / 2;
        long wrong = 0;
        char first[160] = "";
        for (int y = 0; y < windowHeight; ++y) {
            for (int x = 0; x < windowWidth; ++x) {
                std::uint32_t want = 0xFF000000u;
                const int px = (x - left) * kWidth / areaWidth;
                const int py = (y - top) * kHeight / areaHeight;
                if (x >= left && x < left + areaWidth && y >= top && y < top + areaHeight) {
                    want = colours[model[py * kWidth + px]];
                }
                const std::uint32_t got = seam::WindowPixel(x, y);
                if (got != want && wrong++ == 0) {
                    std::snprintf(first, sizeof first, "window (%d, %d): 0x%08X, want 0x%08X", x, y,
                                  got, want);
                }
            }
        }
        EXPECT_EQ(0, wrong) << "first: " << first;
    }

    HWND window = nullptr;
    TestDisplay d;
    int windowWidth = 0, windowHeight = 0;
    std::uint32_t colours[256];
    std::vector<BYTE> model;
};

TEST_F(WindowPresentTest, EachPresentShowsTheWholePictureScaledThoughOnlyChangesAreRedrawn) {
    // A first picture, then a "jewel" and a "basket" that move while the
    // flip chain hands back the older picture, then one that repeats.
    Draw({{0, 0, 640, 20, 200}, {100, 100, 111, 111, 10}, {320, 352, 391, 431, 127}});
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    ExpectWindowShowsModel();

    Draw({{0, 0, 640, 20, 200},
          {100, 106, 111, 117, 10},
          {325, 352, 396, 431, 127},
          {8, 464, 9, 465, 70}});
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    ExpectWindowShowsModel();

    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));  // the first picture again
    Draw({{0, 0, 640, 20, 200}, {100, 100, 111, 111, 10}, {320, 352, 391, 431, 127}});
    ExpectWindowShowsModel();

    Draw({{639, 479, 640, 480, 255}, {0, 0, 1, 1, 1}});  // the corners alone
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    ExpectWindowShowsModel();
}

TEST_F(WindowPresentTest, APaletteChangeRecoloursTheUnchangedPicture) {
    Draw({{10, 10, 630, 470, 33}});
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    Draw({{10, 10, 630, 470, 33}});
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));

    PALETTEENTRY gold = {255, 215, 0, PC_NOCOLLAPSE};
    ASSERT_EQ(DD_OK, d.palette->SetEntries(0, 33, 1, &gold));
    colours[33] = Colour(255, 215, 0);
    ASSERT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    ExpectWindowShowsModel();
}

}  // namespace
