// The program and a hall of fame's board, over the headless backend's
// scripted HTTP and a scripted clock: the challenge that starts the recorded
// counter, a run sent and placed, and what each kind of failure says and
// returns. The program's entry is compiled here as CoreMain.
#include "platform/core/board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "game/game_data.h"
#include "graphics/display.h"
#include "platform/core/run_file.h"
#include "tests/platform/platform_test_support.h"

int CoreMain(int argc, char** argv);

namespace {

constexpr char kBoard[] = "http://board.test";
const std::string kRun = VORNACKLE_RUNS_DIR "/web-quit-l1.vnr";
using Answers = std::vector<std::pair<int, std::string>>;  // status 0: none, the words why

std::vector<std::pair<std::string, bool>> said;  // each line, and whether a problem
std::string Said() {
    std::string all;
    for (const auto& line : said) all += line.first;
    return all;
}

class BoardTest : public ::testing::Test {
  protected:
    // A board of a table: "METHOD /path" to its answers in turn, the last
    // repeated; 404 for the rest. The clock moves only when the program waits.
    void SetUp() override {
        seam::Reset();
        seam::SetProgramDirectory(VORNACKLE_ASSETS_DIR);
        said.clear();
        board::SayWith([](const char* text, bool problem) { said.emplace_back(text, problem); });
        seam::ScriptHttp(
            [this](const seam::HttpExchange& e, backend::HttpAnswer* a, std::string* why) {
                asked.push_back(e);
                auto found = answers.find(e.method + " " + e.url.substr(sizeof kBoard - 1));
                a->status = 404;
                if (found == answers.end()) return true;
                const auto answer = found->second.front();
                if (found->second.size() > 1) found->second.erase(found->second.begin());
                *(answer.first == 0 ? why : &a->body) = answer.second;
                a->status = answer.first;
                return answer.first != 0;
            });
        clock.Install();
    }
    void TearDown() override {
        board::SayWith(nullptr);
        seam::Reset();
    }
    // The program from its start, the game's records as a fresh process has them.
    int Run(std::vector<std::string> args) {
        free(gameData.spriteSheet.pixels);
        gameData = kGameDataStart;
        mainWindow = nullptr;
        appInstance = nullptr;
        display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
        std::memset(PaletteTable, 0, sizeof(PaletteTable));
        args.insert(args.begin(), "vornackle");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        return CoreMain(static_cast<int>(argv.size()), argv.data());
    }
    std::map<std::string, Answers> answers;
    std::vector<seam::HttpExchange> asked;
    ScriptedClock clock;
};

TEST(BoardJson, ReadsOnlyTheMembersOfWellFormedAnswers) {
    using namespace board::json;
    std::string_view v;
    std::uint64_t n = 0;
    // Its own members only: not one inside a nested object or a string.
    const std::string answer =
        R"({"note":"\"id\":5", "in":{"id":6}, "list":[{"id":8}], "id" : 7 })";
    EXPECT_TRUE(Member(answer, "id", &v) && Number(v, &n) && n == 7);
    std::vector<std::string_view> items;
    ASSERT_TRUE(Member(answer, "list", &v) && Elements(v, &items) && items.size() == 1);
    EXPECT_TRUE(Member(items[0], "id", &v) && Number(v, &n) && n == 8);
    // Anything not whole is nothing: cut, trailing bytes, bare words, too deep.
    for (const std::string& bad : std::vector<std::string>{
             R"({"id":7)", R"({"id":7}x)", R"({"id" 7})", R"({"id":7,})", "<html>", R"({"id":"7)",
             R"({"id":)" + std::string(40, '[') + std::string(40, ']') + "}"}) {
        EXPECT_FALSE(Member(bad, "id", &v)) << bad;
    }
    std::string text;
    EXPECT_TRUE(String(R"("a\"b\\c\u0041\u00e9\n")", &text));
    EXPECT_EQ("a\"b\\cA?\n", text);
    EXPECT_FALSE(String(R"("\u12")", &text) || String(R"("\q")", &text));
    for (const char* number : {"-1", "1.5", "99999999999999999999", "\"7\"", ""}) {
        EXPECT_FALSE(Number(number, &n)) << number;
    }
}

