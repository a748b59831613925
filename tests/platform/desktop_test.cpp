// The desktop backend: the picture's scaling (which screen pixels each
// picture pixel covers), the window and full screen and the switch between
// them, and the controller, all headless on SDL's dummy driver, whose screen
// is 1024 x 768: a 4:3 area of 1.6 screen pixels per picture pixel.
#include "tests/platform/desktop_test.h"

#include <cmath>
#include <memory>

#include "tests/platform/platform_test_support.h"

namespace {

using desktoptest::PushKey;
using desktoptest::VirtualController;

constexpr BYTE kDark = 0, kLit = 255;  // red 0 and red 255 in DisplayTest's palette

// DisplayTest started with the backend's `options`.
class DesktopTest : public DisplayTest {
  protected:
    explicit DesktopTest(std::vector<std::string> options = {})
        : options_(std::make_unique<BackendOptions>(std::move(options))) {}
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
    static int WindowHeight() {
        int h = 0;
        while (seam::WindowPixel(0, h) != 0) ++h;
        return h;
    }
    static std::uint32_t Colour(BYTE index) {
        PALETTEENTRY e = seam::DisplayPalette(index);
        return 0xFF000000u | std::uint32_t(e.peRed) << 16 | e.peGreen << 8 | e.peBlue;
    }
    // Every fourth picture column (or row), starting at `phase`, lit.
    void Stripes(bool columns, int phase) {
        ASSERT_EQ(DD_OK, Fill(nullptr, kDark));
        for (int c = phase; c < (columns ? 640 : 480); c += 4) {
            RECT line = columns ? RECT{c, 0, c + 1, 480} : RECT{0, c, 640, c + 1};
            ASSERT_EQ(DD_OK, Fill(&line, kLit));
        }
        ASSERT_EQ(DD_OK, Flip());
    }
    static bool Held(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }

