// The board in one SQLite file: the default, for a board that one machine serves.
//
// Two connections, each serialised by its own mutex: one writes, one reads (the board, a
// run's status and file), so that a page is never held up by a write waiting on the disk.
// The file is in WAL mode, so that readers (this one's, reverify, a backup) read while the
// writer writes, and
// synchronous=FULL, so that a run whose id has been answered survives a power cut. Writers
// of other processes are waited for up to five seconds (busy_timeout) before a StoreError.
#include <sqlite3.h>

#include <mutex>

#include "server/store.h"

namespace board {

namespace {

// Each migration once, in order; the index + 1 is its number. Never edit one that has
// shipped: add the next.
const char *const kMigrations[] = {
    // 1: runs and their verdicts; the files apart, so reading the board never pages them in.
    "CREATE TABLE runs ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  hash TEXT NOT NULL UNIQUE,"
    "  initials TEXT NOT NULL,"
    "  size INTEGER NOT NULL,"
    "  submitted INTEGER NOT NULL,"
    "  state TEXT NOT NULL DEFAULT 'waiting',"
    "  worker TEXT NOT NULL DEFAULT '',"
    "  lease_until INTEGER NOT NULL DEFAULT 0,"
    "  attempts INTEGER NOT NULL DEFAULT 0,"
    "  finished INTEGER NOT NULL DEFAULT 0,"
    "  version TEXT NOT NULL DEFAULT '',"
    "  total INTEGER NOT NULL DEFAULT -1,"
    "  levels TEXT NOT NULL DEFAULT '',"
    "  line TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE run_files (id INTEGER PRIMARY KEY REFERENCES runs(id), bytes BLOB NOT NULL);"
    "CREATE INDEX runs_queue ON runs(state, id);"
    "CREATE INDEX runs_board ON runs(total, submitted, id) WHERE state = 'verified' AND total >= "
    "0;",
    // 2: two boards, live and replay-verified, and the challenges live runs start from. The
    // runs ranked before are replay-verified: no challenge started them.
    "ALTER TABLE runs ADD COLUMN board TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE runs ADD COLUMN live_reason TEXT NOT NULL DEFAULT '';"
    "UPDATE runs SET board = 'replay-verified',"
    "  live_reason = 'its counter starts from no challenge of this board'"
    "  WHERE state = 'verified' AND total >= 0;"
    "DROP INDEX runs_board;"
    "CREATE INDEX runs_board ON runs(board, total, submitted, id)"
    "  WHERE state = 'verified' AND total >= 0;"
    "CREATE TABLE challenges ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  counter INTEGER NOT NULL,"
    "  issued INTEGER NOT NULL,"
    "  expires INTEGER NOT NULL,"
    "  run INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX challenges_counter ON challenges(counter);"
    "CREATE INDEX challenges_expires ON challenges(expires);",
};
const int kSchemaVersion = sizeof kMigrations / sizeof kMigrations[0];

const char kRunColumns[] =
    "id, initials, hash, size, submitted, finished, state, attempts, version, total, levels, line, "
    "board, live_reason";
// 2^32: counters wrap there.
constexpr int64_t kWrap = int64_t{1} << 32;

class Statement {
  public:
    Statement(sqlite3 *db, const char *sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int i, int64_t v) {
        if (sqlite3_bind_int64(stmt_, i, v) != SQLITE_OK) Fail();
        return *this;
    }
    Statement &bind(int i, const std::string &v) {
        if (sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT) !=
            SQLITE_OK) {
            Fail();
        }
        return *this;
    }
    Statement &blob(int i, const std::string &v) {
        if (sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT) !=
            SQLITE_OK) {
            Fail();
        }
        return *this;
    }
    // True while there is a row.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) Fail();
        return false;
    }
    void run() { step(); }
    int64_t integer(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string text(int col) {
        const void *p = sqlite3_column_blob(stmt_, col);
        const int n = sqlite3_column_bytes(stmt_, col);
        return p == nullptr ? std::string() : std::string(static_cast<const char *>(p), n);
    }

  private:
    [[noreturn]] void Fail() { throw StoreError(std::string("sqlite: ") + sqlite3_errmsg(db_)); }
    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

void Exec(sqlite3 *db, const char *sql) {
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string line = std::string("sqlite: ") + (error != nullptr ? error : "failed");
        sqlite3_free(error);
        throw StoreError(line);
    }
}

