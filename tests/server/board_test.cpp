// The board's parts below HTTP: the store's queue and verdict rules (on SQLite, or on the
// PostgreSQL server that VN_BOARD_POSTGRES names, in a database made afresh for each test with
// the psql of VN_POSTGRES_BIN: tests/server/with-postgres.sh), the reading of --verify's lines, the
// hash that is a run's identity, and the rate limit, each with the clock in the test's hands.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "server/service.h"
#include "server/sha256.h"
#include "server/store.h"
#include "server/verify.h"

namespace {

using board::Claim;
using board::State;
using board::Submitted;
using board::Verdict;

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char *pg = std::getenv("VN_BOARD_POSTGRES")) {
            const char *bin = std::getenv("VN_POSTGRES_BIN");
            ASSERT_NE(bin, nullptr) << "VN_POSTGRES_BIN: the folder of PostgreSQL's psql";
            const std::string server = std::string(pg).substr(0, std::string(pg).rfind('/'));
            ASSERT_EQ(
                std::system(("PGOPTIONS=-cclient_min_messages=warning " + std::string(bin) +
                             "/psql -X -q -d '" + server + "/postgres' -c 'DROP DATABASE " +
                             "IF EXISTS board_test WITH (FORCE)' -c 'CREATE DATABASE board_test'")
                                .c_str()),
                0);
            spec_ = "postgresql:" + server + "/board_test";
        } else {
            char dir[] = "/tmp/vn-board-store-XXXXXX";
            ASSERT_NE(mkdtemp(dir), nullptr);
            dir_ = dir;
            spec_ = "sqlite:" + dir_ + "/board.db";
        }
        store_ = board::open_store(spec_);
    }
    void TearDown() override {
        store_.reset();
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    int64_t Submit(const std::string &bytes, int64_t now = 1000) {
        int64_t id = 0;
        EXPECT_EQ(store_->submit("ABC", board::sha256_hex(bytes), bytes, now, 1000, &id),
                  Submitted::added);
        return id;
    }
    // Claims the next run: true when it is `id`.
    bool ClaimRun(int64_t id, const std::string &worker, int64_t now, int lease = 60) {
        Claim c;
        return store_->claim(worker, now, lease, 3, &c) && c.id == id;
    }
    static Verdict Verified(int total) {
        return {State::verified, "1.0", total, {total - 4, 1, 1, 1, 1}, ""};
    }

    std::string dir_, spec_;
    std::unique_ptr<board::Store> store_;
};

TEST_F(StoreTest, DedupeAndQueueCap) {
    const int64_t id = Submit("run one");
    int64_t again = 0;
    const std::string bytes = "run one";
    EXPECT_EQ(store_->submit("XYZ", board::sha256_hex(bytes), bytes, 2000, 1000, &again),
              Submitted::duplicate);
    EXPECT_EQ(again, id);
    board::Run run;
    ASSERT_TRUE(store_->run(id, &run));
    EXPECT_EQ(run.initials, "ABC");  // the first submitter keeps it
    EXPECT_EQ(run.size, static_cast<int64_t>(bytes.size()));
    std::string stored;
    ASSERT_TRUE(store_->run_bytes(id, &stored));
    EXPECT_EQ(stored, bytes);
    EXPECT_EQ(store_->count_waiting(), 1);
    int64_t none = 0;
    EXPECT_EQ(store_->submit("ABC", board::sha256_hex("run two"), "run two", 1000, 1, &none),
              Submitted::queue_full);
    EXPECT_EQ(store_->count_waiting(), 1);
    EXPECT_FALSE(store_->run(id + 1000000, &run));
}

// A worker that dies keeps its claim only until its lease ends; then another takes the run
// and the late worker's verdict is refused: one verdict per run.
TEST_F(StoreTest, LeaseExpiresAndOnlyTheHolderJudges) {
    const int64_t id = Submit("leased");
    ASSERT_TRUE(ClaimRun(id, "a", 1000, 60));
    Claim c;
    EXPECT_FALSE(store_->claim("b", 1059, 60, 3, &c)) << "taken while its lease holds";
    ASSERT_TRUE(ClaimRun(id, "b", 1060, 60));
    EXPECT_FALSE(store_->finish(id, "a", Verified(100), 1061));
    EXPECT_FALSE(store_->release(id, "a"));
    EXPECT_TRUE(store_->finish(id, "b", Verified(120), 1062));
    EXPECT_FALSE(store_->finish(id, "b", Verified(90), 1063));  // judged once
    board::Run run;
    ASSERT_TRUE(store_->run(id, &run));
    EXPECT_EQ(run.state, State::verified);
    EXPECT_EQ(run.verdict.total, 120);
    EXPECT_EQ(run.attempts, 2);
    EXPECT_EQ(run.verdict.levels, (std::vector<int>{116, 1, 1, 1, 1}));
}