  private:
    std::unique_ptr<BackendOptions> options_;
};

// How one lit picture line shows across the screen line through the middle
// of the picture: the screen pixels it lights, wholly or in part.
struct Shown {
    double centre = 0;  // where it sits, weighted by how lit each pixel is
    double amount = 0;  // how many screen pixels' worth it lights
    int blended = 0;    // screen pixels lit in part
};

// The lit lines along the screen's middle row (columns) or column (rows).
// A screen pixel mixes at most two neighbouring picture lines, and lit lines
// are four apart, so each run of lit screen pixels belongs to one of them.
std::vector<Shown> Measure(bool columns, int length) {
    std::vector<Shown> lines;
    bool inRun = false;
    for (int i = 0; i < length; ++i) {
        const std::uint32_t pixel = columns ? seam::WindowPixel(i, 384) : seam::WindowPixel(512, i);
        const int red = int(pixel >> 16 & 0xFF);
        if (red == 0) {
            inRun = false;
            continue;
        }
        if (!inRun) lines.emplace_back();
        inRun = true;
        Shown& line = lines.back();
        line.amount += red / 255.0;
        line.centre += (i + 0.5) * red / 255.0;
        line.blended += red < 255;
    }
    for (Shown& line : lines) line.centre /= line.amount;
    return lines;
}

class SharpTest : public DesktopTest {};

// Sharp scaling at 1.6: each picture column and row lights 1.6 screen pixels'
// worth (within half a pixel, where nearest gives 1 or 2), centred where it
// belongs, with at most one blended screen pixel on each side.
TEST_F(SharpTest, EveryPicturePixelIsTheSameSizeAndItsEdgesAreOneScreenPixelAtMost) {
    Stripes(true, 0);
    ASSERT_EQ(1024, WindowWidth());
    ASSERT_EQ(768, WindowHeight());
    for (bool columns : {true, false}) {
        const int pictureLength = columns ? 640 : 480, screenLength = columns ? 1024 : 768;
        for (int phase = 0; phase < 4; ++phase) {
            Stripes(columns, phase);
            const std::vector<Shown> lines = Measure(columns, screenLength);
            ASSERT_EQ(size_t(pictureLength / 4), lines.size()) << columns << phase;
            for (size_t k = 0; k < lines.size(); ++k) {
                const int c = phase + 4 * int(k);
                SCOPED_TRACE(testing::Message() << (columns ? "column " : "row ") << c);
                EXPECT_NEAR(1.6, lines[k].amount, 0.45);
                EXPECT_NEAR((c + 0.5) * 1.6, lines[k].centre, 0.5);
                EXPECT_LE(lines[k].blended, 2);
            }
        }
    }
}

// A play frame changes a few spans; the screen pixels that blend a changed
// picture row or column with an unchanged one are redrawn too: after each
// step the window is what a whole redraw (as when it is uncovered) draws.
TEST_F(SharpTest, ChangedSpansAreRedrawnAsAWholeRedrawWouldDrawThem) {
    ASSERT_EQ(DD_OK, Fill(nullptr, kDark));
    ASSERT_EQ(DD_OK, Flip());
    ASSERT_EQ(DD_OK, Fill(nullptr, kDark));  // both buffers dark
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

class NearestTest : public DesktopTest {
  protected:
    NearestTest() : DesktopTest({"--scale=nearest"}) {}
};

// --scale=nearest: no blending at all, each line one or two whole pixels.
TEST_F(NearestTest, EveryScreenPixelIsOnePicturePixelOneOrTwoWide) {
    for (bool columns : {true, false}) {
        Stripes(columns, 1);
        const std::vector<Shown> lines = Measure(columns, columns ? 1024 : 768);
        ASSERT_EQ(size_t(columns ? 160 : 120), lines.size());
        int ones = 0, twos = 0;
        for (const Shown& line : lines) {
            EXPECT_EQ(0, line.blended);
            ones += line.amount == 1;
            twos += line.amount == 2;
        }
        EXPECT_EQ(int(lines.size()), ones + twos);
        EXPECT_GT(ones, 0);
        EXPECT_GT(twos, 0);
    }
}

class WindowModeTest : public DesktopTest {
  protected:
    WindowModeTest() : DesktopTest({"--window"}) {}
    // The picture's four quarters in four colours.
    void Quarters() {
        const BYTE colours[] = {30, 90, 150, 210};
        for (int q = 0; q < 4; ++q) {
            RECT r{q % 2 * 320, q / 2 * 240, q % 2 * 320 + 320, q / 2 * 240 + 240};
            ASSERT_EQ(DD_OK, Fill(&r, colours[q]));
        }
        ASSERT_EQ(DD_OK, Flip());
    }
    // The quarters' colours near each corner of a `scale` times picture.
    void ExpectQuarters(int scale) {
        const BYTE colours[] = {30, 90, 150, 210};
        for (int q = 0; q < 4; ++q) {
            const int x = (q % 2 * 320 + 160) * scale / 10, y = (q / 2 * 240 + 120) * scale / 10;
            EXPECT_EQ(Colour(colours[q]), seam::WindowPixel(x, y)) << "quarter " << q;
        }
    }
};

// --window on a 1024 x 768 screen: a 640 x 480 window, one screen pixel per
// picture pixel exactly. F11 and Alt+Enter switch to the whole screen and
// back while a key is held; the picture comes back at once at each size
// without a new one being presented, the held key stays held, and the Enter
// of Alt+Enter is not the game's.
TEST_F(WindowModeTest, StartsAtOneToOneAndSwitchesKeepingThePictureAndTheKeys) {
    Stripes(true, 2);
    ASSERT_EQ(640, WindowWidth());
    ASSERT_EQ(480, WindowHeight());
    long wrong = 0;
    for (int y = 0; y < 480; y += 7) {
        for (int x = 0; x < 640; ++x) {
            wrong += seam::WindowPixel(x, y) != Colour(x % 4 == 2 ? kLit : kDark);
        }
    }
    EXPECT_EQ(0, wrong);

    Quarters();
    const int flips = seam::FlipCount();
    PushKey(SDL_SCANCODE_LEFT, true);
    PushKey(SDL_SCANCODE_F11, true);
    PushKey(SDL_SCANCODE_F11, false);
    EXPECT_TRUE(Held(VK_LEFT));  // polling takes the events
    EXPECT_EQ(1024, WindowWidth());
    EXPECT_EQ(768, WindowHeight());
    ExpectQuarters(16);

    PushKey(SDL_SCANCODE_LALT, true, KMOD_LALT);
    PushKey(SDL_SCANCODE_RETURN, true, KMOD_LALT);
    PushKey(SDL_SCANCODE_RETURN, false, KMOD_LALT);
    PushKey(SDL_SCANCODE_LALT, false);
    EXPECT_FALSE(Held(VK_RETURN));
    EXPECT_EQ(640, WindowWidth());
    EXPECT_EQ(480, WindowHeight());
    ExpectQuarters(10);
    EXPECT_TRUE(Held(VK_LEFT));
    PushKey(SDL_SCANCODE_LEFT, false);
    EXPECT_FALSE(Held(VK_LEFT));
    EXPECT_EQ(flips, seam::FlipCount());
}

using ControllerTest = DesktopTest;

// The controller holds the same keys as the keyboard: d-pad and stick move,
// A is whichever of Enter and Space was polled last, B Backspace, Back Esc.
// A key held by the keyboard and the controller goes up with the last of
// them, and a controller unplugged lets go of what it held.
TEST_F(ControllerTest, ButtonsAndStickHoldTheKeyboardsKeys) {
    auto pad = std::make_unique<VirtualController>();
    ASSERT_TRUE(pad->Plugged()) << SDL_GetError();
    EXPECT_FALSE(Held(VK_LEFT));  // takes the controller in

    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    EXPECT_TRUE(Held(VK_LEFT));
    PushKey(SDL_SCANCODE_LEFT, true);
    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, false);
    EXPECT_TRUE(Held(VK_LEFT));  // the keyboard still holds it
    PushKey(SDL_SCANCODE_LEFT, false);
    EXPECT_FALSE(Held(VK_LEFT));

    pad->LeftStickX(32767);
    EXPECT_TRUE(Held(VK_RIGHT));
    pad->LeftStickX(12000);  // between let-go and push: still held
    EXPECT_TRUE(Held(VK_RIGHT));
    pad->LeftStickX(2000);
    EXPECT_FALSE(Held(VK_RIGHT));
    pad->LeftStickX(-30000);
    EXPECT_TRUE(Held(VK_LEFT));
    EXPECT_FALSE(Held(VK_RIGHT));
    pad->LeftStickX(0);
    EXPECT_FALSE(Held(VK_LEFT));

    for (int advance : {VK_SPACE, VK_RETURN, VK_SPACE}) {
        const int other = advance == VK_SPACE ? VK_RETURN : VK_SPACE;
        EXPECT_FALSE(Held(advance));  // the screen polls its key
        pad->Button(SDL_CONTROLLER_BUTTON_A, true);
        EXPECT_TRUE(Held(advance));
        EXPECT_FALSE(Held(other));
        pad->Button(SDL_CONTROLLER_BUTTON_A, false);
        EXPECT_FALSE(Held(advance));
    }
    pad->Button(SDL_CONTROLLER_BUTTON_B, true);
    EXPECT_TRUE(Held(VK_BACK));
    pad->Button(SDL_CONTROLLER_BUTTON_B, false);
    pad->Button(SDL_CONTROLLER_BUTTON_BACK, true);
    EXPECT_TRUE(Held(VK_ESCAPE));
    pad->Button(SDL_CONTROLLER_BUTTON_BACK, false);
    EXPECT_FALSE(Held(VK_BACK) || Held(VK_ESCAPE));

    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    EXPECT_TRUE(Held(VK_RIGHT));
    pad.reset();  // unplugged while holding Right
    EXPECT_FALSE(Held(VK_RIGHT));
    pad = std::make_unique<VirtualController>();  // and plugged in again
    EXPECT_FALSE(Held(VK_RIGHT));
    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    EXPECT_TRUE(Held(VK_RIGHT));
    pad->Button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, false);
    EXPECT_FALSE(Held(VK_RIGHT));
}

}  // namespace
