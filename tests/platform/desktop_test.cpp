// The desktop backend headless on SDL's dummy driver, whose screen is
// 1024 x 768 (1.6 screen pixels per picture pixel): which screen pixels each
// picture pixel covers with sharp scaling, changed spans, the window and the
// switch to full screen and back, and the controller's keys.
#include "tests/platform/desktop_test.h"

#include <memory>

#include "tests/platform/platform_test_support.h"

namespace {

using desktoptest::PushKey;

constexpr BYTE kDark = 0, kLit = 255;  // red 0 and red 255 in DisplayTest's palette

class DesktopTest : public DisplayTest {
  protected:
    void SetUp() override {
        DisplayTest::SetUp();
        seam::UseBackendInput(true);
    }
    // The window's size, from where its surface ends.
    static int WindowWidth() {
        int w = 0;
        while (seam::WindowPixel(w, 0) != 0) ++w;
        return w;
    }
    static std::uint32_t Colour(BYTE index) {
        PALETTEENTRY e = seam::DisplayPalette(index);
        return 0xFF000000u | std::uint32_t(e.peRed) << 16 | e.peGreen << 8 | e.peBlue;
    }
    // Every fourth picture column (or row) lit, starting at `phase`.
    void Stripes(bool columns, int phase) {
        ASSERT_EQ(DD_OK, Fill(nullptr, kDark));
        for (int c = phase; c < (columns ? 640 : 480); c += 4) {
            RECT line = columns ? RECT{c, 0, c + 1, 480} : RECT{0, c, 640, c + 1};
            ASSERT_EQ(DD_OK, Fill(&line, kLit));
        }
        ASSERT_EQ(DD_OK, Flip());
    }
    static bool Held(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }
};

// Sharp scaling at 1.6, along the screen's middle row and middle column: each
// lit picture column (row) lights 1.6 screen pixels' worth (within half a
// pixel, where nearest gives 1 or 2), centred where it belongs, with at most
// one blended screen pixel on each side. A screen pixel mixes at most two
// neighbouring picture lines, so each run of lit pixels is one lit line.
TEST_F(DesktopTest, SharpScalingGivesEveryPicturePixelTheSameSizeAndCrispEdges) {
    for (bool columns : {true, false}) {
        for (int phase = 0; phase < 4; ++phase) {
            Stripes(columns, phase);
            ASSERT_EQ(1024, WindowWidth());
            int line = -1, blended = 0;
            double amount = 0, centre = 0;
            auto check = [&] {
                const int c = phase + 4 * line;
                EXPECT_NEAR(1.6, amount, 0.45) << columns << " line " << c;
                EXPECT_NEAR((c + 0.5) * 1.6, centre / amount, 0.5) << columns << " line " << c;
                EXPECT_LE(blended, 2) << columns << " line " << c;
            };
            bool lit = false;
            for (int i = 0; i < (columns ? 1024 : 768); ++i) {
                const int red =
                    int(seam::WindowPixel(columns ? i : 512, columns ? 384 : i) >> 16 & 0xFF);
                if (red != 0 && !lit) {
                    if (line >= 0) check();
                    ++line, amount = centre = blended = 0;
                }
                lit = red != 0;
                amount += red / 255.0;
                centre += (i + 0.5) * red / 255.0;
                blended += red > 0 && red < 255;
            }
            check();
            EXPECT_EQ((columns ? 640 : 480) / 4 - 1, line);
        }
    }
}

// A play frame changes a few spans; screen pixels that blend a changed
// picture row or column with an unchanged one are redrawn too: after each
// step the window is what a whole redraw (as when uncovered) draws.
TEST_F(DesktopTest, ChangedSpansAreRedrawnAsAWholeRedrawWouldDrawThem) {
    ASSERT_EQ(DD_OK, Fill(nullptr, kDark));
    ASSERT_EQ(DD_OK, Flip());
    for (int step = 0; step < 12; ++step) {
        // A jewel falling 3 rows and drifting 1 column a frame, and a digit.
        RECT jewel{100 + step, 50 + 3 * step, 111 + step, 61 + 3 * step};
        RECT digit{400, 464, 401 + step % 5, 470};
        ASSERT_EQ(DD_OK, Fill(nullptr, kDark));
        ASSERT_EQ(DD_OK, Fill(&jewel, kLit));
        ASSERT_EQ(DD_OK, Fill(&digit, BYTE(100 + step)));
        ASSERT_EQ(DD_OK, Flip());
        std::vector<std::uint32_t> spans;
        for (int y = 0; y < 768; ++y)
            for (int x = 0; x < 1024; ++x) spans.push_back(seam::WindowPixel(x, y));
        SDL_Event exposed{};
        exposed.type = SDL_WINDOWEVENT;
        exposed.window.event = SDL_WINDOWEVENT_EXPOSED;
        SDL_PushEvent(&exposed);
        Held(VK_LEFT);  // takes the event: the whole picture drawn again
        long differ = 0;
        for (int y = 0; y < 768; ++y)
            for (int x = 0; x < 1024; ++x)
                differ += spans[size_t(y) * 1024 + x] != seam::WindowPixel(x, y);
        EXPECT_EQ(0, differ) << "step " << step;
    }
}

class WindowModeTest : public DesktopTest {
    BackendOptions window{{"--window"}};
};

// --window on a 1024 x 768 screen: 640 x 480, one screen pixel per picture
// pixel exactly. F11 and Alt+Enter switch to the whole screen and back while
// a key is held: the picture comes back at once at each size with no new
// present, the held key stays held, and the Enter of Alt+Enter is not the
// game's.
TEST_F(WindowModeTest, StartsAtOneToOneAndSwitchesKeepingThePictureAndTheKeys) {
    Stripes(true, 2);
    ASSERT_EQ(640, WindowWidth());
    long wrong = 0;
    for (int y = 0; y < 480; y += 7)
        for (int x = 0; x < 640; ++x)
            wrong += seam::WindowPixel(x, y) != Colour(x % 4 == 2 ? kLit : kDark);
    EXPECT_EQ(0, wrong);

    RECT quarter{320, 240, 640, 480};
    ASSERT_EQ(DD_OK, Fill(&quarter, 90));
    ASSERT_EQ(DD_OK, Flip());
    const int flips = seam::FlipCount();
    auto expectPicture = [&](int width, int scaleTenths) {
        EXPECT_EQ(width, WindowWidth());
        EXPECT_EQ(Colour(90), seam::WindowPixel(480 * scaleTenths / 10, 360 * scaleTenths / 10));
        EXPECT_EQ(Colour(kDark), seam::WindowPixel(161 * scaleTenths / 10, 360 * scaleTenths / 10));
    };
    PushKey(SDL_SCANCODE_LEFT, true);
    PushKey(SDL_SCANCODE_F11, true);
    PushKey(SDL_SCANCODE_F11, false);
    EXPECT_TRUE(Held(VK_LEFT));  // polling takes the events
    expectPicture(1024, 16);
    PushKey(SDL_SCANCODE_RETURN, true, KMOD_LALT);
    PushKey(SDL_SCANCODE_RETURN, false, KMOD_LALT);
    EXPECT_FALSE(Held(VK_RETURN));
    expectPicture(640, 10);
    EXPECT_TRUE(Held(VK_LEFT));
    PushKey(SDL_SCANCODE_LEFT, false);
    EXPECT_FALSE(Held(VK_LEFT));
    EXPECT_EQ(flips, seam::FlipCount());
}

// Keys held by the keyboard and the controller at once go up with the last
// of them; the stick pushes past half way and lets go inside a quarter; B is
// Backspace, Back is Esc; an unplugged controller lets go of what it held.
// (A on each screen, the d-pad and the stick in play: controller_game_test.)
TEST_F(DesktopTest, ControllerHoldsTheKeyboardsKeysUntilTheLastLetsGo) {
    auto pad = std::make_unique<desktoptest::VirtualController>();
    ASSERT_TRUE(pad->Plugged()) << SDL_GetError();
    EXPECT_FALSE(Held(VK_LEFT));  // takes the controller in
    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    EXPECT_TRUE(Held(VK_LEFT));
    PushKey(SDL_SCANCODE_LEFT, true);
    EXPECT_TRUE(Held(VK_LEFT));
    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
    EXPECT_TRUE(Held(VK_LEFT));
    PushKey(SDL_SCANCODE_LEFT, false);
    EXPECT_FALSE(Held(VK_LEFT));

    for (Sint16 x : {32767, 12000}) {
        pad->LeftStickX(x);
        EXPECT_TRUE(Held(VK_RIGHT)) << x;
    }
    pad->LeftStickX(2000);
    EXPECT_FALSE(Held(VK_RIGHT));

    pad->Button(SDL_CONTROLLER_BUTTON_B, true);
    pad->Button(SDL_CONTROLLER_BUTTON_BACK, true);
    EXPECT_TRUE(Held(VK_BACK) && Held(VK_ESCAPE));
    pad->Button(SDL_CONTROLLER_BUTTON_B, false);
    pad->Button(SDL_CONTROLLER_BUTTON_BACK, false);
    EXPECT_FALSE(Held(VK_BACK) || Held(VK_ESCAPE));

    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    EXPECT_TRUE(Held(VK_RIGHT));
    pad.reset();
    EXPECT_FALSE(Held(VK_RIGHT));
}

}  // namespace