// The game starts at the board's counter, so its run's first reading lies
// just after the challenge's value (here across the counter's wrap), and the
// player is told how to send it.
TEST_F(BoardTest, AChallengeStartsTheRecordedCounterAtTheBoardsValue) {
    answers["POST /challenges"] = {
        {201, R"({"counter": 4294967000, "expires": "2026-12-08T11:00Z"})"}};
    clock.now = 123456789;  // a machine up for a while
    seam::SetPollHook([] { seam::TapKey(VK_ESCAPE); });
    const std::string path = ::testing::TempDir() + "board-challenge.vnr";
    ASSERT_EQ(0, Run({"--board", std::string(kBoard) + "/", "--record", path}));
    ASSERT_EQ(1u, asked.size());
    EXPECT_EQ(std::string(kBoard) + "/challenges", asked[0].url);
    EXPECT_LE(asked[0].seconds, board::kChallengeSeconds);
    runfile::Run run;
    ASSERT_EQ(runfile::Status::Complete, runfile::ReadFile(path.c_str(), &run));
    // The first reading is the first step from 0.
    auto tick = std::find_if(run.events.begin(), run.events.end(), [](const runfile::Event& e) {
        return e.kind == runfile::Event::Tick;
    });
    ASSERT_NE(run.events.end(), tick);
    EXPECT_LE(tick->value - 4294967000u, 10000u) << "first reading " << tick->value;
    EXPECT_NE(std::string::npos, Said().find("--submit \"" + path + "\" --board"));
    std::remove(path.c_str());
}

// Without a challenge it says so in one line and plays as it would have.
TEST_F(BoardTest, WithoutAChallengeTheGamePlaysAsBefore) {
    for (const auto& failure : Answers{{0, "timed out"},
                                       {503, R"({"error":"no database"})"},
                                       {201, "<html>a proxy's page</html>"},
                                       {201, R"({"counter": 4294967296})"}}) {
        answers["POST /challenges"] = {failure};
        said.clear();
        DWORD counter = 99;
        EXPECT_FALSE(board::AskChallenge(kBoard, &counter) || counter != 99) << failure.second;
        ASSERT_EQ(1u, said.size()) << failure.second;
        EXPECT_TRUE(said[0].second &&
                    said[0].first.find("no challenge from http://board.test (") == 11)
            << said[0].first;
    }
    seam::SetPollHook([] { seam::TapKey(VK_ESCAPE); });
    EXPECT_EQ(0, Run({"--board", kBoard}));
    EXPECT_NE(std::string::npos, Said().find("not recorded"));
}

// A run sent (the file's bytes, the initials as capitals), polled through a
// board's hiccup until checked, and placed with its rank on its board.
TEST_F(BoardTest, ASubmittedRunIsPlacedOnItsBoard) {
    answers["POST /runs?initials=AB1"] = {{202, R"({"id":7,"status":"waiting"})"}};
    answers["GET /runs/7"] = {{200, R"({"id":7,"status":"waiting"})"},
                              {0, "the connection broke"},
                              {200, R"({"id":7,"status":"verified","total":122,"board":"live"})"}};
    answers["GET /board.json?n=1000"] = {
        {200,
         R"({"live":[{"rank":1,"id":3},{"rank":2,"id":7}],"replay_verified":[{"rank":1,"id":7}]})"}};
    EXPECT_EQ(board::kVerified, Run({"--submit", kRun, "--board", kBoard, "--initials", "ab1"}));
    std::ifstream file(kRun, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), asked.at(0).body);
    EXPECT_EQ(5u, asked.size());
    EXPECT_LE(clock.now, 5000000u) << "a quick board's verdict is not waited for long";
    EXPECT_NE(std::string::npos,
              Said().find("run 7 is verified: total 122 s, rank 2 of 2 on the live board"))
        << Said();

    said.clear();
    answers["GET /runs/7"] = {{200,
                               R"({"status":"verified","total":130,"board":"replay-verified",)"
                               R"("live_reason":"its challenge had expired when it arrived"})"}};
    EXPECT_EQ(board::kVerified, board::Submit(kBoard, kRun.c_str(), "AB1"));
    EXPECT_NE(std::string::npos,
              Said().find("total 130 s, rank 1 of 1 on the replay-verified board, "
                          "not live: its challenge had expired when it arrived"))
        << Said();
}

