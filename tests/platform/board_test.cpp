// The program and a hall of fame's board, over the headless backend's
// scripted HTTP and a scripted clock: the challenge that starts the recorded
// counter, a run sent and placed, and what every kind of failure says and
// returns. The program's entry is compiled here as CoreMain.
#include "platform/core/board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "game/game_data.h"
#include "graphics/display.h"
#include "platform/core/run_file.h"
#include "platform/seam.h"

int CoreMain(int argc, char** argv);

namespace {

constexpr char kBoard[] = "http://board.test";
const std::string kRun = VORNACKLE_RUNS_DIR "/web-quit-l1.vnr";

std::vector<std::pair<std::string, bool>> said;  // lines, and whether each is a problem

void Keep(const char* text, bool problem) {
    said.emplace_back(text, problem);
}

std::string Said() {
    std::string all;
    for (const auto& line : said) all += line.first;
    return all;
}

// A board whose answers are a table: each request's method and URL (less the
// board's) to a list of answers given in turn, the last repeated. Status 0
// is no answer at all.
struct Board {
    std::map<std::string, std::vector<std::pair<int, std::string>>> answers;
    std::vector<seam::HttpExchange> asked;
    std::uint64_t now = 0;  // the scripted clock, microseconds

    void Install() {
        seam::ScriptHttp(
            [this](const seam::HttpExchange& e, backend::HttpAnswer* a, std::string* error) {
                asked.push_back(e);
                const std::string key = e.method + " " + e.url.substr(sizeof kBoard - 1);
                auto found = answers.find(key);
                if (found == answers.end()) {
                    a->status = 404;
                    a->body = "{\"error\":\"no such page\"}";
                    return true;
                }
                auto& list = found->second;
                const auto answer = list.front();
                if (list.size() > 1) list.erase(list.begin());
                if (answer.first == 0) {
                    *error = answer.second;
                    return false;
                }
                a->status = answer.first;
                a->body = answer.second;
                return true;
            });
        seam::UseRealClock(true);
        seam::UseScriptedClock([this] { return now; },
                               [this](std::uint64_t until) { now = std::max(now, until); },
                               [this](int milliseconds) { now += milliseconds * 1000ull; });
    }
    int Asked(const std::string& method, const std::string& path) const {
        int n = 0;
        for (const auto& e : asked) n += e.method == method && e.url == kBoard + path;
        return n;
    }
};

class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        seam::Reset();
        seam::SetProgramDirectory(VORNACKLE_ASSETS_DIR);
        said.clear();
        board::SayWith(Keep);
        board.Install();
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
    Board board;
};

const char kVerifiedLive[] =
    R"({"id":7,"status":"verified","ranked":true,"total":122,"board":"live"})";

TEST(BoardJson, ReadsOnlyTheMembersOfWellFormedAnswers) {
    using namespace board::json;
    std::string_view v;
    std::string text;
    std::uint64_t n = 0;
    // Its own members only: not one inside a nested object or a string.
    const std::string answer =
        R"({"note":"\"id\":5", "inner":{"id":6}, "list":[{"id":8}], "id" : 7 })";
    ASSERT_TRUE(Member(answer, "id", &v));
    ASSERT_TRUE(Number(v, &n));
    EXPECT_EQ(7u, n);
    ASSERT_TRUE(Member(answer, "list", &v));
    std::vector<std::string_view> items;
    ASSERT_TRUE(Elements(v, &items));
    ASSERT_EQ(1u, items.size());
    EXPECT_TRUE(Member(items[0], "id", &v) && Number(v, &n) && n == 8);
    EXPECT_FALSE(Member(answer, "rank", &v));
    // Anything not whole is nothing: cut, trailing bytes, bare words, too deep.
    for (const std::string& bad : std::vector<std::string>{
             R"({"id":7)", R"({"id":7}x)", R"({"id" 7})", R"({"id":7,})", "<html>", "",
             R"({"id":"7)", std::string(40, '[') + std::string(40, ']')}) {
        EXPECT_FALSE(Member(bad, "id", &v)) << bad;
    }
    EXPECT_TRUE(String(R"("a\"b\\c\u0041\u00e9\n")", &text));
    EXPECT_EQ("a\"b\\cA?\n", text);
    EXPECT_FALSE(String(R"("\u12")", &text));
    EXPECT_FALSE(String(R"("\q")", &text));
    for (const char* number : {"-1", "1.5", "1e3", "99999999999999999999", "\"7\"", ""}) {
        EXPECT_FALSE(Number(number, &n)) << number;
    }
}

