// The compiled-in font against the font itself: each text, rendered by
// SDL2_ttf, must come out of DrawText pixel for pixel, clipped at the
// picture's edges (rows end with a few bytes that must stay paper).
#include "platform/core/glyphs.h"

#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/seam.h"

namespace {

constexpr BYTE kPaper = 0xAB, kInk = 7;
constexpr int kPitchPad = 3;

using Picture = std::vector<BYTE>;

// The font's rendering of `text` at (x, y) in a w x h picture, or DrawText's
// of `drawn` (`length` of it) when given.
Picture Render(TTF_Font* font, const std::string& text, int w, int h, int x, int y,
               const char* drawn = nullptr, int length = 0) {
    Picture picture(size_t(w + kPitchPad) * h, kPaper);
    if (drawn != nullptr) {
        standin::DrawText(picture.data(), w, h, w + kPitchPad, x, y, drawn, length, kInk);
        return picture;
    }
    SDL_Surface* surface = TTF_RenderText_Solid(font, text.c_str(), SDL_Color{255, 255, 255, 255});
    EXPECT_NE(surface, nullptr) << text;
    for (int row = 0; surface && row < surface->h; ++row) {
        for (int column = 0; column < surface->w; ++column) {
            const int tx = x + column, ty = y + row;
            if (tx >= 0 && tx < w && ty >= 0 && ty < h &&
                static_cast<const BYTE*>(surface->pixels)[row * surface->pitch + column] != 0)
                picture[size_t(ty) * (w + kPitchPad) + tx] = kInk;
        }
    }
    SDL_FreeSurface(surface);
    return picture;
}

TEST(Glyphs, TextsMatchTheFontClippedWithOtherCodesAndLengths) {
    ASSERT_EQ(TTF_Init(), 0);
    TTF_Font* font = TTF_OpenFont("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 12);
    ASSERT_NE(font, nullptr) << "DejaVu Sans Bold (fonts-dejavu-core) is needed";
    TTF_SetFontKerning(font, 0);
    EXPECT_TRUE(standin::FontReady());
    // J, j and Y reach left of the pen; a first one moves the whole text.
    std::string printable;
    for (char c = ' '; c <= '~'; ++c) printable += c;
    for (const std::string& text : {std::string("V O R N A C K L E  Objective: 1250 / 2000"),
                                    std::string("JEWELS = GAME OVER jewels Y"), printable}) {
        int w = 0, h = 0;
        ASSERT_EQ(TTF_SizeText(font, text.c_str(), &w, &h), 0);
        EXPECT_TRUE(Render(font, text, w + 6, h + 4, 2, 1) ==
                    Render(font, "", w + 6, h + 4, 2, 1, text.data(), int(text.size())))
            << text;
    }
    const int places[][2] = {{0, 0},  {-5, -4},  {-1, 5},  {30, 8},
                             {3, 10}, {-300, 0}, {0, -20}, {41, 0}};
    for (const auto& at : places) {
        EXPECT_TRUE(Render(font, "JEWELS 1234567890", 40, 14, at[0], at[1]) ==
                    Render(font, "", 40, 14, at[0], at[1], "JEWELS 1234567890", 17))
            << at[0] << ", " << at[1];
    }
    // Codes the game never draws take no room (octal: a hex escape would
    // swallow the letter after it); a length short of the string is kept,
    // and 0 or -1 draw nothing; drawing allocates nothing.
    EXPECT_TRUE(Render(font, "AB", 60, 16, 1, 1) ==
                Render(font, "", 60, 16, 1, 1, "A\001\200\377B", 5));
    EXPECT_TRUE(Render(font, "J", 60, 16, 1, 1) == Render(font, "", 60, 16, 2, 1, "\177J", 2));
    Picture drawn(size_t(60 + kPitchPad) * 16, kPaper);
    const long allocations = seam::AllocUses();
    for (auto [length, x] : {std::pair{3, 0}, {0, 30}, {-1, 30}})
        standin::DrawText(drawn.data(), 60, 16, 60 + kPitchPad, x, 0, "JEWELS", length, kInk);
    EXPECT_EQ(seam::AllocUses(), allocations);
    EXPECT_TRUE(drawn == Render(font, "JEW", 60, 16, 0, 0));
    TTF_CloseFont(font);
    TTF_Quit();
}

}  // namespace
