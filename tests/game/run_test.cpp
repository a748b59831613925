// Recorded runs: the bot's game recorded through the real core and replayed
// picture for picture; files that cannot be replayed, each told apart.
#include "platform/core/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/core/run_file.h"
#include "tests/game/replay_bot.h"

namespace {

using runfile::Status;

// Unique to the process: the web build's processes all have the same id.
std::string TempPath(const char* name) {
    static const std::string unique = std::to_string(std::random_device{}());
    return ::testing::TempDir() + "vn_run_" + unique + "_" + name;
}

// A replay's lines and complaints, kept in files: the web build's suites
// cannot capture the streams.
class Output {
  public:
    Output() : lines_(std::tmpfile()), complaints_(std::tmpfile()) {
        runs::SetOutput(lines_, complaints_);
    }
    ~Output() {
        runs::SetOutput(nullptr, nullptr);
        std::fclose(lines_);
        std::fclose(complaints_);
    }
    std::string Lines() const { return Read(lines_); }
    std::string Complaints() const { return Read(complaints_); }

  private:
    static std::string Read(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            text.append(chunk, got);
        return text;
    }
    std::FILE* lines_;
    std::FILE* complaints_;
};

std::vector<std::uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// The core's clock as real time from a script: the counter steps every
// 1/64 s and the core's waits sleep until it does, as on a machine, so the
// reads come as a real session's do; nothing actually waits.
void ScriptRealTime() {
    static std::uint64_t now;
    now = 0;
    seam::UseRealClock(true);
    seam::UseScriptedClock([] { return now += 50; },
                           [](std::uint64_t until) { now = until > now ? until : now; },
                           [](int milliseconds) { now += milliseconds * 1000u; });
}

struct Session {
    std::vector<std::uint32_t> pictures;
    std::vector<replay::FrameRecord> frames;
    int exitCode = -1;
    int finished = -1;  // runs::Finish
};

// The bot's game (its first attempt at level 2 thrown) recorded to `path`.
Session RecordBotGame(const std::string& path) {
    Session s;
    s.frames = replay::Play(
        123457, 12000, replay::MakeBotController(2), 1,
        [&] {
            ScriptRealTime();
            ASSERT_TRUE(runs::Record(path.c_str(), "test"));
        },
        &s.exitCode);
    s.finished = runs::Finish(s.exitCode);
    for (const replay::FrameRecord& f : s.frames) s.pictures.push_back(f.checksum);
    return s;
}

// `path` replayed headless with no player at all; what it printed.
Session Verify(const std::string& path, std::string* out,
               const std::function<void()>& alsoBefore = {}) {
    Session s;
    bool loaded = false;
    const Output output;
    s.frames = replay::Play(
        999, 20000, {}, 7,
        [&] {
            loaded = runs::Replay(path.c_str(), true);
            if (alsoBefore) alsoBefore();
        },
        &s.exitCode);
    s.finished = loaded ? runs::Finish(s.exitCode) : 2;
    *out = output.Lines() + output.Complaints();
    for (const replay::FrameRecord& f : s.frames) s.pictures.push_back(f.checksum);
    return s;
}

class RecordedRun : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        path_ = TempPath("bot.vnr");
        recorded_ = RecordBotGame(path_);
    }
    static void TearDownTestSuite() { std::remove(path_.c_str()); }
    static std::string path_;
    static Session recorded_;
};
std::string RecordedRun::path_;
Session RecordedRun::recorded_;

TEST_F(RecordedRun, ReplaysEveryPictureAndTellsEachAttempt) {
    ASSERT_EQ(recorded_.exitCode, 0);
    EXPECT_EQ(recorded_.finished, 0);
    const std::vector<std::uint8_t> bytes = Bytes(path_);
    // A whole five-level game, on a real session's clock, in a few KB.
    EXPECT_LT(bytes.size(), 20000u);
    runfile::Run run;
    ASSERT_EQ(runfile::Parse(bytes.data(), bytes.size(), &run), Status::Complete);

    std::string out;
    const Session replayed = Verify(path_, &out);
    EXPECT_EQ(replayed.finished, 0) << out;
    EXPECT_EQ(replayed.exitCode, 0);
    ASSERT_EQ(replayed.pictures.size(), recorded_.pictures.size());
    for (size_t i = 0; i < replayed.pictures.size(); ++i) {
        ASSERT_EQ(replayed.pictures[i], recorded_.pictures[i]) << "picture " << i;
    }
    // Level 2's first attempt thrown: it runs out its 30 seconds. The times
    // are those the game showed, and the total is theirs.
    int total = 0;
    std::string expected;
    for (size_t i = 1; i < recorded_.frames.size(); ++i) {
        // A beep comes with the picture after the one it sounded for.
        const GameData& game = recorded_.frames[i - 1].game;
        for (UINT beep : recorded_.frames[i].beeps) {
            if (beep == MB_OK) continue;
            const int seconds = 30 - game.secondsLeft;
            total += seconds;
            char line[80];
            std::snprintf(line, sizeof line, "level %d  %-8s  %2d s", game.level,
                          beep == MB_ICONHAND ? "failed" : "complete", seconds);
            expected += line;
            if (beep == MB_ICONEXCLAMATION)
                expected += "  game complete: total " + std::to_string(total) + " s";
            expected += "\n";
        }
    }
    EXPECT_NE(expected.find("level 2  failed    30 s"), std::string::npos) << expected;
    expected += "fastest total: " + std::to_string(total) + " s\n";
    EXPECT_EQ(out.substr(0, expected.size()), expected);
    EXPECT_NE(out.find("pictures per second"), std::string::npos) << out;
}

