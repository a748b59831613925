// Recorded runs: the bot's game recorded through the real core and replayed
// picture for picture; files that cannot be replayed, each told apart; runs
// the platform could not have made, refused; interruptions; --play's pace.
#include "platform/core/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/core/run_file.h"
#include "tests/game/replay_bot.h"
#include "tests/game/run_output.h"

namespace {

using runfile::Status;

// Unique to the process: the web build's processes all have the same id.
std::string TempPath(const char* name) {
    static const std::string unique = std::to_string(std::random_device{}());
    return ::testing::TempDir() + "vn_run_" + unique + "_" + name;
}

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
std::uint64_t now;  // the scripted clock's microseconds
void ScriptRealTime() {
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
    std::string out;    // what a replay printed: its lines, then its complaints
};

// The first `count` pictures of both are the same.
void ExpectSamePictures(const Session& a, const Session& b, size_t count) {
    ASSERT_LE(count, std::min(a.pictures.size(), b.pictures.size()));
    for (size_t i = 0; i < count; ++i) ASSERT_EQ(a.pictures[i], b.pictures[i]) << "picture " << i;
}

// The bot's game (its first attempt at level 2 thrown) recorded to `path`,
// on a real session's clock; `around` may act before the bot at a picture,
// and set `botAway` to leave the keys alone from then on.
bool botAway = false;
Session RecordBotGame(const std::string& path,
                      const std::function<void(const replay::FrameRecord&)>& around = {}) {
    Session s;
    const replay::Controller bot = replay::MakeBotController(2);
    botAway = false;
    s.frames = replay::Play(
        123457, 12000,
        [&](const replay::FrameRecord& frame) {
            if (around) around(frame);
            return botAway ? replay::Decision{} : bot(frame);
        },
        1,
        [&] {
            ScriptRealTime();
            ASSERT_TRUE(runs::Record(path.c_str(), "test"));
        },
        &s.exitCode);
    s.finished = runs::Finish(s.exitCode);
    for (const replay::FrameRecord& f : s.frames) s.pictures.push_back(f.checksum);
    return s;
}

// `path` replayed headless with no player at all (`watch`: at its pace on
// the scripted clock, as --play), with what it printed. `atPicture` acts at each.
Session Verify(const std::string& path, const std::function<void()>& alsoBefore = {},
               const std::function<void(const replay::FrameRecord&)>& atPicture = {},
               bool watch = false) {
    Session s;
    bool loaded = false;
    const RunOutput output;
    s.frames = replay::Play(
        999, 20000,
        [&](const replay::FrameRecord& frame) {
            if (atPicture) atPicture(frame);
            replay::Decision decision;
            decision.stop = !loaded;  // a refused file: nothing to watch
            return decision;
        },
        7,
        [&] {
            if (watch) ScriptRealTime();
            loaded = runs::Replay(path.c_str(), !watch);
            if (alsoBefore) alsoBefore();
        },
        &s.exitCode);
    s.finished = loaded ? runs::Finish(s.exitCode) : runs::RefusalCode();
    s.out = output.Lines() + output.Complaints();
    for (const replay::FrameRecord& f : s.frames) s.pictures.push_back(f.checksum);
    return s;
}

// The replay ended with `code`, `line` among what it printed.
void ExpectEnded(const Session& s, int code, const std::string& line) {
    EXPECT_EQ(s.finished, code) << s.out;
    EXPECT_NE(s.out.find(line), std::string::npos) << s.out;
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

    const Session replayed = Verify(path_);
    ExpectEnded(replayed, 0, "pictures per second");
    EXPECT_EQ(replayed.exitCode, 0);
    ASSERT_EQ(replayed.pictures.size(), recorded_.pictures.size());
    ExpectSamePictures(replayed, recorded_, replayed.pictures.size());
    // Level 2's first attempt thrown: it runs out its 30 seconds. The times
    // are those the player saw on each outcome screen's head-up line.
    const std::string expected =
        "level 1  complete  13 s\n"
        "level 2  failed    30 s\n"
        "level 2  complete  15 s\n"
        "level 3  complete  15 s\n"
        "level 4  complete  28 s\n"
        "level 5  complete  21 s  game complete: total 122 s\n"
        "fastest total: 122 s\n";
    EXPECT_EQ(replayed.out.substr(0, expected.size()), expected);
}

// A run cut anywhere replays to the cut, picture for picture, and says so.
TEST_F(RecordedRun, CutOrPartedReplaysFail) {
    const std::vector<std::uint8_t> bytes = Bytes(path_);
    const std::string cutPath = TempPath("cut.vnr");
    for (size_t keep : {bytes.size() / 3, bytes.size() - 9}) {
        Write(cutPath, {bytes.begin(), bytes.begin() + static_cast<long>(keep)});
        const Session replayed = Verify(cutPath);
        EXPECT_EQ(replayed.finished, 2) << keep;
        ASSERT_GT(replayed.pictures.size(), 2u);
        // Past the cut the game sees Esc and ends, which may take a
        // picture or two; every picture before is the recording's.
        const size_t same = std::min(replayed.pictures.size(), recorded_.pictures.size()) - 2;
        ExpectSamePictures(replayed, recorded_, same);
        if (keep > bytes.size() / 2) {
            EXPECT_GT(same, recorded_.pictures.size() * 9 / 10);
        }
    }
    std::remove(cutPath.c_str());

    // A whole file whose replay draws otherwise (every fill failing from the
    // 500th) is told apart from a bad file.
    EXPECT_EQ(
        Verify(path_, [] { seam::FailUse(seam::Call::Blt, 500, true, DDERR_GENERIC); }).finished,
        1);
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
    Session replayed = Verify(run);
    std::string& out = replayed.out;
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
    EXPECT_EQ(run.programVersion, "1.2.3");  // kept, though no replay reads it

    const size_t header = 8 + 2 + 1 + 5 + 1 + 7 + 8 + 4;
    auto with = [&](size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    auto cut = [&](size_t size) {
        return std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(size));
    };
    auto plus = [](std::vector<std::uint8_t> bytes, std::initializer_list<std::uint8_t> more) {
        bytes.insert(bytes.end(), more);
        return bytes;
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
        {"a varint past 32 bits", plus(cut(header), {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}),
         Status::Damaged, 0},
        {"cut before the end's check", cut(good.size() - 1), Status::Cut, 7},
        {"unknown token", with(header + 3, 0xFF), Status::Damaged, 0},
        {"stream damaged before a check", with(header + 5, 0x8D), Status::Damaged, 0},
        {"after the end", plus(good, {0}), Status::Damaged, 0},
        {"a step after the end, then cut", plus(cut(good.size() - 5), {0x40}), Status::Damaged, 0},
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
    const RunOutput output;
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

// The window closed by the user in the middle of play: the replay closes it
// at the same read and ends as the recording did.
TEST(RunFile, ACloseRequestReplaysWhereItCame) {
    const std::string path = TempPath("closed.vnr");
    const Session recorded = RecordBotGame(path, [](const replay::FrameRecord& frame) {
        if (frame.game.screenState == Playing && frame.game.secondsLeft == 28) {
            seam::PushCloseRequest();
        }
    });
    EXPECT_EQ(recorded.finished, 0) << recorded.exitCode;
    ASSERT_LT(recorded.frames.size(), 2000u);
    const Session replayed = Verify(path);
    EXPECT_EQ(replayed.finished, 0) << replayed.out;
    ASSERT_EQ(replayed.pictures.size(), recorded.pictures.size());
    ExpectSamePictures(replayed, recorded, recorded.pictures.size());
    std::remove(path.c_str());
}

// A recording that cannot be made or kept: the game goes on, told once.
TEST(RunFile, TheGameGoesOnWhenTheRecordingCannot) {
    for (const char* path : {"/nonexistent-folder/run.vnr", "/dev/full"}) {
        const RunOutput output;
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

// --- runs the platform could not have made ----------------------------------------

using Events = std::vector<runfile::Event>;

Events EventsOf(const std::string& path) {
    const std::vector<std::uint8_t> bytes = Bytes(path);
    runfile::Run run;
    EXPECT_EQ(runfile::Parse(bytes.data(), bytes.size(), &run), Status::Complete);
    return run.events;
}

// `events` written as this program's recorder writes them, with its sheet.
void WriteRun(const std::string& path, const Events& events) {
    const std::vector<std::uint8_t> sheet = Bytes(VORNACKLE_ASSETS_DIR "/playersprite.bmp");
    runfile::Writer writer;
    ASSERT_TRUE(writer.Open(path.c_str(), "test", runfile::Hash64(sheet.data(), sheet.size())));
    for (const runfile::Event& e : events) {
        switch (e.kind) {
            case runfile::Event::Reads:
                for (std::uint32_t i = 0; i < e.value; ++i) writer.ExpectedRead();
                break;
            case runfile::Event::Tick:
                writer.Tick(e.value);
                break;
            case runfile::Event::Key:
                writer.Key(e.a);
                break;
            case runfile::Event::Close:
                writer.CloseRequest();
                break;
            case runfile::Event::LevelEnd:
                writer.LevelEnd(static_cast<runfile::Outcome>(e.a), e.b, e.c, e.value);
                writer.Checkpoint();
                break;
            case runfile::Event::End:
                writer.End(static_cast<int>(e.value));
                break;
        }
    }
    writer.Close();
}

// Where the `n`th step of the counter is (in level 1's play for n = 300).
size_t NthTick(const Events& events, int n) {
    for (size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == runfile::Event::Tick && --n < 0) return i;
    }
    return events.size();
}

runfile::Event Made(runfile::Event::Kind kind, std::uint32_t value) {
    return runfile::Event{kind, 0, 0, 0, value};
}

// Each hostile file is refused with exit code 2 and a line naming its place,
// having replayed no more than the pictures before it.
TEST_F(RecordedRun, RunsThePlatformCouldNotHaveMadeAreRefused) {
    const Events genuine = EventsOf(path_);
    const size_t at = NthTick(genuine, 300);
    ASSERT_LT(at, genuine.size());
    auto stepAt = [&](std::uint32_t step) {
        Events e = genuine;
        e[at].value = step;
        return e;
    };
    auto insertAt = [&](Events e, const Events& more) {
        e.insert(e.begin() + static_cast<long>(at), more.begin(), more.end());
        return e;
    };
    // A file's worth of the counter's shortest step, which it never makes
    // twice running.
    Events flood(genuine.begin(), genuine.begin() + static_cast<long>(at));
    flood.insert(flood.end(), runfile::kMaxFileBytes - 16384, Made(runfile::Event::Tick, 15));
    const struct {
        const char* what;
        Events events;
        const char* line;
    } cases[] = {
        {"a step back", stepAt(0xFFFFFFFFu), "the counter goes back by 1 ms"},
        {"a reading between the counter's steps", stepAt(3),
         "the counter moves on by 3 ms, which its 1/64 s steps"},
        {"a step of 37 days", stepAt(0xC0000000u), "the counter goes back by 1073741824 ms"},
        // 15 ms then 15 ms: the counter's steps go 15, 16, 15, 16, 16, 15,
        // 16, 16, never 15 twice.
        {"a step right for another place in the cycle",
         insertAt(stepAt(15), {Made(runfile::Event::Tick, 15)}), "the counter moves on by 15 ms"},
        {"more reads than a day's wait for a key",
         insertAt(genuine, {Made(runfile::Event::Reads, (1u << 24) + 1)}),
         "reads come with neither a picture nor a step of the counter"},
        {"a close request while one is unanswered",
         insertAt(genuine, {Made(runfile::Event::Close, 0), Made(runfile::Event::Close, 0)}),
         "a close request comes while one is still unanswered"},
        {"a flood of steps", flood, "the counter moves on by 15 ms"},
        {"a long wait for a key on every outcome screen, more than the file's size allows",
         [&] {
             // Each wait alone is a player's; together they ask for more
             // work than 9 KB may.
             Events e;
             for (const runfile::Event& event : genuine) {
                 e.push_back(event);
                 if (event.kind == runfile::Event::LevelEnd)
                     e.push_back(Made(runfile::Event::Reads, (1u << 24) - 64));
             }
             return e;
         }(),
         "the run asks for more reads and pictures than a file of its size may"},
    };
    const std::string hostile = TempPath("hostile.vnr");
    for (const auto& c : cases) {
        WriteRun(hostile, c.events);
        SCOPED_TRACE(c.what);
        const Session replayed = Verify(hostile);
        ExpectEnded(replayed, runs::kRefused,
                    "is not a run this program could have recorded: at byte ");
        ExpectEnded(replayed, runs::kRefused, c.line);
        if (std::string(c.what).find("outcome screen") == std::string::npos) {
            EXPECT_LT(replayed.pictures.size(), 200u);
        }
    }

    // Larger than any run: refused before it is read whole.
    std::vector<std::uint8_t> big = Bytes(path_);
    big.resize(static_cast<size_t>(runfile::kMaxFileBytes) + 1, 0x40);
    Write(hostile, big);
    ExpectEnded(Verify(hostile), runs::kRefused, "is too large to be a recorded run");
    std::remove(hostile.c_str());
}

// The bot's game recorded with the counter standing still in play and set,
// at each picture, to the level's start and 2/64 s after it in turn: every
// frame's wait ends (as an unsigned difference) and no second ever passes.
TEST(ForgedRun, AGameOfNoSecondsIsRefused) {
    const std::string path = TempPath("forged.vnr");
    const replay::Controller bot = replay::MakeBotController(0);
    bool frozen = false;
    int turn = 0;
    int exitCode = -1;
    replay::Play(
        123457, 4000,
        [&](const replay::FrameRecord& frame) {
            frozen = frame.game.screenState == Playing;
            if (frozen) {
                // The first 1/64 s step at or after the level's start.
                const std::uint64_t step = (frame.game.levelStartTick * 64ull + 999) / 1000;
                now = (step + (turn++ % 2 == 0 ? 2 : 0)) * 15625;
            }
            return bot(frame);
        },
        1,
        [&] {
            ScriptRealTime();
            seam::UseScriptedClock([&] { return frozen ? now : now += 50; },
                                   [&](std::uint64_t until) {
                                       if (!frozen && until > now) now = until;
                                   },
                                   [&](int milliseconds) {
                                       if (!frozen) now += milliseconds * 1000u;
                                   });
            runs::Record(path.c_str(), "test");
        },
        &exitCode);
    ASSERT_EQ(runs::Finish(exitCode), 0);
    ExpectEnded(Verify(path), runs::kRefused, "the counter goes back by 31 ms");
    std::remove(path.c_str());
}

// A recorded attempt whose outcome, level, seconds or picture the replay does
// not reach is a replay that differs (1), told with both.
TEST_F(RecordedRun, EachAttemptIsComparedWithTheRecording) {
    const Events genuine = EventsOf(path_);
    const size_t end = static_cast<size_t>(
        std::find_if(genuine.begin(), genuine.end(),
                     [](const runfile::Event& e) { return e.kind == runfile::Event::LevelEnd; }) -
        genuine.begin());
    ASSERT_LT(end, genuine.size());
    const std::string changed = TempPath("changed.vnr");
    for (int field = 0; field < 4; ++field) {
        Events e = genuine;
        runfile::Event& level = e[end];
        if (field == 0) level.a = 0;  // failed
        if (field == 1) level.b += 1;
        if (field == 2) level.c += 1;
        if (field == 3) level.value ^= 1;
        WriteRun(changed, e);
        SCOPED_TRACE(field);
        ExpectEnded(Verify(changed), runs::kDiffers,
                    "level 1 ends complete after 13 s with picture");
    }
    std::remove(changed.c_str());
}

// Esc or a closed window while watching, a close or a signal while
// verifying: the replay stops with its own code and says so.
TEST_F(RecordedRun, AnInterruptedReplayIsNotASuccess) {
    const struct {
        const char* what;
        bool watch;
        std::function<void()> act;
    } cases[] = {
        {"Esc while watching", true,
         [] {
             seam::PushWindowEvent({backend::Event::KeyDown, VK_ESCAPE});
         }},
        {"the window closed while watching", true,
         [] {
             seam::PushWindowEvent({backend::Event::Close, 0});
         }},
        {"SIGINT while verifying", false, [] { std::raise(SIGINT); }},
        {"SIGTERM while verifying", false, [] { std::raise(SIGTERM); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Session replayed = Verify(
            path_, [] { runs::CatchInterrupts(); },
            [&](const replay::FrameRecord&) {
                if (seam::FlipCount() == 100) c.act();
            },
            c.watch);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        ExpectEnded(replayed, runs::kInterrupted, "the replay was interrupted at picture 100");
        EXPECT_LT(replayed.pictures.size(), 110u);
    }
}

// A machine that cannot open the game's display is not a replay that
// differs: the code says the machine could not, and the line says what.
TEST_F(RecordedRun, AReplayThisMachineCannotCarryOutSaysSo) {
    ExpectEnded(Verify(path_, [] { seam::FailNext(seam::Call::DirectDrawCreateEx); }),
                runs::kUnable,
                "this machine could not carry out the replay: at picture 0 the game stopped with "
                "exit code 1");
}

// A laptop suspended for ten seconds in the middle of level 1 is a run the
// platform makes: it verifies, and --play shows the pause as one second,
// keeping the recorded pace everywhere else.
TEST(RunFile, PlayKeepsThePaceAndShortensALongPause) {
    const std::string path = TempPath("suspended.vnr");
    const Session recorded = RecordBotGame(path, [](const replay::FrameRecord& frame) {
        if (seam::FlipCount() == 300) now += 10000000;
        (void)frame;
    });
    const std::uint64_t recordedTime = now;
    ASSERT_EQ(recorded.finished, 0);
    EXPECT_EQ(Verify(path).finished, 0);
    ExpectEnded(Verify(path, {}, {}, true), 0,
                "a pause of 10.0 s at picture 300 is shown as 1.0 s");
    // The recorded time less the nine seconds taken out, to a few frames.
    const double shown = static_cast<double>(now) / 1e6;
    const double expected = static_cast<double>(recordedTime) / 1e6 - 9.0;
    EXPECT_NEAR(shown, expected, 0.5);
    std::remove(path.c_str());
}

// The web build cannot run a test in a process of its own.
#if GTEST_HAS_DEATH_TEST
// A recording killed midway leaves the run it was to replace untouched and
// its own readable beside it; one the system ended on an unanswered close
// request is whole, replaces the old, and verifies.
TEST(RunFile, ARecordingReplacesARunOnlyWhenWhole) {
    // Named alike in every process: on Windows the recording that dies runs
    // in a new process, which starts the test again.
    const std::string path = ::testing::TempDir() + "vn_run_replaced_best.vnr";
    const std::string partial = path + ".partial";
    Write(path, {'o', 'l', 'd'});
    EXPECT_EXIT(RecordBotGame(path,
                              [](const replay::FrameRecord&) {
                                  if (seam::FlipCount() == 300) std::_Exit(9);
                              }),
                ::testing::ExitedWithCode(9), "");
    EXPECT_EQ(Bytes(path), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    const std::vector<std::uint8_t> cut = Bytes(partial);
    runfile::Run run;
    EXPECT_EQ(runfile::Parse(cut.data(), cut.size(), &run), Status::Cut);
    EXPECT_GT(run.events.size(), 100u);

    // Left on the first level's outcome screen with a close request.
    EXPECT_EXIT(RecordBotGame(path,
                              [](const replay::FrameRecord& frame) {
                                  const GameData& game = frame.game;
                                  if (game.screenState == Playing && game.score >= game.objective &&
                                      !botAway) {
                                      seam::PushCloseRequest();
                                      botAway = true;
                                  }
                              }),
                ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(std::ifstream(partial).good());
    ExpectEnded(Verify(path), 0, "level 1  complete  13 s\n");
    std::remove(path.c_str());
}
#endif

}  // namespace
