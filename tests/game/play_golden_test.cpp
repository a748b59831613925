// The golden tests: what the game shows, as recorded in golden/. The replay
// (a fixed key script from a fixed start tick, every presented picture),
// each briefing, each outcome screen, and the palettes and basket of
// start-up. After an intended change, record anew with the target
// `update-golden` and look at the diff.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"

namespace {

// Each line as recorded in `file`, or with VORNACKLE_UPDATE_GOLDEN=1 recorded anew.
void MatchesRecording(const char* file, const std::vector<std::string>& lines) {
    if (const char* update = std::getenv("VORNACKLE_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream out(file);
        for (const std::string& line : lines) out << line << "\n";
        ASSERT_TRUE(out.good()) << "cannot write " << file;
        return;
    }
    std::ifstream in(file);
    std::vector<std::string> recorded;
    for (std::string line; std::getline(in, line);) recorded.push_back(line);
    for (size_t i = 0; i < std::min(lines.size(), recorded.size()); ++i) {
        ASSERT_EQ(lines[i], recorded[i]) << "differs from the recording; if intended, record anew";
    }
    EXPECT_EQ(recorded.size(), lines.size()) << "a recording of another length";
}

// A few pictures on each menu; in play, sweeps of 130 frames (right 50, rest
// 15, left 50, rest 15, both arrows once) until the level ends; Space on its
// outcome screen, then 60 play frames of the next level.
replay::Controller Script() {
    auto count = std::make_shared<std::array<int, 3>>();  // menu, play, after outcome
    return [count](const replay::FrameRecord& frame) {
        auto& [menu, play, after] = *count;
        replay::Decision decision;
        if (frame.game.screenState != Playing) {
            int key = replay::MenuKey(frame.game.screenState);
            if (key && ++menu % 4 == 0) decision.held = {key};
        } else if (replay::IsLevelComplete(frame) || replay::IsFailed(frame)) {
            after = 1;
            decision.held = {VK_SPACE};
        } else if (frame.HasText("Time Remaining")) {  // not the briefing's last pass
            decision.stop = after && ++after > 61;
            int phase = play++ % 130;
            if (phase < 50) decision.held = {VK_RIGHT};
            if (phase >= 65 && phase < 115) decision.held = {VK_LEFT};
            if (phase == 20) decision.held = {VK_LEFT, VK_RIGHT};
        }
        return decision;
    };
}

// The game's state first and the picture's checksum last, so a difference
// tells a change of rules from a change of drawing.
std::vector<std::string> ReplayLines(const std::vector<replay::FrameRecord>& frames) {
    std::vector<std::string> lines = {
        std::string("# font: ") + (seam::FontLoaded() ? "DejaVu Sans Bold" : "none"),
        "# frame state level score secondsLeft totalSeconds playerX beeps checksum"};
    for (const replay::FrameRecord& frame : frames) {
        const GameData& game = frame.game;
        std::string beeps;
        for (UINT beep : frame.beeps) beeps += (beeps.empty() ? "" : ",") + std::to_string(beep);
        char line[160];
        std::snprintf(line, sizeof line, "%zu %d %d %d %d %d %d %s %08x", lines.size() - 2,
                      game.screenState, game.level, game.score, game.secondsLeft, game.totalSeconds,
                      game.playerX, beeps.empty() ? "-" : beeps.c_str(), frame.checksum);
        lines.push_back(line);
    }
    return lines;
}

TEST(GoldenReplay, EveryPresentedPictureMatchesTheRecording) {
    // The counter wraps at 2^32 some 17 s into play.
    const std::vector<replay::FrameRecord> frames = replay::Play(4294950000u, 3000, Script());
    ASSERT_GT(frames.size(), 1000u);
    ASSERT_LT(frames.size(), 3000u);
    MatchesRecording(VORNACKLE_GOLDEN_DIR "/replay_level1.txt", ReplayLines(frames));
}

// The same replay with --marks, M pressed once in play (marks off) and once
// more (on again): the same game frame by frame as without marks, only the
// pictures differ.
TEST(GoldenReplay, WithMarksTheSameGameInMarkedPictures) {
    replay::Controller script = Script();
    int play = 0;
    auto controller = [&](const replay::FrameRecord& frame) {
        replay::Decision decision = script(frame);
        if (frame.HasText("Time Remaining") && (++play == 400 || play == 700)) {
            decision.held.push_back(kMarksKey);
        }
        return decision;
    };
    const auto frames = replay::Play(4294950000u, 3000, controller, 1, {}, nullptr, "--marks");
    const std::vector<std::string> lines = ReplayLines(frames);
    std::ifstream plain(VORNACKLE_GOLDEN_DIR "/replay_level1.txt");
    size_t i = 0, differ = 0;
    for (std::string line; std::getline(plain, line) && i < lines.size(); ++i) {
        const size_t state = line.rfind(' ');
        ASSERT_EQ(lines[i].substr(0, state), line.substr(0, state)) << "the rules saw the marks";
        differ += lines[i] != line;
    }
    EXPECT_EQ(i, lines.size());
    EXPECT_GT(differ, 500u) << "marked pictures";
    MatchesRecording(VORNACKLE_GOLDEN_DIR "/replay_marks.txt", lines);
}

// Each level's briefing as shown: its objective and each kind's points (the
// play frames use them), and the picture, its lines in their colours.
TEST(GoldenReplay, EachLevelsBriefing) {
    std::vector<std::string> lines = {"# level objective points(red..white) checksum"};
    for (int level = 1; level <= 5; ++level) {
        int briefings = 0;
        const auto frames = replay::Play(0, 100, [&](const replay::FrameRecord& frame) {
            const int state = frame.game.screenState;
            if (state != Briefing) return replay::Decision{{replay::MenuKey(state)}};
            gameData.level = level;  // the next picture shows this level's rules
            gameData.totalSeconds = 42;
            return replay::Decision{{}, 0, ++briefings == 2};
        });
        const GameData& game = frames.back().game;
        std::string line = std::to_string(level) + " " + std::to_string(game.objective);
        for (int points : game.kindPoints) line += " " + std::to_string(points);
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, " %08x", frames.back().checksum);
        lines.push_back(line + checksum);
    }
    MatchesRecording(VORNACKLE_GOLDEN_DIR "/briefings.txt", lines);
}

// Each outcome screen, reached in level 1 (or 5) by an objective of 0 (or
// out of reach, with a game-over jewel): every text of its picture, in its
// colour and place, and the picture. Each waits while no key is down; Esc
// tapped there and let go before the frame ends still closes the program,
// giving the display back once.
TEST(GoldenReplay, EachOutcomeScreenAndEscTappedThere) {
    std::vector<std::string> lines = {"# level objective checksum, then colour x y text"};
    for (std::pair<int, int> c : {std::pair{1, 0}, {1, INT_MAX}, {5, 0}}) {
        const int level = c.first, objective = c.second;  // a lambda takes no binding
        int exitCode = -1, polls = 0;
        replay::Play(
            0, 2000,
            [&](const replay::FrameRecord& frame) {
                const int state = frame.game.screenState;
                if (state == Briefing) gameData.level = level;
                if (state != Playing) return replay::Decision{{replay::MenuKey(state)}};
                if (!replay::IsLevelComplete(frame) && !replay::IsFailed(frame) &&
                    !replay::IsGameComplete(frame)) {
                    gameData.objective = objective;
                    gameData.gameOverHit = 1;
                    gameData.totalSeconds = 7;
                    return replay::Decision{};
                }
                char head[64];
                std::snprintf(head, sizeof head, "%d %d %08x", level, objective, frame.checksum);
                lines.push_back(head);
                for (const seam::TextDraw& text : frame.texts) {
                    lines.push_back(std::to_string(text.index) + " " + std::to_string(text.x) +
                                    " " + std::to_string(text.y) + " " + text.text);
                }
                // No key for a while keeps the screen up; then Esc, tapped.
                seam::SetPollHook([&polls] {
                    if (++polls == 200) seam::TapKey(VK_ESCAPE);
                });
                return replay::Decision{};
            },
            1, {}, &exitCode);
        seam::SetPollHook(nullptr);
        EXPECT_GE(polls, 200);
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(gameData.screenState, Ended);
        // The display given back, each object once (the basket frames, which
        // hold the device, stay).
        EXPECT_EQ(seam::ReleaseLog().size(), 4u);
    }
    MatchesRecording(VORNACKLE_GOLDEN_DIR "/outcomes.txt", lines);
}

// Works in an empty scratch folder, where the game looks for its sheet
// first, holding `sheet` under the sheet's name unless it is empty.
void UseFolderWith(const std::string& sheet) {
#ifdef _WIN32
    // Under Wine /tmp is the Linux one. mingw's mktemp gives a process 26
    // names, and Wine gives the suite the same process id run after run, so
    // they would run out on a machine that keeps its /tmp: a name of our own.
    static unsigned made = 0;
    std::string folder;
    do {
        folder = "/tmp/vornackle-game-test-" + std::to_string(std::time(nullptr)) + "-" +
                 std::to_string(made++);
    } while (mkdir(folder.c_str()) != 0 && made < 1000);
    if (chdir(folder.c_str()) != 0) abort();
#else
    char folder[] = "/tmp/vornackle-game-test-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) abort();
#endif
    seam::SetProgramDirectory(folder);
    if (sheet.empty()) return;
    FILE* file = fopen("playersprite.bmp", "wb");
    if (file == nullptr) abort();
    fwrite(sheet.data(), 1, sheet.size(), file);
    fclose(file);
}

std::uint32_t Checksum(const void* data, size_t size) {
    std::uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<const BYTE*>(data)[i]) * 16777619u;
    return hash;
}

