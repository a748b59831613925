// The desktop backend headless on SDL's dummy driver, whose screen is
// 1024 x 768 (1.6 screen pixels per picture pixel): sharp scaling, changed
// spans, --window and the switches, and a game controller.
#include <SDL.h>

#include <cstdlib>
#include <tuple>

#include "platform/sdl/sdl_backend.h"
#include "tests/game/replay_runner.h"
#include "tests/platform/platform_test_support.h"

namespace {

// The desktop backend on SDL's display that nobody sees, without sound.
[[maybe_unused]] const bool kDummyDrivers =
    setenv("SDL_VIDEODRIVER", "dummy", 1) == 0 && setenv("SDL_AUDIODRIVER", "dummy", 1) == 0;

// What the window shows at (x, y), as 0xAARRGGBB; 0 outside it. Without an
// accelerated renderer the backend presents into the window's own surface.
std::uint32_t WindowPixel(int x, int y) {
    SDL_Window* window = sdl::Window();
    SDL_Surface* surface = window != nullptr ? SDL_GetWindowSurface(window) : nullptr;
    if (surface == nullptr || x < 0 || y < 0 || x >= surface->w || y >= surface->h) return 0;
    const auto* row = static_cast<const std::uint8_t*>(surface->pixels) + y * surface->pitch;
    return reinterpret_cast<const std::uint32_t*>(row)[x];
}

void PushKey(SDL_Scancode code, bool down, Uint16 mod = KMOD_NONE) {
    SDL_Event event{Uint32(down ? SDL_KEYDOWN : SDL_KEYUP)};
    event.key.keysym = {code, SDL_GetKeyFromScancode(code), mod, 0};
    SDL_PushEvent(&event);
}

std::vector<std::uint32_t> Window(int width, int height) {
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(WindowPixel(x, y));
    return pixels;
}

// A game controller plugged in for the life of the object: SDL's virtual
// joystick, its buttons and axes numbered as a game controller's.
struct Pad {
    // No window of the dummy driver has the focus, which would hold back a
    // controller's events.
    int hint = SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                          SDL_CONTROLLER_BUTTON_MAX, 0);
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    ~Pad() {
        SDL_JoystickClose(joystick);
        SDL_JoystickDetachVirtual(index);
    }
};

using DesktopTest = DisplayTest;

// Every fourth picture column (row) lit, moving on by one a frame. Along the
// screen's middle row (column) each lit line c lights 1.6 screen pixels' worth
// centred where it belongs, all in [1.6 c - 1, 1.6 c + 5): sharp, within a
// quarter and with at most one blended screen pixel each side; nearest, 1 or
// 2 whole ones within 0.6 of it. Only changed spans are drawn, and they draw
// what a whole redraw would. A palette change alone recolours the picture.
TEST_F(DesktopTest, EveryPicturePixelHasItsSizeAndAPaletteChangeRecoloursIt) {
    for (const bool sharp : {true, false}) {
        const BackendOptions scaling({sharp ? "--scale=sharp" : "--scale=nearest"});
        for (bool columns : {true, false}) {
            const int n = columns ? 640 : 480;  // lines
            for (int phase = 0; phase < 4; ++phase) {
                ASSERT_EQ(DD_OK, Fill(nullptr, 0));
                for (int c = phase; c < n; c += 4) {
                    RECT line = columns ? RECT{c, 0, c + 1, 480} : RECT{0, c, 640, c + 1};
                    ASSERT_EQ(DD_OK, Fill(&line, 255));  // red 255 in DisplayTest's palette
                }
                ASSERT_EQ(DD_OK, Flip());
                const std::vector<std::uint32_t> spans = Window(1024, 768);
                sdl::RedrawPicture();
                EXPECT_TRUE(spans == Window(1024, 768)) << columns << " phase " << phase;
                for (int c = phase; c < n; c += 4) {
                    double amount = 0, centre = 0;
                    int blended = 0, at = c * 8 / 5;
                    for (int i = std::max(0, at - 1); i < std::min(n * 8 / 5, at + 5); ++i) {
                        const double red =
                            (spans[columns ? 384 * 1024 + i : i * 1024 + 512] >> 16 & 255) / 255.0;
                        amount += red;
                        centre += (i + 0.5) * red;
                        blended += red > 0 && red < 1;
                    }
                    const std::string line = (sharp ? "sharp " : "nearest ") +
                                             std::to_string(columns) + " line " + std::to_string(c);
                    if (sharp) {
                        EXPECT_NEAR(1.6, amount, 0.25) << line;
                        EXPECT_NEAR((c + 0.5) * 1.6, centre / amount, 0.2) << line;
                    } else {
                        EXPECT_TRUE(amount == 1 || amount == 2) << line;
                        EXPECT_NEAR((c + 0.5) * 1.6, centre / amount, 0.61) << line;
                    }
                    EXPECT_LE(blended, sharp ? 2 : 0) << line;
                }
            }
        }
    }
    for (int i = 0; i < 2; ++i) {  // both pictures the same
        ASSERT_EQ(DD_OK, Fill(nullptr, 0));
        ASSERT_EQ(DD_OK, Flip());
    }
    PALETTEENTRY gold = {255, 215, 0, 0};
    ASSERT_EQ(DD_OK, palette->SetEntries(0, 0, 1, &gold));
    ASSERT_EQ(DD_OK, Flip());
    EXPECT_TRUE(WindowPixel(0, 0) == 0xFFFFD700u && WindowPixel(1023, 767) == 0xFFFFD700u);
}

class WindowModeTest : public DisplayTest {
    BackendOptions window{{"--window"}};
};

