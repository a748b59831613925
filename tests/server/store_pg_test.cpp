// The PostgreSQL store where it differs from SQLite: several programs on one database at
// once (each a store of its own, with its own connections), and connections that die under
// it. Runs against the server VN_BOARD_POSTGRES names (tests/server/with-postgres.sh), in a
// database of its own made empty; skipped without one. The rules both stores share are
// board_test's.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/sha256.h"
#include "server/store.h"

namespace {

using board::Claim;
using board::State;
using board::Submitted;
using board::Verdict;

// Runs one statement on the server as the test's own client; fails the test when it fails.
void Sql(const std::string &conninfo, const std::string &statement) {
    PGconn *c = PQconnectdb(conninfo.c_str());
    PQsetNoticeProcessor(
        c, [](void *, const char *) {}, nullptr);
    PGresult *r = PQexec(c, statement.c_str());
    EXPECT_TRUE(PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK)
        << statement << ": " << PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
}

class PostgresStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *server = std::getenv("VN_BOARD_POSTGRES");
        if (server == nullptr) GTEST_SKIP() << "no PostgreSQL (tests/server/with-postgres.sh)";
        const std::string base = server;
        const std::string at = base.substr(0, base.rfind('/'));
        Sql(at + "/postgres", "DROP DATABASE IF EXISTS store_pg_test WITH (FORCE)");
        Sql(at + "/postgres", "CREATE DATABASE store_pg_test");
        conninfo_ = at + "/store_pg_test";
    }
    std::string conninfo_;
};

// Eight programs submit the same twenty files at once, then claim and judge until nothing
// waits: each file is stored once under one id, and each run is claimed and judged once.
TEST_F(PostgresStoreTest, ProgramsOnOneDatabaseShareTheQueue) {
    constexpr int kPrograms = 8, kFiles = 20;
    std::vector<std::unique_ptr<board::Store>> stores;
    std::vector<std::thread> threads;
    std::mutex mutex;
    for (int p = 0; p < kPrograms; ++p)
        threads.emplace_back([&] {
            auto store = board::open_postgres_store(conninfo_);  // migrating at once, too
            std::lock_guard<std::mutex> hold(mutex);
            stores.push_back(std::move(store));
        });
    for (std::thread &t : threads) t.join();
    threads.clear();
    ASSERT_EQ(stores.size(), size_t(kPrograms));

    std::map<std::string, std::vector<int64_t>> ids;  // file -> the id each program got
    std::map<int64_t, int> judged;                    // run -> verdicts written
    std::atomic<int> failures{0};
    for (int p = 0; p < kPrograms; ++p) {
        threads.emplace_back([&, p] {
            try {
                const std::string worker = "program " + std::to_string(p);
                for (int f = 0; f < kFiles; ++f) {
                    const std::string bytes = "file " + std::to_string((f + p) % kFiles);
                    int64_t id = 0;
                    const Submitted s =
                        stores[p]->submit("ABC", board::sha256_hex(bytes), bytes, 1000, 1000, &id);
                    if (s == Submitted::queue_full) failures++;
                    std::lock_guard<std::mutex> hold(mutex);
                    ids[bytes].push_back(id);
                }
                Claim claim;
                while (stores[p]->claim(worker, 2000, 60, 3, &claim)) {
                    Verdict v{State::verified, "1.0", 100 + int(claim.id), {1, 1, 1, 1, 96}, ""};
                    if (!stores[p]->finish(claim.id, worker, v, 2001)) failures++;
                    std::lock_guard<std::mutex> hold(mutex);
                    judged[claim.id]++;
                }
            } catch (const board::StoreError &e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(ids.size(), size_t(kFiles));
    for (const auto &file : ids) {
        EXPECT_EQ(file.second, std::vector<int64_t>(kPrograms, file.second[0])) << file.first;
        EXPECT_EQ(judged[file.second[0]], 1) << file.first;
    }
    EXPECT_EQ(judged.size(), size_t(kFiles));
    EXPECT_EQ(stores[0]->count_waiting(), 0);
    EXPECT_EQ(stores[0]->best(board::kReplayVerified, 100).size(), size_t(kFiles));
}

// The server drops every connection of the store (a restart, a proxy's timeout): the next
// calls answer as before, and a run claimed before the drop is still judged by its holder.
TEST_F(PostgresStoreTest, ConnectionsDroppedUnderTheStoreAreMadeAnew) {
    auto store = board::open_postgres_store(conninfo_);
    int64_t id = 0;
    ASSERT_EQ(store->submit("ABC", board::sha256_hex("a"), "a", 1000, 10, &id), Submitted::added);
    Claim claim;
    ASSERT_TRUE(store->claim("w", 1000, 60, 3, &claim));
    Sql(conninfo_,
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
        " WHERE datname = 'store_pg_test' AND pid <> pg_backend_pid()");
    EXPECT_TRUE(store->finish(id, "w", Verdict{State::refused, "1.0", -1, {}, "no"}, 1001));
    Sql(conninfo_,
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
        " WHERE datname = 'store_pg_test' AND pid <> pg_backend_pid()");
    board::Run run;
    ASSERT_TRUE(store->run(id, &run));
    EXPECT_EQ(run.state, State::refused);
    EXPECT_EQ(run.verdict.line, "no");
}

TEST_F(PostgresStoreTest, NewerSchemaIsRefusedUntouched) {
    board::open_postgres_store(conninfo_).reset();
    Sql(conninfo_, "INSERT INTO schema_version (version, applied) VALUES (99, 0)");
    try {
        board::open_postgres_store(conninfo_);
        ADD_FAILURE() << "a database of a newer schema was opened";
    } catch (const board::StoreError &e) {
        EXPECT_NE(std::string(e.what()).find("newer"), std::string::npos) << e.what();
    }
}

// Programs verifying runs of one challenge at the same moment: one of them is live, the
// others are told who took it.
TEST_F(PostgresStoreTest, RunsOfOneChallengeAtOnceMakeOneLive) {
    constexpr int kPrograms = 6;
    std::vector<std::unique_ptr<board::Store>> stores;
    std::vector<Claim> claims(kPrograms);
    for (int p = 0; p < kPrograms; ++p) {
        stores.push_back(board::open_postgres_store(conninfo_));
        const std::string bytes = "run " + std::to_string(p);
        int64_t id = 0;
        stores[p]->submit("ABC", board::sha256_hex(bytes), bytes, 1200, 100, &id);
    }
    ASSERT_EQ(stores[0]->add_challenge(5000000, 1000, 8200, 100), board::Issued::added);
    for (int p = 0; p < kPrograms; ++p) ASSERT_TRUE(stores[p]->claim("w", 1300, 60, 3, &claims[p]));
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kPrograms; ++p) {
        threads.emplace_back([&, p] {
            Verdict v{State::verified, "1.0", 60, {56, 1, 1, 1, 1}, "", true, 5000000, 60000};
            for (++ready; ready < kPrograms;) std::this_thread::yield();
            EXPECT_TRUE(stores[p]->finish(claims[p].id, "w", v, 1300));
        });
    }
    for (std::thread &t : threads) t.join();
    const std::vector<board::Run> live = stores[0]->best(board::kLive, 100);
    ASSERT_EQ(live.size(), 1u);
    for (const Claim &c : claims) {
        board::Run run;
        ASSERT_TRUE(stores[0]->run(c.id, &run));
        EXPECT_EQ(run.live_reason,
                  run.id == live[0].id
                      ? ""
                      : "its challenge was already taken by run " + std::to_string(live[0].id));
    }
}

}  // namespace