// One transaction, rolled back unless committed (a StoreError on the way leaves nothing).
class Transaction {
  public:
    explicit Transaction(sqlite3 *db) : db_(db) { Exec(db, "BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit() {
        Exec(db_, "COMMIT");
        done_ = true;
    }

  private:
    sqlite3 *db_;
    bool done_ = false;
};

Run ReadRun(Statement &s) {
    Run r;
    r.id = s.integer(0);
    r.initials = s.text(1);
    r.hash = s.text(2);
    r.size = s.integer(3);
    r.submitted = s.integer(4);
    r.finished = s.integer(5);
    state_from_name(s.text(6), &r.state);
    r.attempts = static_cast<int>(s.integer(7));
    if (r.state != State::waiting && r.state != State::verifying) r.verdict.state = r.state;
    r.verdict.version = s.text(8);
    r.verdict.total = static_cast<int>(s.integer(9));
    r.verdict.levels = levels_from_text(s.text(10));
    r.verdict.line = s.text(11);
    r.board = s.text(12);
    r.live_reason = s.text(13);
    return r;
}

class SqliteStore : public Store {
  public:
    explicit SqliteStore(const std::string &path) : path_(path) {
        db_ = Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        try {
            Exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON");
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }
    ~SqliteStore() override {
        sqlite3_close(reader_);
        sqlite3_close(db_);
    }

    void migrate() override {
        std::lock_guard<std::mutex> hold(mutex_);
        Transaction t(db_);
        Exec(db_, "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        int64_t have = 0;
        {
            // Finished before the migrations: a statement still open keeps DROP from running.
            Statement current(db_, "SELECT coalesce(max(version), 0) FROM schema_version");
            current.step();
            have = current.integer(0);
        }
        if (have > kSchemaVersion) {
            throw StoreError("sqlite: the database's schema (" + std::to_string(have) +
                             ") is newer than this program's (" + std::to_string(kSchemaVersion) +
                             ")");
        }
        for (int64_t v = have + 1; v <= kSchemaVersion; ++v) {
            Exec(db_, kMigrations[v - 1]);
            Statement(db_, "INSERT INTO schema_version VALUES (?)").bind(1, v).run();
        }
        t.commit();
        if (reader_ == nullptr) reader_ = Open(SQLITE_OPEN_READONLY);
    }

    Submitted submit(const std::string &initials, const std::string &hash, const std::string &bytes,
                     int64_t now, int max_waiting, int64_t *id) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Transaction t(db_);
        Statement same(db_, "SELECT id FROM runs WHERE hash = ?");
        if (same.bind(1, hash).step()) {
            *id = same.integer(0);
            return Submitted::duplicate;
        }
        if (Waiting() >= max_waiting) return Submitted::queue_full;
        Statement add(db_,
                      "INSERT INTO runs (hash, initials, size, submitted) VALUES (?, ?, ?, ?)");
        add.bind(1, hash).bind(2, initials).bind(3, static_cast<int64_t>(bytes.size()));
        add.bind(4, now).run();
        *id = sqlite3_last_insert_rowid(db_);
        Statement(db_, "INSERT INTO run_files (id, bytes) VALUES (?, ?)")
            .bind(1, *id)
            .blob(2, bytes)
            .run();
        t.commit();
        return Submitted::added;
    }

    bool claim(const std::string &worker, int64_t now, int lease_seconds, int max_attempts,
               Claim *claim) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Transaction t(db_);
        const char *ready = "(state = 'waiting' OR (state = 'verifying' AND lease_until <= ?1))";
        Statement give_up(db_, (std::string("UPDATE runs SET state = 'refused', finished = ?1, "
                                            "worker = '', line = 'its verification never "
                                            "finished (' || attempts || ' attempts)' WHERE ") +
                                ready + " AND attempts >= ?2")
                                   .c_str());
        give_up.bind(1, now).bind(2, max_attempts).run();
        Statement next(db_, (std::string("SELECT id, attempts FROM runs WHERE ") + ready +
                             " ORDER BY id LIMIT 1")
                                .c_str());
        if (!next.bind(1, now).step()) {
            t.commit();
            return false;
        }
        claim->id = next.integer(0);
        claim->attempt = static_cast<int>(next.integer(1)) + 1;
        Statement take(db_,
                       "UPDATE runs SET state = 'verifying', worker = ?, lease_until = ?, "
                       "attempts = attempts + 1 WHERE id = ?");
        take.bind(1, worker).bind(2, now + lease_seconds).bind(3, claim->id).run();
        Statement file(db_, "SELECT bytes FROM run_files WHERE id = ?");
        file.bind(1, claim->id).step();
        claim->bytes = file.text(0);
        t.commit();
        return true;
    }