TEST(BoardOptions, UrlsAndInitials) {
    EXPECT_TRUE(board::ValidUrl("https://board.example/"));
    EXPECT_TRUE(board::ValidUrl("http://127.0.0.1:8080"));
    for (const char* bad : {"ftp://board.example", "board.example", "http://", "http:///runs",
                            "http://a b", "http://board/?x"}) {
        EXPECT_FALSE(board::ValidUrl(bad)) << bad;
    }
    std::string initials;
    EXPECT_TRUE(board::TakeInitials("ab9", &initials));
    EXPECT_EQ("AB9", initials);
    for (const char* bad : {"AB", "ABCD", "A-B", "AB ",
                            "\xc3\x89"
                            "A"}) {
        EXPECT_FALSE(board::TakeInitials(bad, &initials)) << bad;
    }
}

// The game starts at the board's counter, so its run's first reading lies
// just after the challenge's value (here across the counter's wrap), and the
// player is told how to send it; nothing else is sent.
TEST_F(BoardTest, AChallengeStartsTheRecordedCounterAtTheBoardsValue) {
    board.answers["POST /challenges"] = {
        {201, R"({"counter": 4294967000, "issued": "2026-12-08T09:00:00Z",)"
              R"( "expires": "2026-12-08T11:00:00Z", "now": "2026-12-08T09:00:00Z"})"}};
    board.now = 123456789;  // a machine up for a while
    bool tapped = false;
    seam::SetPollHook([&] {
        if (!tapped) seam::TapKey(VK_ESCAPE);
        tapped = true;
    });
    const std::string path = ::testing::TempDir() + "board-challenge.vnr";
    std::remove(path.c_str());
    ASSERT_EQ(0, Run({"--board", std::string(kBoard) + "/", "--record", path}));
    ASSERT_EQ(1u, board.asked.size());
    EXPECT_EQ("POST", board.asked[0].method);
    EXPECT_EQ(std::string(kBoard) + "/challenges", board.asked[0].url);
    EXPECT_LE(board.asked[0].seconds, board::kChallengeSeconds);

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

// Without an answer it says so in one line and plays as it would have: the
// counter is the machine's.
TEST_F(BoardTest, WithoutAChallengeTheGamePlaysAsBefore) {
    const std::vector<std::pair<int, std::string>> failures = {
        {0, "cannot connect"},
        {0, "timed out"},
        {503, R"({"error":"the database does not answer"})"},
        {201, "<html>a proxy's page</html>"},
        {201, R"({"counter": 4294967296})"},
        {201, R"({"counter": "12"})"},
    };
    for (const auto& failure : failures) {
        board.answers["POST /challenges"] = {failure};
        said.clear();
        DWORD counter = 99;
        EXPECT_FALSE(board::AskChallenge(kBoard, &counter)) << failure.second;
        EXPECT_EQ(99u, counter);
        ASSERT_EQ(1u, said.size()) << failure.second;
        EXPECT_TRUE(said[0].second);
        EXPECT_EQ(0u, said[0].first.find("vornackle: no challenge from http://board.test ("))
            << said[0].first;
    }
    board.answers["POST /challenges"] = {{0, "cannot connect"}};
    board.now = 5000000;
    seam::SetPollHook([] { seam::TapKey(VK_ESCAPE); });
    EXPECT_EQ(0, Run({"--board", kBoard}));
    EXPECT_NE(std::string::npos, Said().find("not recorded"));
}

// A run sent, polled until checked, and placed with its rank on its board.
TEST_F(BoardTest, ASubmittedRunIsPlacedOnItsBoard) {
    board.answers["POST /runs?initials=AB1"] = {{202, R"({"id":7,"status":"waiting"})"}};
    board.answers["GET /runs/7"] = {
        {200, R"({"id":7,"status":"waiting"})"}, {0, "the connection broke"}, {200, kVerifiedLive}};
    board.answers["GET /board.json?n=1000"] = {
        {200,
         R"({"live":[{"rank":1,"id":3},{"rank":2,"id":7}],"replay_verified":[{"rank":1,"id":7}]})"}};
    EXPECT_EQ(board::kVerified, Run({"--submit", kRun, "--board", kBoard, "--initials", "ab1"}));
    std::ifstream file(kRun, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    ASSERT_EQ(1, board.Asked("POST", "/runs?initials=AB1"));
    EXPECT_EQ(bytes, board.asked[0].body);
    EXPECT_EQ(3, board.Asked("GET", "/runs/7"));
    EXPECT_LE(board.now, 5000000u)
        << "the polls wait a few seconds at most when the board is quick";
    EXPECT_NE(std::string::npos,
              Said().find("run 7 is verified: total 122 s, rank 2 of 2 on the live board"))
        << Said();

    // On the other board, with the reason; a board of one list only.
    said.clear();
    board.asked.clear();
    board.answers["GET /runs/7"] = {
        {200, R"({"id":7,"status":"verified","total":130,"board":"replay-verified",)"
              R"("live_reason":"its challenge had expired when it arrived"})"}};
    EXPECT_EQ(board::kVerified, board::Submit(kBoard, kRun.c_str(), "AB1"));
    EXPECT_NE(std::string::npos,
              Said().find("total 130 s, rank 1 of 1 on the replay-verified board, not live: its "
                          "challenge had expired when it arrived"))
        << Said();
    said.clear();
    board.answers["GET /runs/7"] = {{200, R"({"id":7,"status":"verified","total":99})"}};
    board.answers["GET /board.json?n=1000"] = {{200, R"({"board":[{"rank":4,"id":7}]})"}};
    EXPECT_EQ(board::kVerified, board::Submit(kBoard, kRun.c_str(), "AB1"));
    EXPECT_NE(std::string::npos, Said().find("rank 4 on the board")) << Said();
}

// Each way it can go wrong has its exit code and one line saying so, and
// nothing the board says reaches the terminal unprintable.
TEST_F(BoardTest, EachFailureHasItsCodeAndItsLine) {
    const std::string notARun = ::testing::TempDir() + "board-not-a-run.txt";
    std::ofstream(notARun) << "not a run at all\n";
    const std::string tooLarge = ::testing::TempDir() + "board-too-large.vnr";
    std::ofstream(tooLarge, std::ios::binary) << std::string((1 << 20) + 1, 'V');
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::pair<int, std::string>> post, poll;
        int code;
        const char* line;
    };
    const std::string waiting = R"({"id":7,"status":"waiting"})";
    const std::vector<Case> cases = {
        {"missing file", "/no/such.vnr", {}, {}, board::kBadRequest, "cannot be opened"},
        {"not a run", notARun, {}, {}, board::kBadRequest, "is not a recorded run"},
        {"too large", tooLarge, {}, {}, board::kBadRequest, "too large"},
        {"unreachable",
         kRun,
         {{0, "cannot connect"}},
         {},
         board::kUnreachable,
         "cannot reach the board at http://board.test: cannot connect"},
        {"refused request",
         kRun,
         {{400, R"({"error":"the body is not a run"})"}},
         {},
         board::kRefused,
         "answered 400: the body is not a run"},
        {"too many",
         kRun,
         {{429, R"({"error":"slow down"})"}},
         {},
         board::kUnreachable,
         "try again later"},
        {"board in trouble", kRun, {{500, "oops"}}, {}, board::kUnreachable, "answered 500"},
        {"garbage", kRun, {{202, "<html>"}}, {}, board::kUnreachable, "makes no sense"},
        {"refused run",
         kRun,
         {{202, waiting}},
         {{200, R"({"id":7,"status":"refused","line":"it differs\u001b[2J"})"}},
         board::kRefused,
         "the board refused run 7: it differs?[2J"},
        {"incompatible",
         kRun,
         {{202, waiting}},
         {{200, R"({"id":7,"status":"incompatible","line":"another sprite sheet"})"}},
         board::kRefused,
         "cannot rank run 7: another sprite sheet"},
        {"garbage poll",
         kRun,
         {{202, waiting}},
         {{200, R"({"id":7,"status":"fine"})"}},
         board::kUnreachable,
         "about run 7 makes no sense"},
        {"never checked",
         kRun,
         {{202, waiting}},
         {{200, waiting}},
         board::kNoVerdict,
         "still waits for the board's verdict after 60 s; it will be at http://board.test/runs/7"},
        {"gone while waiting",
         kRun,
         {{202, waiting}},
         {{0, "timed out"}},
         board::kNoVerdict,
         "still waits"},
        {"no whole game",
         kRun,
         {{202, waiting}},
         {{200, R"({"id":7,"status":"verified"})"}},
         board::kVerified,
         "not ranked"},
    };
    for (const Case& c : cases) {
        board.answers.clear();
        board.asked.clear();
        board.now = 0;
        said.clear();
        if (!c.post.empty()) board.answers["POST /runs?initials=XYZ"] = c.post;
        if (!c.poll.empty()) board.answers["GET /runs/7"] = c.poll;
        EXPECT_EQ(c.code, board::Submit(kBoard, c.file.c_str(), "XYZ")) << c.name;
        ASSERT_FALSE(said.empty()) << c.name;
        EXPECT_NE(std::string::npos, said.back().first.find(c.line))
            << c.name << ": " << said.back().first;
        EXPECT_EQ(c.code != board::kVerified, said.back().second) << c.name;
        if (c.code == board::kBadRequest) {
            EXPECT_TRUE(board.asked.empty()) << c.name;
        }
        // However long the board keeps it, the wait ends at its minute, and
        // each request had its bound.
        EXPECT_LE(board.now, board::kVerdictSeconds * 1000000ull) << c.name;
        EXPECT_LE(board.asked.size(), 40u) << c.name;
        for (const auto& e : board.asked) EXPECT_LE(e.seconds, board::kSendSeconds) << c.name;
    }
    std::remove(notARun.c_str());
    std::remove(tooLarge.c_str());
}

// What the command line refuses before anything is sent (exit code 2).
TEST_F(BoardTest, TheCommandLineIsCheckedBeforeAnythingIsSent) {
    const std::vector<std::vector<std::string>> refused = {
        {"--submit", kRun},
        {"--submit", kRun, "--board", "ftp://board.test", "--initials", "ABC"},
        {"--submit", kRun, "--board", kBoard, "--initials", "AB"},
        {"--submit", kRun, "--board", kBoard, "--initials", "ABC", "--record", "x.vnr"},
        {"--submit", kRun, "--board", kBoard, "--initials", "ABC", "--counter-start", "5"},
        {"--board", kBoard, "--verify", kRun},
        {"--board", kBoard, "--counter-start", "5"},
        {"--initials", "ABC"},
        {"--board"},
    };
    for (const auto& args : refused) {
        said.clear();
        EXPECT_EQ(2, Run(args)) << args[0] << " " << args.size();
    }
    EXPECT_TRUE(board.asked.empty());
}

}  // namespace
