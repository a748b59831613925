// Text from the compiled-in glyphs (whose pictures the golden replay holds):
// clipped at the picture's edges as a larger picture would show it, touching
// nothing past the row width; codes the game never draws take no room; a
// length is kept; drawing allocates nothing.
#include "platform/core/glyphs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/seam.h"

namespace {

constexpr BYTE kPaper = 0xAB, kInk = 7;

// `text` drawn at (x, y) in a w x h picture whose rows are 3 bytes longer.
std::vector<BYTE> Drawn(const std::string& text, int w, int h, int x, int y, int length = -2) {
    std::vector<BYTE> picture(size_t(w + 3) * h, kPaper);
    standin::DrawText(picture.data(), w, h, w + 3, x, y, text.data(),
                      length == -2 ? int(text.size()) : length, kInk);
    return picture;
}

// The w x h window at (left, top) of a picture drawn 800 x 60 with its text
// at (400, 20), padded like Drawn's.
std::vector<BYTE> Window(const std::string& text, int w, int h, int left, int top) {
    const std::vector<BYTE> big = Drawn(text, 800, 60, 400, 20);
    std::vector<BYTE> window(size_t(w + 3) * h, kPaper);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) window[r * (w + 3) + c] = big[(top + r) * 803 + left + c];
    }
    return window;
}

TEST(Glyphs, ClippedAtTheEdgesOtherCodesLengthsAndNoAllocation) {
    EXPECT_TRUE(standin::FontReady());
    const std::string text = "JEWELS jy 1234567890";  // J, j and y reach left of the pen
    const std::vector<BYTE> whole = Drawn(text, 200, 20, 2, 1);
    EXPECT_GT(std::count(whole.begin(), whole.end(), kInk), 100);
    const int places[][2] = {{0, 0},  {-5, -4},  {-1, 5},  {30, 8},
                             {3, 10}, {-300, 0}, {0, -20}, {41, 0}};
    for (const auto& at : places) {
        EXPECT_TRUE(Drawn(text, 40, 14, at[0], at[1]) ==
                    Window(text, 40, 14, 400 - at[0], 20 - at[1]))
            << at[0] << ", " << at[1];
    }
    // (Octal escapes: a hex escape would swallow the letter after it.)
    EXPECT_TRUE(Drawn("AB", 60, 16, 1, 1) == Drawn("A\001\200\377B", 60, 16, 1, 1));
    EXPECT_TRUE(Drawn("J", 60, 16, 1, 1) == Drawn("\177J", 60, 16, 2, 1));
    std::vector<BYTE> picture(63 * 16, kPaper);
    const long allocations = seam::HeapAllocations();
    for (auto [length, x] : {std::pair{3, 0}, {0, 30}, {-1, 30}})
        standin::DrawText(picture.data(), 60, 16, 63, x, 0, "JEWELS", length, kInk);
    EXPECT_EQ(seam::HeapAllocations(), allocations);
    EXPECT_TRUE(picture == Drawn("JEW", 60, 16, 0, 0));
}

}  // namespace