    bool finish(int64_t id, const std::string &worker, const Verdict &v, int64_t now) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Transaction t(db_);
        Statement write(db_,
                        "UPDATE runs SET state = ?, finished = ?, version = ?, total = ?, "
                        "levels = ?, line = ?, worker = '' "
                        "WHERE id = ? AND state = 'verifying' AND worker = ?");
        write.bind(1, state_name(v.state)).bind(2, now).bind(3, v.version);
        write.bind(4, static_cast<int64_t>(v.state == State::verified ? v.total : -1));
        write.bind(5, levels_text(v.levels)).bind(6, v.line).bind(7, id).bind(8, worker).run();
        const bool mine = sqlite3_changes(db_) == 1;
        if (mine && v.state == State::verified && v.total >= 0) PutOnBoard(id, v);
        t.commit();
        return mine;
    }

    bool release(int64_t id, const std::string &worker) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Transaction t(db_);
        Statement back(db_,
                       "UPDATE runs SET state = 'waiting', worker = '', lease_until = 0 "
                       "WHERE id = ? AND state = 'verifying' AND worker = ?");
        back.bind(1, id).bind(2, worker).run();
        const bool mine = sqlite3_changes(db_) == 1;
        t.commit();
        return mine;
    }

    std::vector<Run> best(const std::string &board, int limit) override {
        std::lock_guard<std::mutex> hold(read_mutex_);
        Statement s(reader_, (std::string("SELECT ") + kRunColumns +
                              " FROM runs WHERE state = 'verified' AND total >= 0 AND board = ? "
                              "ORDER BY total, submitted, id LIMIT ?")
                                 .c_str());
        s.bind(1, board).bind(2, static_cast<int64_t>(limit));
        std::vector<Run> runs;
        while (s.step()) runs.push_back(ReadRun(s));
        return runs;
    }

    bool run(int64_t id, Run *run) override {
        std::lock_guard<std::mutex> hold(read_mutex_);
        Statement s(reader_,
                    (std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = ?").c_str());
        if (!s.bind(1, id).step()) return false;
        *run = ReadRun(s);
        return true;
    }

    bool run_bytes(int64_t id, std::string *bytes) override {
        std::lock_guard<std::mutex> hold(read_mutex_);
        Statement s(reader_, "SELECT bytes FROM run_files WHERE id = ?");
        if (!s.bind(1, id).step()) return false;
        *bytes = s.text(0);
        return true;
    }

    int64_t count_waiting() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return Waiting();
    }

    std::vector<int64_t> reverify_list() override {
        std::lock_guard<std::mutex> hold(read_mutex_);
        Statement s(reader_,
                    "SELECT id FROM runs WHERE state IN ('verified', 'incompatible') ORDER BY id");
        std::vector<int64_t> ids;
        while (s.step()) ids.push_back(s.integer(0));
        return ids;
    }

    bool set_reverified(int64_t id, const Verdict &v, int64_t now) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Transaction t(db_);
        Statement write(db_,
                        "UPDATE runs SET state = ?, finished = ?, version = ?, total = ?, "
                        "levels = ?, line = ? "
                        "WHERE id = ? AND state IN ('verified', 'incompatible')");
        const bool verified = v.state == State::verified;
        write.bind(1, verified ? "verified" : "incompatible").bind(2, now).bind(3, v.version);
        write.bind(4, static_cast<int64_t>(verified ? v.total : -1));
        write.bind(5, verified ? levels_text(v.levels) : std::string()).bind(6, v.line);
        write.bind(7, id).run();
        const bool changed = sqlite3_changes(db_) == 1;
        t.commit();
        return changed;
    }

    Issued add_challenge(uint32_t counter, int64_t now, int64_t expires,
                         int max_unexpired) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Transaction t(db_);
        Statement(db_, "DELETE FROM challenges WHERE expires < ? AND run = 0")
            .bind(1, now - 86400)
            .run();
        Statement count(db_, "SELECT count(*) FROM challenges WHERE expires >= ?");
        count.bind(1, now).step();
        if (count.integer(0) >= max_unexpired) return Issued::full;
        // Within the window either way, the wrap at 2^32 included.
        const int64_t lo = int64_t{counter} - kChallengeWindowMs;
        const int64_t hi = int64_t{counter} + kChallengeWindowMs;
        Statement near(db_,
                       "SELECT 1 FROM challenges WHERE expires >= ? AND (counter BETWEEN ? AND ? "
                       "OR counter >= ? OR counter <= ?) LIMIT 1");
        near.bind(1, now).bind(2, lo).bind(3, hi).bind(4, lo + kWrap).bind(5, hi - kWrap);
        if (near.step()) return Issued::near;
        Statement(db_, "INSERT INTO challenges (counter, issued, expires) VALUES (?, ?, ?)")
            .bind(1, int64_t{counter})
            .bind(2, now)
            .bind(3, expires)
            .run();
        t.commit();
        return Issued::added;
    }

  private:
    // Puts a run that verified with a completed game on its board, inside finish's
    // transaction (which holds the database's write lock, so no other run can take its
    // challenge in between).
    void PutOnBoard(int64_t id, const Verdict &v) {
        Statement arrived(db_, "SELECT submitted FROM runs WHERE id = ?");
        arrived.bind(1, id).step();
        const int64_t submitted = arrived.integer(0);
        Challenge c;
        bool found = false;
        if (v.has_counter) {
            const int64_t lo = int64_t{v.first} - kChallengeWindowMs;
            Statement which(db_,
                            "SELECT id, counter, issued, expires, run FROM challenges "
                            "WHERE (counter BETWEEN ? AND ? OR counter >= ?) AND issued <= ? "
                            "ORDER BY issued DESC, id DESC LIMIT 1");
            which.bind(1, lo).bind(2, int64_t{v.first}).bind(3, lo + kWrap).bind(4, submitted);
            if ((found = which.step())) {
                c.id = which.integer(0);
                c.counter = static_cast<uint32_t>(which.integer(1));
                c.issued = which.integer(2);
                c.expires = which.integer(3);
                c.run = which.integer(4);
            }
        }
        const std::string reason = live_reason(found, c, id, submitted, v.length_ms);
        if (reason.empty()) {
            Statement(db_, "UPDATE challenges SET run = ? WHERE id = ? AND run = 0")
                .bind(1, id)
                .bind(2, c.id)
                .run();
        }
        Statement(db_, "UPDATE runs SET board = ?, live_reason = ? WHERE id = ?")
            .bind(1, reason.empty() ? kLive : kReplayVerified)
            .bind(2, reason)
            .bind(3, id)
            .run();
    }

    int64_t Waiting() {
        Statement s(db_, "SELECT count(*) FROM runs WHERE state IN ('waiting', 'verifying')");
        s.step();
        return s.integer(0);
    }

    sqlite3 *Open(int flags) {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(path_.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK) {
            std::string line = "sqlite: cannot open " + path_ + ": " +
                               (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
            sqlite3_close(db);
            throw StoreError(line);
        }
        sqlite3_busy_timeout(db, 5000);
        return db;
    }

    std::string path_;
    sqlite3 *db_ = nullptr;      // writes, and reads inside a write
    sqlite3 *reader_ = nullptr;  // reads alone
    std::mutex mutex_, read_mutex_;
};

}  // namespace

std::unique_ptr<Store> open_sqlite_store(const std::string &path) {
    auto store = std::make_unique<SqliteStore>(path);
    store->migrate();
    return store;
}

}  // namespace board