// --window on a 1024 x 768 screen: 640 x 480, one window pixel per picture
// pixel. F11 and Alt+Enter switch to the whole screen and back while a key
// is held: the picture is there at each size without a new present, the key
// stays held, and the Enter of Alt+Enter is not the game's.
TEST_F(WindowModeTest, StartsAtOneToOneAndSwitchesKeepingThePictureAndTheKeys) {
    RECT quarter{320, 240, 640, 480};
    ASSERT_EQ(DD_OK, Fill(nullptr, 0));
    ASSERT_EQ(DD_OK, Fill(&quarter, 90));
    ASSERT_EQ(DD_OK, Flip());
    auto colour = [](std::uint32_t i) { return 0xFF000000u | i << 16 | (255 - i) << 8 | i / 2; };
    std::vector<std::uint32_t> picture;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) picture.push_back(colour(x >= 320 && y >= 240 ? 90 : 0));
    EXPECT_TRUE(picture == Window(640, 480) && WindowPixel(640, 0) == 0);
    PushKey(SDL_SCANCODE_LEFT, true);
    PushKey(SDL_SCANCODE_F11, true);
    PushKey(SDL_SCANCODE_F11, false);
    EXPECT_TRUE(Held(VK_LEFT));  // takes the events
    EXPECT_NE(0u, WindowPixel(1023, 767));
    EXPECT_EQ(colour(90), WindowPixel(800, 600));
    PushKey(SDL_SCANCODE_RETURN, true, KMOD_LALT);
    EXPECT_FALSE(Held(VK_RETURN));
    EXPECT_TRUE(picture == Window(640, 480) && WindowPixel(640, 0) == 0);
    EXPECT_TRUE(Held(VK_LEFT));
    PushKey(SDL_SCANCODE_LEFT, false, KMOD_LALT);  // let go before Alt is
    PushKey(SDL_SCANCODE_RETURN, false, KMOD_LALT);
    EXPECT_FALSE(Held(VK_LEFT));
}

// The d-pad, the stick (pushed past half way, let go inside a quarter), B
// and Back hold Left, Right, Backspace and Esc as the keyboard does; a key
// goes up with the last that held it, and a controller's removal lets go of
// all it held.
TEST_F(DesktopTest, ControllerHoldsTheKeyboardsKeysUntilTheLastLetsGo) {
    Pad pad;
    ASSERT_NE(nullptr, pad.joystick) << SDL_GetError();
    enum { Key, Button, Stick, Removed };
    const std::tuple<int, int, int, const char*> steps[] = {
        {Button, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1, "L"},
        {Key, SDL_SCANCODE_LEFT, 1, "L"},
        {Button, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0, "L"},
        {Key, SDL_SCANCODE_LEFT, 0, ""},
        {Stick, 0, 12000, ""},
        {Stick, 0, 32767, "R"},
        {Stick, 0, 12000, "R"},
        {Stick, 0, 2000, ""},
        {Stick, 0, -20000, "L"},
        {Stick, 0, -12000, "L"},
        {Stick, 0, -5000, ""},
        {Button, SDL_CONTROLLER_BUTTON_B, 1, "B"},
        {Button, SDL_CONTROLLER_BUTTON_BACK, 1, "BE"},
        {Button, SDL_CONTROLLER_BUTTON_B, 0, "E"},
        {Button, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1, "RE"},
        {Removed, 0, 0, ""},  // alone, without the buttons' releases first
    };
    Held(VK_LEFT);  // takes the controller in
    for (size_t step = 0; step < std::size(steps); ++step) {
        const auto [kind, part, value, expected] = steps[step];
        if (kind == Key) PushKey(SDL_Scancode(part), value);
        if (kind == Button) SDL_JoystickSetVirtualButton(pad.joystick, part, value);
        if (kind == Stick)
            SDL_JoystickSetVirtualAxis(pad.joystick, SDL_CONTROLLER_AXIS_LEFTX, value);
        if (kind == Removed) {
            SDL_Event removed{SDL_CONTROLLERDEVICEREMOVED};
            removed.cdevice.which = SDL_JoystickInstanceID(pad.joystick);
            SDL_PushEvent(&removed);
        }
        std::string held;
        for (auto [key, name] :
             {std::pair{VK_LEFT, 'L'}, {VK_RIGHT, 'R'}, {VK_BACK, 'B'}, {VK_ESCAPE, 'E'}})
            if (Held(key)) held += name;
        EXPECT_EQ(expected, held) << "step " << step;
    }
}

// A real game with the controller alone: A goes on from each screen whichever
// of Enter and Space it waits for, and Back quits play at once.
TEST(ControllerGameTest, AGoesOnFromEveryScreenAndBackQuits) {
    SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER);  // before the game's window starts it
    Pad pad;
    std::vector<int> screens;  // each screen in the order first seen
    int exitCode = -1, pictures = 0;
    const auto frames = replay::Play(
        0, 300,
        [&](const replay::FrameRecord& frame) {
            const int state = frame.game.screenState;
            if (screens.empty() || screens.back() != state) screens.push_back(state);
            // A tapped every other picture: a fresh press for each screen.
            SDL_JoystickSetVirtualButton(pad.joystick, SDL_CONTROLLER_BUTTON_A,
                                         state != Playing && ++pictures % 2 == 0);
            SDL_JoystickSetVirtualButton(pad.joystick, SDL_CONTROLLER_BUTTON_BACK,
                                         state == Playing);
            return replay::Decision{{}, 0, false, true};  // the pad's keys stay
        },
        1, nullptr, &exitCode);
    EXPECT_EQ(0, exitCode);
    EXPECT_EQ((std::vector<int>{Story, Title, Briefing, Playing}), screens);
    EXPECT_LT(frames.size(), 300u);  // else stopped by the runner, with Esc
}

}  // namespace
