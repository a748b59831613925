// The compiled-in font against the font itself: each text, rendered whole by
// SDL2_ttf the way the stand-in once drew it, must come out of DrawText pixel
// for pixel, clipped at the picture's edges, touching nothing else.
#include "platform/core/glyphs.h"

#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/seam.h"

namespace {

constexpr BYTE kPaper = 0xAB, kInk = 7;

// Each row has a few bytes past the width, which must stay paper.
struct Picture {
    int width, height, pitch;
    std::vector<BYTE> pixels;
    Picture(int w, int h) : width(w), height(h), pitch(w + 3), pixels(size_t(pitch) * h, kPaper) {}
};

// Where two pictures first differ, or "" when they are the same.
std::string Difference(const Picture& want, const Picture& got) {
    for (size_t i = 0; i < want.pixels.size(); ++i) {
        if (want.pixels[i] == got.pixels[i]) continue;
        return "first difference at x " + std::to_string(i % want.pitch) + ", y " +
               std::to_string(i / want.pitch);
    }
    return "";
}

class Glyphs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(TTF_Init(), 0);
        font = TTF_OpenFont("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 12);
        ASSERT_NE(font, nullptr) << "DejaVu Sans Bold (fonts-dejavu-core) is needed";
        TTF_SetFontKerning(font, 0);
    }
    static void TearDownTestSuite() {
        if (font) TTF_CloseFont(font);
        font = nullptr;
        TTF_Quit();
    }

    // The font's rendering of `text` with its top-left at (x, y), clipped.
    static Picture Expected(const std::string& text, Picture picture, int x, int y) {
        SDL_Surface* surface =
            TTF_RenderText_Solid(font, text.c_str(), SDL_Color{255, 255, 255, 255});
        EXPECT_NE(surface, nullptr) << text;
        if (!surface) return picture;
        for (int row = 0; row < surface->h; ++row) {
            for (int column = 0; column < surface->w; ++column) {
                int tx = x + column, ty = y + row;
                if (tx < 0 || tx >= picture.width || ty < 0 || ty >= picture.height) continue;
                if (static_cast<const BYTE*>(surface->pixels)[row * surface->pitch + column] != 0) {
                    picture.pixels[size_t(ty) * picture.pitch + tx] = kInk;
                }
            }
        }
        SDL_FreeSurface(surface);
        return picture;
    }
    static Picture Drawn(const std::string& text, Picture picture, int x, int y) {
        standin::DrawText(picture.pixels.data(), picture.width, picture.height, picture.pitch, x, y,
                          text.data(), static_cast<int>(text.size()), kInk);
        return picture;
    }

    static TTF_Font* font;
};
TTF_Font* Glyphs::font = nullptr;

// The game's lines (J, j and Y reach left of the pen; a first one moves the
// whole text), and every printable character in one line.
TEST_F(Glyphs, TextsMatchTheFont) {
    std::string printable;
    for (char c = ' '; c <= '~'; ++c) printable += c;
    const char* const texts[] = {
        "V O R N A C K L E           Objective: 1250 / 2000",
        "Level 3                                         Time Remaining: 27",
        "You are VAZOZ...local resident in the primitive rural area of Jewel Town.",
        "JEWELS = GAME OVER jewels",
        "YELLOW JEWELS = -50 POINTS",
        "CONGRATULATIONS YOU ARE ONE OF THE BEST VORNACKLE OF ALL TIME!!!",
        printable.c_str(),
    };
    for (const std::string text : texts) {
        int w = 0, h = 0;
        ASSERT_EQ(TTF_SizeText(font, text.c_str(), &w, &h), 0);
        Picture picture(w + 6, h + 4);
        EXPECT_EQ(Difference(Expected(text, picture, 2, 1), Drawn(text, picture, 2, 1)), "")
            << text;
    }
}

TEST_F(Glyphs, ClipsAtThePictureEdges) {
    const Picture picture(40, 14);
    const std::string text = "JEWELS 1234567890";
    const int places[][2] = {{0, 0},  {-5, -4},  {-1, 5},  {30, 8},
                             {3, 10}, {-300, 0}, {0, -20}, {41, 0}};
    for (const auto& at : places) {
        EXPECT_EQ(
            Difference(Expected(text, picture, at[0], at[1]), Drawn(text, picture, at[0], at[1])),
            "")
            << "at " << at[0] << ", " << at[1];
    }
}

// Codes the game never draws take no room; a length shorter than the string
// is honoured; drawing allocates nothing.
TEST_F(Glyphs, OtherCodesLengthsAndAllocation) {
    EXPECT_TRUE(standin::FontReady());
    const Picture picture(60, 16);
    // (Octal escapes: a hex escape would swallow the letter after it.)
    EXPECT_EQ(Difference(Expected("AB", picture, 1, 1), Drawn("A\001\200\377B", picture, 1, 1)),
              "");
    EXPECT_EQ(Difference(Expected("J", picture, 1, 1), Drawn("\177J", picture, 2, 1)), "");
    // "JEWELS" cut to 3, then lengths 0 and -1 further right, which draw nothing.
    Picture drawn = picture;
    long allocations = seam::AllocUses();
    for (auto [length, x] : {std::pair{3, 0}, {0, 30}, {-1, 30}}) {
        standin::DrawText(drawn.pixels.data(), 60, 16, drawn.pitch, x, 0, "JEWELS", length, kInk);
    }
    EXPECT_EQ(seam::AllocUses(), allocations);
    EXPECT_EQ(Difference(Expected("JEW", picture, 0, 0), drawn), "");
}

}  // namespace
