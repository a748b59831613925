// Jewel marks as the player sees them: each kind's mark inside its square in
// play (contrasting, apart from every other kind's, nothing drawn around
// the square, whole at the bottom row), the same marks beside the
// briefing's lines, the M key in play and on the briefing, and WinMain's
// command line. (Every picture with marks is also in the golden replay.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"

namespace {

using replay::FrameRecord;

constexpr int kKinds[kJewelKinds] = {Red, Green, Blue, Orange, Yellow, Purple, White};

using Picture = std::vector<BYTE>;

Picture Shown() {
    const BYTE* pixels = seam::PrimaryPixels();
    return pixels ? Picture(pixels, pixels + seam::kWidth * seam::kHeight) : Picture{};
}

BYTE At(const Picture& picture, int x, int y) {
    return picture.at(static_cast<size_t>(y) * seam::kWidth + x);
}

// Which pixels of the 11 x 11 square at (x, y) are not the jewel's colour
// (rows below the screen count as jewel), and the one index they all have
// (-1 when they differ).
struct Square {
    std::array<bool, 121> mark{};
    int count = 0;
    int colour = -1;
};

Square Read(const Picture& picture, int x, int y, int kind) {
    Square square;
    for (int row = 0; row < 11 && y + row < seam::kHeight; ++row) {
        for (int column = 0; column < 11; ++column) {
            const BYTE pixel = At(picture, x + column, y + row);
            if (pixel == kind) continue;
            square.mark[row * 11 + column] = true;
            square.colour = square.count++ == 0 || square.colour == pixel ? pixel : -2;
        }
    }
    return square;
}

// WCAG's contrast ratio of two colours of the display palette.
double Contrast(int a, int b) {
    auto luminance = [](int index) {
        const PALETTEENTRY entry = seam::DisplayPalette(index);
        double sum = 0;
        const double weights[3] = {0.2126, 0.7152, 0.0722};
        const BYTE channels[3] = {entry.peRed, entry.peGreen, entry.peBlue};
        for (int i = 0; i < 3; ++i) {
            const double c = channels[i] / 255.0;
            sum += weights[i] * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The seven kinds in a row at y 200 and, at the bottom row (y 470, its last
// row below the screen), red and white; one picture later, marks on or not.
Picture PlayPicture(bool marks) {
    Picture picture;
    replay::RunScenario(
        1, 1,
        [marks] {
            gameData.marksShown = marks;
            for (int k = 0; k < kJewelKinds; ++k)
                gameData.jewels[k] = {40 + 30 * k, 198, 2, kKinds[k], 1};
            gameData.jewels[7] = {100, 468, 2, Red, 1};
            gameData.jewels[8] = {140, 468, 2, White, 1};
        },
        {},
        [&](const FrameRecord&) {
            picture = Shown();
            return true;
        });
    return picture;
}

TEST(JewelMarks, EachKindHasItsOwnContrastingMarkInsideItsSquare) {
    const Picture plain = PlayPicture(false), marked = PlayPicture(true);
    ASSERT_FALSE(marked.empty());
    std::vector<Square> squares;
    for (int k = 0; k < kJewelKinds; ++k) {
        const int x = 40 + 30 * k, kind = kKinds[k];
        SCOPED_TRACE(kind);
        EXPECT_EQ(Read(plain, x, 200, kind).count, 0) << "no mark while marks are off";
        const Square square = Read(marked, x, 200, kind);
        // A mark of one colour, big enough to read, with two rows and columns
        // of the jewel's colour around it.
        EXPECT_GE(square.count, 8);
        ASSERT_GE(square.colour, 0) << "one colour per mark";
        EXPECT_GE(Contrast(square.colour, kind), 4.5) << "mark colour " << square.colour;
        for (int i = 0; i < 121; ++i) {
            const int row = i / 11, column = i % 11;
            if (row < 2 || row > 8 || column < 2 || column > 8) {
                EXPECT_FALSE(square.mark[i]) << i;
            }
        }
        // Nothing drawn around the square.
        for (int i = -1; i <= 11; ++i) {
            for (auto [dx, dy] : {std::pair{i, -1}, {i, 11}, {-1, i}, {11, i}}) {
                EXPECT_EQ(At(marked, x + dx, 200 + dy), 0) << dx << "," << dy;
            }
        }
        squares.push_back(square);
    }
    // Told apart by shape alone: any two marks differ in several pixels.
    for (int a = 0; a < kJewelKinds; ++a) {
        for (int b = a + 1; b < kJewelKinds; ++b) {
            int differ = 0;
            for (int i = 0; i < 121; ++i) differ += squares[a].mark[i] != squares[b].mark[i];
            EXPECT_GE(differ, 8) << kKinds[a] << " and " << kKinds[b];
        }
    }
    // At the bottom row the square is cut like a jewel's and the mark stays whole.
    for (auto [x, k] : {std::pair{100, 0}, {140, 6}}) {
        const Square bottom = Read(marked, x, 470, kKinds[k]);
        EXPECT_EQ(bottom.mark, squares[k].mark) << kKinds[k];
        EXPECT_EQ(At(marked, x + 5, 479), kKinds[k]);
        EXPECT_EQ(At(marked, x - 1, 479), 0);
    }
}

// The briefing of level 5 (one picture after `setup` on its first pass),
// with WinMain's `commandLine` and M held or not.
Picture BriefingPicture(const char* commandLine, bool holdM, bool* marksShown) {
    Picture picture;
    int briefings = 0;
    replay::Play(
        0, 100,
        [&](const FrameRecord& frame) {
            const int state = frame.game.screenState;
            if (state != Briefing) return replay::Decision{{replay::MenuKey(state)}};
            gameData.level = 5;
            if (++briefings == 3) {
                picture = Shown();
                *marksShown = frame.game.marksShown;
                return replay::Decision{{}, 0, true};
            }
            return replay::Decision{{holdM ? kMarksKey : 0}};
        },
        1, {}, nullptr, commandLine);
    return picture;
}

TEST(JewelMarks, BriefingShowsEachKindsMarkBesideItsLine) {
    const Picture play = PlayPicture(true);
    bool shown = false;
    const Picture off = BriefingPicture("", false, &shown);
    EXPECT_FALSE(shown);
    for (const Picture& on :
         {BriefingPicture("--marks", false, &shown), BriefingPicture("", true, &shown)}) {
        EXPECT_TRUE(shown);
        for (int k = 0; k < kJewelKinds; ++k) {
            const int y = 208 + 16 * k + 2;  // the line's top, and a little lower
            SCOPED_TRACE(kKinds[k]);
            EXPECT_EQ(Read(on, 182, y, kKinds[k]).mark,
                      Read(play, 40 + 30 * k, 200, kKinds[k]).mark);
            EXPECT_EQ(Read(off, 182, y, kKinds[k]).count, 121) << "nothing there without marks";
            EXPECT_EQ(At(on, 181, y + 5), 0);
            EXPECT_EQ(At(on, 193, y + 5), 0);
        }
    }
}

// Held down for several pictures, M switches once; let go and pressed
// again, it switches back. The rules do not see it.
TEST(JewelMarks, KeySwitchesMarksOnEachPressInPlay) {
    std::vector<int> shown, marksPixels, scores;
    int play = 0;
    const int held[] = {2, 3, 4, 8, 12, 13};  // pictures with M down
    replay::Play(
        1000001, 400,
        [&](const FrameRecord& frame) {
            const int state = frame.game.screenState;
            if (!frame.HasText("Time Remaining")) return replay::Decision{{replay::MenuKey(state)}};
            if (play == 0) gameData.jewels[0] = {300, 100, 1, Blue, 1};
            if (play > 0) {
                shown.push_back(frame.game.marksShown);
                const Square square = Read(Shown(), 300, frame.game.jewels[0].y, Blue);
                marksPixels.push_back(square.count);
            }
            replay::Decision decision;
            decision.stop = ++play > 15;
            if (std::find(std::begin(held), std::end(held), play) != std::end(held))
                decision.held = {kMarksKey};
            return decision;
        },
        5);
    // The picture after a poll with M down shows the change.
    const std::vector<int> expected = {0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1};
    EXPECT_EQ(shown, expected);
    for (size_t i = 0; i < shown.size() && i < marksPixels.size(); ++i) {
        EXPECT_EQ(marksPixels[i] > 0, shown[i] == 1) << "picture " << i;
    }
}

TEST(JewelMarks, CommandLineTakesMarksAndRefusesAnythingElse) {
    const struct {
        const char* line;
        int exitCode;
        bool marks;
    } cases[] = {{"", 0, false},
                 {"  --marks\t", 0, true},
                 {"--marks --marks", 0, true},
                 {"--marks --window", 2, false},
                 {"--marks=yes", 2, false},
                 {"-marks", 2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        int exitCode = -1;
        bool marks = false;
        const auto frames = replay::Play(
            0, 5,
            [&](const FrameRecord& frame) {
                marks = frame.game.marksShown;
                return replay::Decision{{}, 0, true};
            },
            1, {}, &exitCode, c.line);
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_EQ(frames.empty(), c.exitCode != 0) << "no window, no picture on an error";
        EXPECT_EQ(marks, c.marks);
    }
    // A word too long for the message is cut, not overrun.
    char unknown[8];
    EXPECT_EQ(TakeCommandLine("--marks --a-very-long-word", unknown, sizeof unknown), 0);
    EXPECT_STREQ(unknown, "--a-ver");
}

}  // namespace