// Each way it can go wrong has its exit code and one line saying so, within
// its minute; nothing the board says reaches the terminal unprintable.
TEST_F(BoardTest, EachFailureHasItsCodeAndItsLine) {
    const std::string notARun = ::testing::TempDir() + "board-not-a-run.txt";
    std::ofstream(notARun) << "not a run at all\n";
    using namespace board;
    const std::string waiting = R"({"id":7,"status":"waiting"})";
    struct Case {
        std::string file;
        int postStatus;  // -1: no answer
        std::string post;
        int pollStatus;
        std::string poll;
        int code;
        const char* line;
    };
    for (const Case& c : std::vector<Case>{
             {"/no/such.vnr", -1, "", -1, "", kBadRequest, "cannot be opened"},
             {notARun, -1, "", -1, "", kBadRequest, "is not a recorded run"},
             {kRun, 0, "cannot connect", -1, "", kUnreachable,
              "cannot reach the board at http://board.test: cannot connect"},
             {kRun, 400, R"({"error":"bad initials"})", -1, "", kRefused,
              "answered 400: bad initials"},
             {kRun, 429, "{}", -1, "", kUnreachable, "answered 429; try again later"},
             {kRun, 202, "<html>", -1, "", kUnreachable, "makes no sense"},
             {kRun, 202, waiting, 200, R"({"status":"refused","line":"it differs\u001b[2J"})",
              kRefused, "the board refused run 7: it differs?[2J"},
             {kRun, 202, waiting, 200, R"({"status":"fine"})", kUnreachable,
              "about run 7 makes no sense"},
             {kRun, 202, waiting, 200, waiting, kNoVerdict,
              "still waits for the board's verdict after 60 s; it will be at "
              "http://board.test/runs/7"},
             {kRun, 202, waiting, 200, R"({"status":"verified"})", kVerified, "not ranked"},
         }) {
        answers.clear();
        asked.clear();
        clock.now = 0;
        said.clear();
        if (c.postStatus >= 0) answers["POST /runs?initials=XYZ"] = {{c.postStatus, c.post}};
        if (c.pollStatus >= 0) answers["GET /runs/7"] = {{c.pollStatus, c.poll}};
        EXPECT_EQ(c.code, Submit(kBoard, c.file.c_str(), "XYZ")) << c.line;
        ASSERT_FALSE(said.empty()) << c.line;
        EXPECT_NE(std::string::npos, said.back().first.find(c.line)) << said.back().first;
        EXPECT_EQ(c.code != kVerified, said.back().second) << c.line;
        EXPECT_TRUE(c.code != kBadRequest || asked.empty()) << c.line;
        EXPECT_LE(clock.now, kVerdictSeconds * 1000000ull) << c.line;
        EXPECT_LE(asked.size(), 40u) << c.line;
    }
    std::remove(notARun.c_str());
}

// What the command line refuses before anything is sent (exit code 2).
TEST_F(BoardTest, TheCommandLineIsCheckedBeforeAnythingIsSent) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--submit", kRun, "--initials", "ABC"},
             {"--submit", kRun, "--board", "ftp://board.test", "--initials", "ABC"},
             {"--submit", kRun, "--board", kBoard, "--initials", "A-B"},
             {"--submit", kRun, "--board", kBoard, "--initials", "ABC", "--record", "x.vnr"},
             {"--board", kBoard, "--verify", kRun},
             {"--board", kBoard, "--counter-start", "5"},
             {"--initials", "ABC"},
         }) {
        EXPECT_EQ(2, Run(args)) << args[0] << " " << args.size();
    }
    EXPECT_TRUE(asked.empty());
}

}  // namespace