TEST_F(StoreTest, RunThatKeepsKillingWorkersIsRefused) {
    const int64_t id = Submit("poison");
    ASSERT_TRUE(ClaimRun(id, "a", 1000, 10));
    ASSERT_TRUE(ClaimRun(id, "b", 1010, 10));
    ASSERT_TRUE(store_->release(id, "b"));  // given back: waits again, the attempt counts
    ASSERT_TRUE(ClaimRun(id, "c", 1011, 10));
    EXPECT_FALSE(ClaimRun(id, "d", 1021, 10));
    board::Run run;
    ASSERT_TRUE(store_->run(id, &run));
    EXPECT_EQ(run.state, State::refused);
    EXPECT_NE(run.verdict.line.find("never finished (3 attempts)"), std::string::npos);
}

TEST_F(StoreTest, BoardRanksCompletedGamesAndReverifyUnranks) {
    const int64_t slow = Submit("slow", 1000), fast = Submit("fast", 1001),
                  tie = Submit("tie", 1002), none = Submit("none", 1003), bad = Submit("bad", 1004);
    for (int64_t id : {slow, fast, tie, none, bad}) ASSERT_TRUE(ClaimRun(id, "w", 2000));
    store_->finish(slow, "w", Verified(7), 2001);
    store_->finish(fast, "w", Verified(5), 2001);
    store_->finish(tie, "w", Verified(5), 2001);
    store_->finish(none, "w", {State::verified, "1.0", -1, {}, ""}, 2001);
    store_->finish(bad, "w", {State::refused, "1.0", -1, {}, "is damaged"}, 2001);
    std::vector<board::Run> best = store_->best(board::kReplayVerified, 3);
    ASSERT_EQ(best.size(), 3u);
    EXPECT_EQ(best[0].id, fast);  // then the later submission of the same total
    EXPECT_EQ(best[1].id, tie);
    EXPECT_EQ(best[2].id, slow);

    std::vector<int64_t> again = store_->reverify_list();
    auto listed = [&](int64_t id) {
        return std::find(again.begin(), again.end(), id) != again.end();
    };
    EXPECT_TRUE(listed(fast) && listed(none) && !listed(bad));
    EXPECT_TRUE(store_->set_reverified(fast, {State::incompatible, "2.0", 5, {}, "differs"}, 3000));
    EXPECT_FALSE(store_->set_reverified(bad, Verified(1), 3000));  // refused stays refused
    best = store_->best(board::kReplayVerified, 2);
    EXPECT_EQ(best[0].id, tie);
    board::Run run;
    ASSERT_TRUE(store_->run(fast, &run));
    EXPECT_EQ(run.state, State::incompatible);
    EXPECT_EQ(run.verdict.line, "differs");
    EXPECT_TRUE(store_->set_reverified(fast, Verified(5), 3001));  // reproduces again
    EXPECT_EQ(store_->best(board::kReplayVerified, 1)[0].id, fast);
}

// Challenges: none within 10 s of counter of an unexpired one, across the wrap; at most
// max_unexpired at once.
TEST_F(StoreTest, ChallengesKeepApart) {
    const uint32_t top = 0xFFFFFFFFu - 2000;
    EXPECT_EQ(store_->add_challenge(top, 1000, 1100, 100000), board::Issued::added);
    EXPECT_EQ(store_->add_challenge(7000, 1000, 1100, 100000), board::Issued::near);
    EXPECT_EQ(store_->add_challenge(top - 10000, 1000, 1100, 100000), board::Issued::near);
    EXPECT_EQ(store_->add_challenge(9000, 1000, 1100, 100000), board::Issued::added);
    EXPECT_EQ(store_->add_challenge(50000, 1000, 1100, 1), board::Issued::full);
    EXPECT_EQ(store_->add_challenge(7000, 1101, 1200, 100000), board::Issued::added);  // expired
}