// A run cut anywhere replays to the cut, picture for picture, and says so.
TEST_F(RecordedRun, CutOrPartedReplaysFail) {
    const std::vector<std::uint8_t> bytes = Bytes(path_);
    const std::string cutPath = TempPath("cut.vnr");
    for (size_t keep : {bytes.size() / 3, bytes.size() - 9}) {
        Write(cutPath, {bytes.begin(), bytes.begin() + static_cast<long>(keep)});
        std::string out;
        const Session replayed = Verify(cutPath, &out);
        EXPECT_EQ(replayed.finished, 2) << keep;
        ASSERT_GT(replayed.pictures.size(), 2u);
        // Past the cut the game sees Esc and ends, which may take a
        // picture or two; every picture before is the recording's.
        const size_t same = std::min(replayed.pictures.size(), recorded_.pictures.size()) - 2;
        for (size_t i = 0; i < same; ++i) {
            ASSERT_EQ(replayed.pictures[i], recorded_.pictures[i]) << keep << " picture " << i;
        }
        if (keep > bytes.size() / 2) {
            EXPECT_GT(same, recorded_.pictures.size() * 9 / 10);
        }
    }
    std::remove(cutPath.c_str());

    // A whole file whose replay draws otherwise (every fill failing from the
    // 500th) is told apart from a bad file.
    std::string out;
    const Session parted =
        Verify(path_, &out, [] { seam::FailUse(seam::Call::Blt, 500, true, DDERR_GENERIC); });
    EXPECT_EQ(parted.finished, 1);
}

