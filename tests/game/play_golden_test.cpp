// The golden replay: a fixed key script from a fixed start tick, whose every
// presented picture must match the checksums recorded in golden/, so that an
// unintended change to any pixel of the game is caught.
//
// To record it anew after an intended change:
//     VORNACKLE_UPDATE_GOLDEN=1 ./replay_tests --gtest_filter='GoldenReplay.*'
// or the build target `update-golden`; then look at the diff before committing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"

namespace {

using replay::Decision;
using replay::FrameRecord;

const char kGoldenFile[] = VORNACKLE_GOLDEN_DIR "/replay_level1.txt";

// The key script, by screen: a few pictures on each menu, then in play a
// fixed pattern of sweeps across the screen by play-frame number until the
// level ends; Space on its outcome screen, Enter on the next briefing, and
// 60 more play frames before Esc.
replay::Controller Script() {
    struct Progress {
        int menuFrames = 0;
        int playFrames = 0;
        int outcomes = 0;
        int afterOutcome = 0;
    };
    auto progress = std::make_shared<Progress>();
    return [progress](const FrameRecord& frame) {
        Progress& p = *progress;
        Decision decision;
        if (frame.state != Playing) {
            if (int key = replay::MenuKey(frame.state)) {
                if (++p.menuFrames % 4 == 0) decision.held = {key};
            }
            return decision;
        }
        if (replay::IsLevelComplete(frame) || replay::IsFailed(frame)) {
            ++p.outcomes;
            decision.held = {VK_SPACE};
            return decision;
        }
        if (!frame.HasText("Time Remaining")) return decision;  // the briefing's last pass
        if (p.outcomes > 0 && ++p.afterOutcome > 60) {
            decision.stop = true;
            return decision;
        }
        // 130 frames per cycle: right 50, rest 15, left 50, rest 15.
        int phase = p.playFrames++ % 130;
        if (phase < 50) decision.held = {VK_RIGHT};
        if (phase >= 65 && phase < 115) decision.held = {VK_LEFT};
        // Both arrows for a moment in every cycle (right wins).
        if (phase == 20) decision.held = {VK_LEFT, VK_RIGHT};
        return decision;
    };
}

// One line per presented picture: the game's state first, the picture's
// checksum last, so a difference tells logic changes from drawing changes.
std::string Line(const FrameRecord& frame) {
    unsigned jewelHash = 2166136261u;
    for (const replay::JewelState& jewel : frame.jewels) {
        for (int value : {jewel.slot, jewel.x, jewel.y, jewel.speed, jewel.kind}) {
            jewelHash = (jewelHash ^ static_cast<unsigned>(value)) * 16777619u;
        }
    }
    std::string beeps = frame.beeps.empty() ? "-" : "";
    for (size_t i = 0; i < frame.beeps.size(); ++i) {
        beeps += (i ? "," : "") + std::to_string(frame.beeps[i]);
    }
    char line[160];
    std::snprintf(line, sizeof line, "%d %d %d %d %d %d %d %zu %08x %s %08x", frame.index,
                  frame.state, frame.level, frame.score, frame.secondsLeft, frame.totalSeconds,
                  frame.playerX, frame.jewels.size(), jewelHash, beeps.c_str(), frame.checksum);
    return line;
}

std::string StatePart(const std::string& line) {
    return line.substr(0, line.rfind(' '));
}

std::string FontLine() {
    return std::string("# font: ") + (seam::FontLoaded() ? "DejaVu Sans Bold" : "none");
}

TEST(GoldenReplay, EveryPresentedPictureMatchesTheRecording) {
    replay::Options options;
    options.startTick = 4294950000u;  // the counter wraps at 2^32 some 17 s into play
    options.maxFrames = 3000;
    options.controller = Script();
    replay::Result result = replay::Play(options);
    ASSERT_FALSE(result.hitFrameLimit);
    ASSERT_GT(result.frames.size(), 1000u);

    std::vector<std::string> lines;
    for (const FrameRecord& frame : result.frames) lines.push_back(Line(frame));

    const char* update = std::getenv("VORNACKLE_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream out(kGoldenFile);
        ASSERT_TRUE(out) << "cannot write " << kGoldenFile;
        out << "# Golden replay of level 1: one line per presented picture.\n"
            << FontLine() << "\n"
            << "# frame state level score secondsLeft totalSeconds playerX jewels jewelHash "
               "beeps checksum\n";
        for (const std::string& line : lines) out << line << "\n";
        std::printf("golden: wrote %zu frames to %s\n", lines.size(), kGoldenFile);
        return;
    }

    std::ifstream in(kGoldenFile);
    ASSERT_TRUE(in) << "missing " << kGoldenFile
                    << "; record it with VORNACKLE_UPDATE_GOLDEN=1 (target update-golden)";
    std::vector<std::string> golden;
    std::string recordedFont;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# font:", 0) == 0) recordedFont = line;
        if (!line.empty() && line[0] != '#') golden.push_back(line);
    }
    ASSERT_EQ(recordedFont, FontLine())
        << "The golden pictures were recorded with a different text font. The build installs "
           "fonts-dejavu-core (DejaVu Sans Bold), which the recording expects; install it, or "
           "record anew on purpose with VORNACKLE_UPDATE_GOLDEN=1.";

    for (size_t i = 0; i < std::min(lines.size(), golden.size()); ++i) {
        if (StatePart(lines[i]) != StatePart(golden[i])) {
            FAIL() << "The game played differently from frame " << i
                   << " on (frame state level score secondsLeft totalSeconds playerX jewels "
                      "jewelHash beeps):\n  recorded: "
                   << StatePart(golden[i]) << "\n  now:      " << StatePart(lines[i])
                   << "\nIf this change to the rules is intended, record anew with "
                      "VORNACKLE_UPDATE_GOLDEN=1 (target update-golden).";
        }
        if (lines[i] != golden[i]) {
            FAIL() << "Frame " << i << " (state " << result.frames[i].state
                   << ") is drawn differently though the game state matches:\n  recorded: "
                   << golden[i] << "\n  now:      " << lines[i]
                   << "\nSomething changed pixels on screen (drawing, palette, sprite sheet, "
                      "or the rendering of DejaVu Sans Bold by this SDL_ttf/FreeType). If the "
                      "change is intended, record anew with VORNACKLE_UPDATE_GOLDEN=1 (target "
                      "update-golden) and look at the screenshots.";
        }
    }
    EXPECT_EQ(lines.size(), golden.size()) << "the replay presented a different number of pictures";
}

}  // namespace