// A verified game goes live only from an unexpired challenge no other run took, arriving no
// sooner than its own length after it; any other lands on the replay-verified board, with
// the first reason in that order.
TEST_F(StoreTest, LiveRuleAndItsReasons) {
    const uint32_t a = 100000000, b = a + 20000, wrap = 0xFFFFFFFFu - 40000;
    ASSERT_EQ(store_->add_challenge(a, 1000, 8200, 100000), board::Issued::added);
    ASSERT_EQ(store_->add_challenge(b, 1000, 1100, 100000), board::Issued::added);
    ASSERT_EQ(store_->add_challenge(wrap, 1000, 8200, 100000), board::Issued::added);
    struct Case {
        const char *name;
        bool has_counter;
        uint32_t first;
        uint64_t length_ms;
        int64_t arrived;
        std::string reason;  // "" live; "#" stands for the genuine run's id
    } cases[] = {
        {"genuine", true, a + 500, 90000, 1095, ""},
        {"reused", true, a + 600, 90000, 2000, "its challenge was already taken by run #"},
        {"expired, and sooner", true, b + 10000, 500000, 1101,
         "its challenge had expired when it arrived"},
        {"across the wrap, sooner by a part of a second", true, wrap + 5000, 120001, 1120,
         "it arrived 120 s after its challenge, sooner than its own length of 121 s"},
        {"past the window", true, a + 10001, 1000, 5000,
         "its counter starts from no challenge of this board"},
        {"before the window", true, b - 1, 1000, 5000,
         "its counter starts from no challenge of this board"},
        {"issued after it arrived", true, a + 100, 1000, 999,
         "its counter starts from no challenge of this board"},
        {"no counter line", false, a, 1000, 5000,
         "its counter starts from no challenge of this board"},
    };
    int64_t genuine = 0;
    for (const Case &c : cases) {
        const int64_t id = Submit(c.name, c.arrived);
        ASSERT_TRUE(ClaimRun(id, "w", 9000));
        Verdict v = Verified(60);
        v.has_counter = c.has_counter;
        v.first = c.first;
        v.length_ms = c.length_ms;
        ASSERT_TRUE(store_->finish(id, "w", v, 9000));
        if (genuine == 0) genuine = id;
        std::string reason = c.reason;
        if (reason.back() == '#') reason.replace(reason.size() - 1, 1, std::to_string(genuine));
        board::Run run;
        ASSERT_TRUE(store_->run(id, &run));
        EXPECT_EQ(run.board, reason.empty() ? board::kLive : board::kReplayVerified) << c.name;
        EXPECT_EQ(run.live_reason, reason) << c.name;
    }
    EXPECT_EQ(store_->best(board::kLive, 1000).size(), 1u);
}

TEST_F(StoreTest, ReopenKeepsRunsAndRefusesNewerSchema) {
    if (dir_.empty()) GTEST_SKIP() << "the schema is checked here on SQLite";
    const int64_t id = Submit("kept");
    store_ = board::open_store(spec_);  // migrations run again: nothing to do
    board::Run run;
    EXPECT_TRUE(store_->run(id, &run));
    store_.reset();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/board.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "INSERT INTO schema_version VALUES (99)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_THROW(board::open_store(spec_), board::StoreError);
    EXPECT_THROW(board::open_store("mysql:board"), board::StoreError);
}

TEST(VerdictTest, FastestGameAndItsLevels) {
    // Two games: the first with a failed attempt on level 2; the second faster.
    const std::string out =
        "level 1  complete  13 s\nlevel 2  failed    30 s\nlevel 2  complete  15 s\n"
        "level 3  complete  15 s\nlevel 4  complete  28 s\n"
        "level 5  complete  21 s  game complete: total 122 s\n"
        "level 1  failed    30 s\n"  // a game lost on level 1, then a new one
        "level 1  complete  12 s\nlevel 2  complete  14 s\nlevel 3  complete  15 s\n"
        "level 4  complete  20 s\nlevel 5  complete  19 s  game complete: total 80 s\n"
        "fastest total: 80 s\ncounter: first reading 4294967295, 8589934592 ms to the last\n"
        "3925 pictures in 0.22 s: 17779 pictures per second\n";
    Verdict v = board::read_verdict(out, 0, "", "1.0.0");
    EXPECT_EQ(v.state, State::verified);
    EXPECT_EQ(v.total, 80);
    EXPECT_TRUE(v.has_counter);
    EXPECT_EQ(v.first, 0xFFFFFFFFu);
    EXPECT_EQ(v.length_ms, uint64_t{1} << 33);
    EXPECT_EQ(v.levels, (std::vector<int>{12, 14, 15, 20, 19}));
    EXPECT_EQ(v.version, "1.0.0");

    v = board::read_verdict(out.substr(0, out.find("level 1  failed")) + "fastest total: 122 s\n",
                            0, "", "1.0.0");
    EXPECT_EQ(v.total, 122);
    EXPECT_EQ(v.levels, (std::vector<int>{13, 45, 15, 28, 21}));

    v = board::read_verdict("level 1  failed    30 s\nfastest total: none (no game completed)\n", 0,
                            "", "1.0.0");
    EXPECT_EQ(v.state, State::verified);
    EXPECT_EQ(v.total, -1);
}

TEST(Sha256Test, KnownDigests) {
    EXPECT_EQ(board::sha256_hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(board::sha256_hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padding block.
    EXPECT_EQ(board::sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(board::sha256_hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(RateLimitTest, BurstThenRefillPerAddress) {
    board::RateLimit limit(6, 2, 2);  // one every 10 s, two at once, two addresses kept
    int retry = 0;
    EXPECT_TRUE(limit.take("a", 100, &retry));
    EXPECT_TRUE(limit.take("a", 100, &retry));
    EXPECT_FALSE(limit.take("a", 100.5, &retry));
    EXPECT_EQ(retry, 10);  // 9.5 s: whole seconds, rounded up
    EXPECT_TRUE(limit.take("b", 101, &retry));
    EXPECT_TRUE(limit.take("a", 110, &retry));
    // A third address past the table's size: the full buckets make room, "a" stays limited.
    EXPECT_TRUE(limit.take("c", 111, &retry));
    EXPECT_FALSE(limit.take("a", 111, &retry));
}

}  // namespace