// The bot's game kept as a file recorded on the desktop: every build that
// runs on the core verifies it with the same lines (the web build's suites
// run this under node).
TEST(GoldenReplay, KeptRunVerifiesWithTheSameLines) {
    const std::string run = VORNACKLE_GOLDEN_DIR "/bot_game.vnr";
    const std::string kept = VORNACKLE_GOLDEN_DIR "/bot_game_verify.txt";
    const char* update = std::getenv("VORNACKLE_UPDATE_GOLDEN");
    const bool anew = update != nullptr && *update == '1';
    if (anew) RecordBotGame(run);
    std::string out;
    const Session replayed = Verify(run, &out);
    EXPECT_EQ(replayed.finished, 0) << out;
    // All but the picture rate, which is the machine's.
    out.erase(out.rfind('\n', out.size() - 2) + 1);
    if (anew) std::ofstream(kept) << out;
    std::ifstream in(kept);
    EXPECT_EQ(out, std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST(RunFile, BadFilesAreToldApart) {
    const std::string path = TempPath("bad.vnr");
    runfile::Writer writer;
    ASSERT_TRUE(writer.Open(path.c_str(), "1.2.3", 0x1122334455667788ull, "--marks"));
    writer.Tick(1000);
    for (int i = 0; i < 100; ++i) writer.ExpectedRead();
    writer.Tick(16);
    writer.Key(3);
    writer.CloseRequest();
    writer.LevelEnd(runfile::Outcome::LevelComplete, 4, 21, 0xDEADBEEF);
    writer.Checkpoint();
    writer.Tick(15);
    writer.End(7);
    const std::vector<std::uint8_t> good = Bytes(path);
    std::remove(path.c_str());

    runfile::Run run;
    ASSERT_EQ(runfile::Parse(good.data(), good.size(), &run), Status::Complete);
    EXPECT_EQ(run.programVersion, "1.2.3");
    EXPECT_EQ(run.commandLine, "--marks");
    EXPECT_EQ(run.sheetHash, 0x1122334455667788ull);
    using E = runfile::Event;
    const std::vector<std::pair<int, std::uint32_t>> events = {
        {E::Tick, 1000}, {E::Reads, 100},           {E::Tick, 16}, {E::Key, 0},
        {E::Close, 0},   {E::LevelEnd, 0xDEADBEEF}, {E::Tick, 15}, {E::End, 7}};
    ASSERT_EQ(run.events.size(), events.size());
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(run.events[i].kind, events[i].first) << i;
        EXPECT_EQ(run.events[i].value, events[i].second) << i;
    }
    EXPECT_EQ(run.events[3].a, 3);
    EXPECT_EQ(run.events[5].a, 1);
    EXPECT_EQ(run.events[5].b, 4);
    EXPECT_EQ(run.events[5].c, 21);

    const size_t header = 8 + 2 + 1 + 5 + 1 + 7 + 8 + 4;
    auto with = [&](size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    auto cut = [&](size_t size) {
        return std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(size));
    };
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        Status status;
        size_t events;  // kept, for a readable file
    } cases[] = {
        {"empty", {}, Status::Empty, 0},
        {"foreign", with(0, 'B'), Status::Foreign, 0},
        {"a magic's start only", cut(5), Status::HeaderCut, 0},
        {"newer", with(8, 2), Status::Newer, 0},
        {"cut in the header", cut(header - 1), Status::HeaderCut, 0},
        {"header damaged", with(12, '9'), Status::Damaged, 0},
        {"a command line longer than any", with(16, 64), Status::Damaged, 0},
        {"no events yet", cut(header), Status::Cut, 0},
        {"cut inside a varint", cut(header + 2), Status::Cut, 0},
        {"a varint past 32 bits",
         [&] {
             auto b = cut(header);
             for (std::uint8_t byte : {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}) b.push_back(byte);
             return b;
         }(),
         Status::Damaged, 0},
        {"cut before the end's check", cut(good.size() - 1), Status::Cut, 7},
        {"unknown token", with(header + 3, 0xFF), Status::Damaged, 0},
        {"stream damaged before a check", with(header + 5, 0x8D), Status::Damaged, 0},
        {"after the end",
         [&] {
             auto b = good;
             b.push_back(0);
             return b;
         }(),
         Status::Damaged, 0},
        {"a step after the end, then cut",
         [&] {
             auto b = cut(good.size() - 5);
             b.push_back(0x40);
             return b;
         }(),
         Status::Damaged, 0},
    };
    for (const auto& c : cases) {
        runfile::Run parsed;
        parsed.programVersion = "untouched";
        EXPECT_EQ(runfile::Parse(c.bytes.data(), c.bytes.size(), &parsed), c.status) << c.what;
        if (runfile::Readable(c.status)) {
            EXPECT_EQ(parsed.events.size(), c.events) << c.what;
        } else {
            EXPECT_EQ(parsed.programVersion, "untouched") << c.what;
        }
    }
    EXPECT_EQ(runfile::ReadFile((path + ".none").c_str(), &run), Status::Missing);

    // The program's answer: one line on stderr, nothing replayed.
    const Output output;
    Write(path, with(8, 2));
    EXPECT_FALSE(runs::Replay(path.c_str(), true));
    EXPECT_EQ(output.Complaints(),
              "vornackle: " + path + " " + runfile::Describe(Status::Newer) + "\n");
    EXPECT_EQ(runs::mode, runs::Mode::Off);
    // A whole run played with another sheet.
    Write(path, good);
    EXPECT_FALSE(runs::Replay(path.c_str(), true));
    EXPECT_NE(output.Complaints().find("another sprite sheet"), std::string::npos);
    std::remove(path.c_str());
}

// A recording that cannot be made or kept: the game goes on, told once.
// The window closed by the user in the middle of play: the replay closes it
// at the same read and ends as the recording did.
TEST(RunFile, ACloseRequestReplaysWhereItCame) {
    const std::string path = TempPath("closed.vnr");
    const replay::Controller bot = replay::MakeBotController(0);
    Session recorded;
    recorded.frames = replay::Play(
        5000, 2000,
        [&](const replay::FrameRecord& frame) {
            if (frame.game.screenState == Playing && frame.game.secondsLeft == 28) {
                seam::PushCloseRequest();
            }
            return bot(frame);
        },
        1, [&] { runs::Record(path.c_str(), "test"); }, &recorded.exitCode);
    EXPECT_EQ(runs::Finish(recorded.exitCode), 0) << recorded.exitCode;
    ASSERT_LT(recorded.frames.size(), 2000u);
    std::string out;
    const Session replayed = Verify(path, &out);
    EXPECT_EQ(replayed.finished, 0) << out;
    ASSERT_EQ(replayed.frames.size(), recorded.frames.size());
    for (size_t i = 0; i < replayed.frames.size(); ++i) {
        ASSERT_EQ(replayed.frames[i].checksum, recorded.frames[i].checksum) << i;
    }
    std::remove(path.c_str());
}

TEST(RunFile, TheGameGoesOnWhenTheRecordingCannot) {
    for (const char* path : {"/nonexistent-folder/run.vnr", "/dev/full"}) {
        const Output output;
        int exitCode = -1;
        const std::vector<replay::FrameRecord> frames = replay::Play(
            5000, 400, replay::MakeBotController(0), 1, [&] { runs::Record(path, "test"); },
            &exitCode);
        const int finished = runs::Finish(exitCode);
        const std::string said = output.Complaints();
        EXPECT_EQ(frames.size(), 400u) << path;
        EXPECT_EQ(finished, 0) << path;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << path << ": " << said;
        EXPECT_NE(said.find(path), std::string::npos) << said;
    }
}

}  // namespace