// The palette the game built and the one the display shows (the sheet's
// colours with the jewels' on top, or else the display's default ramps), and
// the story and title pictures (the basket on them only when the sheet's
// colours reached the display; texts are drawn in the nearest colour it
// shows). Each way start-up stops early still gives a game that plays.
TEST(StartUp, PalettesAndBasketAsRecordedOrAPlayableGameWithout) {
    enum { Table, Shown, StoryPicture, TitlePicture };
    const char* cases[] = {"sheet", "no-sheet", "refused-sheet", "upload-refused", "black-sheet"};
    std::vector<std::string> lines = {"# case table shown story title"};
    std::uint32_t sums[5][4] = {};
    for (int k = 0; k < 5; ++k) {
        int exitCode = -1;
        auto controller = [&](const replay::FrameRecord& frame) {
            const bool story = frame.game.screenState == Story;
            sums[k][story ? StoryPicture : TitlePicture] = frame.checksum;
            return replay::Decision{{VK_RETURN}, 0, !story};
        };
        auto setup = [k] {
            if (k == 3) seam::FailNext(seam::Call::SetEntries);
            if (k == 0 || k == 3) return;  // the real sheet, beside the runner
            std::string sheet = k == 2 ? "MB" + std::string(80, 'x') : "";
            if (k == 4) {  // every colour black: the jewels' still go on top
                std::ifstream in("playersprite.bmp", std::ios::binary);
                sheet.assign(std::istreambuf_iterator<char>(in), {});
                std::fill_n(sheet.begin() + 54, 1024, '\0');
            }
            UseFolderWith(sheet);
        };
        const auto frames = replay::Play(0, 100, controller, 1, setup, &exitCode);
        EXPECT_EQ(exitCode, 0) << cases[k];
        EXPECT_TRUE(frames.at(0).HasText("town has ever seen???")) << cases[k];
        PALETTEENTRY shown[256];
        for (int i = 0; i < 256; ++i) shown[i] = seam::DisplayPalette(i);
        sums[k][Table] = Checksum(PaletteTable, sizeof PaletteTable);
        sums[k][Shown] = Checksum(shown, sizeof shown);
        char line[96];
        std::snprintf(line, sizeof line, "%s %08x %08x %08x %08x", cases[k], sums[k][0], sums[k][1],
                      sums[k][2], sums[k][3]);
        lines.push_back(line);
    }
    EXPECT_EQ(sums[0][Table], sums[0][Shown]) << "the sheet's colours, shown";
    EXPECT_NE(sums[0][StoryPicture], sums[1][StoryPicture]) << "the basket on the story";
    EXPECT_NE(sums[0][TitlePicture], sums[1][TitlePicture]) << "the basket on the title";
    EXPECT_EQ(sums[3][Table], sums[0][Table]) << "the table built before the upload failed";
    for (int part : {Table, Shown, StoryPicture, TitlePicture})
        EXPECT_EQ(sums[2][part], sums[1][part]) << "a refused sheet is no sheet " << part;
    EXPECT_EQ(sums[3][Shown], sums[1][Shown]) << "no colours uploaded, the ramps stay";
    MatchesRecording(VORNACKLE_GOLDEN_DIR "/startup.txt", lines);
}

}  // namespace
