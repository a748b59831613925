// Jewel marks: the M key in play and on the briefing, and WinMain's command
// line. (Every picture with marks, the briefing's included, is in the golden
// replay; that the marks tell the kinds apart in each colour vision is the
// colour_vision check.)
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"

namespace {

using replay::FrameRecord;

// Held down for several pictures, M switches once; let go and pressed
// again, it switches back, on the briefing as in play.
TEST(JewelMarks, KeySwitchesMarksOnEachPress) {
    for (bool briefing : {false, true}) {
        SCOPED_TRACE(briefing ? "briefing" : "play");
        std::vector<int> shown;
        int pictures = 0;
        const int held[] = {2, 3, 4, 8, 12, 13};  // pictures with M down
        replay::Play(
            1000001, 400,
            [&](const FrameRecord& frame) {
                const int state = frame.game.screenState;
                const bool here = briefing ? state == Briefing : frame.HasText("Time Remaining");
                if (!here) return replay::Decision{{replay::MenuKey(state)}};
                if (pictures > 0) shown.push_back(frame.game.marksShown);
                replay::Decision decision;
                decision.stop = ++pictures > 15;
                if (std::find(std::begin(held), std::end(held), pictures) != std::end(held))
                    decision.held = {kMarksKey};
                return decision;
            },
            5);
        // The picture after a poll with M down shows the change.
        const std::vector<int> expected = {0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1};
        EXPECT_EQ(shown, expected);
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
