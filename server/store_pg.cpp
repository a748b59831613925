// The board's store on PostgreSQL, through libpq: the database for a board that several
// machines share (an HTTP front here, verification workers there).
//
// One table of runs holds the queue, the verdicts and the files. The queue needs no other
// coordination than the rows themselves: a worker claims the oldest waiting run with
// SELECT ... FOR UPDATE SKIP LOCKED, so two workers claiming at once take two different rows
// without waiting on each other, and writes its name and a lease on it. A verdict is written
// only by the worker named on the row (finish's WHERE), so a worker whose lease ran out, and
// whose run another worker took, cannot write a second verdict when it wakes up.
//
// Connections: a few, made as they are needed and shared by the threads that call the store;
// one that breaks is closed and made anew on the next call. Every statement is bounded by the
// server's statement_timeout, so a locked or stalled database answers StoreError, not never.
#include <libpq-fe.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "server/store.h"

namespace board {
namespace {

// Connections opened at most at once; further callers wait for one to be free.
constexpr size_t kMaxConnections = 8;
// Seconds libpq waits for the server to answer a connection, unless the conninfo says.
constexpr const char *kConnectTimeout = "10";
// Any statement running longer is cancelled by the server (and the call throws).
constexpr const char *kSessionSettings =
    "SET statement_timeout = '15s'; SET lock_timeout = '10s';"
    " SET idle_in_transaction_session_timeout = '60s'; SET client_min_messages = warning";
// pg_advisory_xact_lock keys: migrations run one at a time across every program that starts
// on the database; submissions one at a time, so that the cap on waiting runs holds exactly.
constexpr const char *kMigrationLock = "SELECT pg_advisory_xact_lock(7623401)";
constexpr const char *kSubmitLock = "SELECT pg_advisory_xact_lock(7623402)";
// Challenges are added one at a time, so that no two unexpired ones come near each other.
constexpr const char *kChallengeLock = "SELECT pg_advisory_xact_lock(7623403)";
// 2^32: counters wrap there.
constexpr int64_t kWrap = int64_t{1} << 32;

// The schema, one step per version; a step is never edited once released, only followed.
const char *const kMigrations[] = {
    // 1: runs, their queue and their verdicts. levels holds the fastest completed game's
    // five level times ("13,45,15,28,21"); total is -1 while a run has none (or no verdict).
    // The file stays in the row: PostgreSQL keeps a value that large apart by itself, so
    // reading the board never reads the files.
    "CREATE TABLE runs ("
    "  id BIGSERIAL PRIMARY KEY,"
    "  initials TEXT NOT NULL,"
    "  hash TEXT NOT NULL UNIQUE,"
    "  size BIGINT NOT NULL,"
    "  bytes BYTEA NOT NULL,"
    "  submitted BIGINT NOT NULL,"
    "  finished BIGINT NOT NULL DEFAULT 0,"
    "  state TEXT NOT NULL DEFAULT 'waiting' CHECK (state IN"
    "    ('waiting', 'verifying', 'verified', 'refused', 'incompatible')),"
    "  worker TEXT,"
    "  lease_until BIGINT NOT NULL DEFAULT 0,"
    "  attempts INTEGER NOT NULL DEFAULT 0,"
    "  version TEXT NOT NULL DEFAULT '',"
    "  total INTEGER NOT NULL DEFAULT -1,"
    "  levels TEXT NOT NULL DEFAULT '',"
    "  line TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX runs_queue ON runs (id) WHERE state IN ('waiting', 'verifying');"
    "CREATE INDEX runs_board ON runs (total, submitted, id)"
    "  WHERE state = 'verified' AND total >= 0;",
    // 2: two boards, live and replay-verified, and the challenges live runs start from. The
    // runs ranked before are replay-verified: no challenge started them.
    "ALTER TABLE runs ADD COLUMN board TEXT NOT NULL DEFAULT '',"
    "  ADD COLUMN live_reason TEXT NOT NULL DEFAULT '';"
    "UPDATE runs SET board = 'replay-verified',"
    "  live_reason = 'its counter starts from no challenge of this board'"
    "  WHERE state = 'verified' AND total >= 0;"
    "DROP INDEX runs_board;"
    "CREATE INDEX runs_board ON runs (board, total, submitted, id)"
    "  WHERE state = 'verified' AND total >= 0;"
    "CREATE TABLE challenges ("
    "  id BIGSERIAL PRIMARY KEY,"
    "  counter BIGINT NOT NULL,"
    "  issued BIGINT NOT NULL,"
    "  expires BIGINT NOT NULL,"
    "  run BIGINT NOT NULL DEFAULT 0);"
    "CREATE INDEX challenges_counter ON challenges (counter);"
    "CREATE INDEX challenges_expires ON challenges (expires);",
};
constexpr int kLatest = sizeof kMigrations / sizeof kMigrations[0];

// A result that clears itself.
struct Result {
    PGresult *r = nullptr;
    explicit Result(PGresult *result) : r(result) {}
    Result(Result &&other) noexcept : r(other.r) { other.r = nullptr; }
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;
    ~Result() { PQclear(r); }
    int rows() const { return PQntuples(r); }
    bool null(int row, int col) const { return PQgetisnull(r, row, col) != 0; }
    std::string text(int row, int col) const {
        return std::string(PQgetvalue(r, row, col), PQgetlength(r, row, col));
    }
    int64_t number(int row, int col) const {
        return std::strtoll(PQgetvalue(r, row, col), nullptr, 10);
    }
};

// Text parameters for PQexecParams; a string's bytes may go as binary (a run's file).
struct Params {
    std::vector<std::string> values;
    std::vector<int> formats;
    Params &add(const std::string &v, bool binary = false) {
        values.push_back(v);
        formats.push_back(binary ? 1 : 0);
        return *this;
    }
    Params &add(int64_t v) { return add(std::to_string(v)); }
};

void ignore_notice(void *, const char *) {}

PGconn *connect(const std::string &conninfo) {
    // The conninfo comes last, so that what it says overrides our default timeout.
    const char *keys[] = {"connect_timeout", "dbname", nullptr};
    const char *values[] = {kConnectTimeout, conninfo.c_str(), nullptr};
    PGconn *conn = PQconnectdbParams(keys, values, 1);
    if (conn == nullptr) throw StoreError("PostgreSQL: out of memory");
    if (PQstatus(conn) != CONNECTION_OK) {
        std::string why = PQerrorMessage(conn);
        PQfinish(conn);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        throw StoreError("PostgreSQL: cannot connect: " + why);
    }
    PQsetNoticeProcessor(conn, ignore_notice, nullptr);
    PGresult *r = PQexec(conn, kSessionSettings);
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!ok) {
        std::string why = PQerrorMessage(conn);
        PQfinish(conn);
        throw StoreError("PostgreSQL: " + why);
    }
    return conn;
}

class PostgresStore;

// One connection taken from the store's pool for one method's work. Statements that fail
// throw; a transaction begun and not committed is rolled back when the session ends, and a
// connection found broken is closed rather than given back.
class Session {
  public:
    explicit Session(PostgresStore &store);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Runs one statement. A connection that died while idle in the pool (the server
    // restarted, a proxy dropped it) is made anew and the statement sent again, but only
    // for the session's first statement: nothing of this session can have happened yet.
    Result exec(const std::string &sql, const Params &params = Params(),
                bool binary_result = false);
    int64_t changed(const Result &r) { return std::strtoll(PQcmdTuples(r.r), nullptr, 10); }
    void begin() {
        exec("BEGIN");
        open_ = true;
    }
    void commit() {
        exec("COMMIT");
        open_ = false;
    }

  private:
    PostgresStore &store_;
    PGconn *conn_;
    bool open_ = false;
    bool fresh_ = true;
};

class PostgresStore final : public Store {
  public:
    explicit PostgresStore(std::string conninfo) : conninfo_(std::move(conninfo)) {
        // The first connection is made now, so that a wrong conninfo fails at start.
        idle_.push_back(connect(conninfo_));
        opened_ = 1;
    }
    ~PostgresStore() override {
        for (PGconn *c : idle_) PQfinish(c);
    }

    PGconn *take() {
        std::unique_lock<std::mutex> lock(mutex_);
        free_.wait(lock, [&] { return !idle_.empty() || opened_ < kMaxConnections; });
        if (!idle_.empty()) {
            PGconn *c = idle_.back();
            idle_.pop_back();
            return c;
        }
        opened_++;
        lock.unlock();
        try {
            return connect(conninfo_);
        } catch (...) {
            give_back(nullptr);
            throw;
        }
    }
    // nullptr: the connection was closed (broken); its place is free for a new one.
    void give_back(PGconn *c) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (c != nullptr) {
                idle_.push_back(c);
            } else {
                opened_--;
            }
        }
        free_.notify_one();
    }

    void migrate() override {
        for (int step = 1; step <= kLatest; step++) {
            Session s(*this);
            s.begin();
            s.exec(kMigrationLock);
            s.exec(
                "CREATE TABLE IF NOT EXISTS schema_version ("
                " version INTEGER PRIMARY KEY, applied BIGINT NOT NULL)");
            Result v = s.exec("SELECT coalesce(max(version), 0) FROM schema_version");
            int64_t at = v.number(0, 0);
            if (at > kLatest) {
                throw StoreError("PostgreSQL: the database's schema is version " +
                                 std::to_string(at) + ", newer than this program's " +
                                 std::to_string(kLatest) + "; run the newer program");
            }
            if (at < step) {
                s.exec(kMigrations[step - 1]);
                s.exec(
                    "INSERT INTO schema_version (version, applied)"
                    " VALUES ($1, extract(epoch FROM now())::bigint)",
                    Params().add(step));
            }
            s.commit();
        }
    }

    Submitted submit(const std::string &initials, const std::string &hash, const std::string &bytes,
                     int64_t now, int max_waiting, int64_t *id) override {
        Session s(*this);
        s.begin();
        s.exec(kSubmitLock);
        Result known = s.exec("SELECT id FROM runs WHERE hash = $1", Params().add(hash));
        if (known.rows() == 1) {
            *id = known.number(0, 0);
            s.commit();
            return Submitted::duplicate;
        }
        Result waiting =
            s.exec("SELECT count(*) FROM runs WHERE state IN ('waiting', 'verifying')");
        if (waiting.number(0, 0) >= max_waiting) {
            s.commit();
            return Submitted::queue_full;
        }
        Result added = s.exec(
            "INSERT INTO runs (initials, hash, size, bytes, submitted)"
            " VALUES ($1, $2, $3, $4, $5) RETURNING id",
            Params()
                .add(initials)
                .add(hash)
                .add(static_cast<int64_t>(bytes.size()))
                .add(bytes, true)
                .add(now));
        *id = added.number(0, 0);
        s.commit();
        return Submitted::added;
    }

    bool claim(const std::string &worker, int64_t now, int lease_seconds, int max_attempts,
               Claim *claim) override {
        Session s(*this);
        s.begin();
        // Each pass takes the oldest run free to claim; one already claimed max_attempts
        // times is refused here and the next is looked at. The loop ends: each pass that
        // does not return refuses a row.
        for (;;) {
            Result next = s.exec(
                "SELECT id, attempts FROM runs"
                " WHERE state = 'waiting' OR (state = 'verifying' AND lease_until <= $1)"
                " ORDER BY id LIMIT 1 FOR UPDATE SKIP LOCKED",
                Params().add(now));
            if (next.rows() == 0) {
                s.commit();
                return false;
            }
            int64_t id = next.number(0, 0);
            if (next.number(0, 1) >= max_attempts) {
                s.exec(
                    "UPDATE runs SET state = 'refused', finished = $2, worker = NULL,"
                    " lease_until = 0, line = 'its verification never finished (' ||"
                    " attempts || ' attempts)' WHERE id = $1",
                    Params().add(id).add(now));
                continue;
            }
            Result taken = s.exec(
                "UPDATE runs SET state = 'verifying', worker = $2, lease_until = $3,"
                " attempts = attempts + 1 WHERE id = $1 RETURNING bytes, attempts::text",
                Params().add(id).add(worker).add(now + lease_seconds), true);
            claim->id = id;
            claim->bytes = taken.text(0, 0);
            claim->attempt = std::atoi(taken.text(0, 1).c_str());
            s.commit();
            return true;
        }
    }

    bool finish(int64_t id, const std::string &worker, const Verdict &verdict,
                int64_t now) override {
        Session s(*this);
        s.begin();
        Result r = s.exec(
            "UPDATE runs SET state = $3, version = $4, total = $5, levels = $6,"
            " line = $7, finished = $8, worker = NULL, lease_until = 0"
            " WHERE id = $1 AND state = 'verifying' AND worker = $2 RETURNING submitted",
            verdict_params(Params().add(id).add(worker), verdict).add(now));
        const bool mine = r.rows() == 1;
        if (mine && verdict.state == State::verified && verdict.total >= 0) {
            put_on_board(s, id, r.number(0, 0), verdict);
        }
        s.commit();
        return mine;
    }

    Issued add_challenge(uint32_t counter, int64_t now, int64_t expires,
                         int max_unexpired) override {
        Session s(*this);
        s.begin();
        s.exec(kChallengeLock);
        s.exec("DELETE FROM challenges WHERE expires < $1 AND run = 0", Params().add(now - 86400));
        Result count =
            s.exec("SELECT count(*) FROM challenges WHERE expires >= $1", Params().add(now));
        if (count.number(0, 0) >= max_unexpired) {
            s.commit();
            return Issued::full;
        }
        // Within the window either way, the wrap at 2^32 included.
        const int64_t lo = int64_t{counter} - kChallengeWindowMs;
        const int64_t hi = int64_t{counter} + kChallengeWindowMs;
        Result near = s.exec(
            "SELECT 1 FROM challenges WHERE expires >= $1 AND (counter BETWEEN $2 AND $3"
            " OR counter >= $4 OR counter <= $5) LIMIT 1",
            Params().add(now).add(lo).add(hi).add(lo + kWrap).add(hi - kWrap));
        if (near.rows() > 0) {
            s.commit();
            return Issued::near;
        }
        s.exec("INSERT INTO challenges (counter, issued, expires) VALUES ($1, $2, $3)",
               Params().add(int64_t{counter}).add(now).add(expires));
        s.commit();
        return Issued::added;
    }

    bool release(int64_t id, const std::string &worker) override {
        return update_one(
            "UPDATE runs SET state = 'waiting', worker = NULL, lease_until = 0"
            " WHERE id = $1 AND state = 'verifying' AND worker = $2",
            Params().add(id).add(worker));
    }

    std::vector<Run> best(const std::string &board, int limit) override {
        Session s(*this);
        Result r = s.exec(std::string(kRunColumns) +
                              " WHERE state = 'verified' AND total >= 0 AND board = $1"
                              " ORDER BY total, submitted, id LIMIT $2",
                          Params().add(board).add(static_cast<int64_t>(limit < 0 ? 0 : limit)));
        std::vector<Run> runs(r.rows());
        for (int i = 0; i < r.rows(); i++) read_run(r, i, &runs[i]);
        return runs;
    }

    bool run(int64_t id, Run *run) override {
        Session s(*this);
        Result r = s.exec(std::string(kRunColumns) + " WHERE id = $1", Params().add(id));
        if (r.rows() != 1) return false;
        read_run(r, 0, run);
        return true;
    }

    bool run_bytes(int64_t id, std::string *bytes) override {
        Session s(*this);
        Result r = s.exec("SELECT bytes FROM runs WHERE id = $1", Params().add(id), true);
        if (r.rows() != 1) return false;
        *bytes = r.text(0, 0);
        return true;
    }

    int64_t count_waiting() override {
        Session s(*this);
        return s.exec("SELECT count(*) FROM runs WHERE state IN ('waiting', 'verifying')")
            .number(0, 0);
    }

    std::vector<int64_t> reverify_list() override {
        Session s(*this);
        Result r =
            s.exec("SELECT id FROM runs WHERE state IN ('verified', 'incompatible') ORDER BY id");
        std::vector<int64_t> ids(r.rows());
        for (int i = 0; i < r.rows(); i++) ids[i] = r.number(i, 0);
        return ids;
    }

    bool set_reverified(int64_t id, const Verdict &verdict, int64_t now) override {
        // Anything but a match makes the run incompatible.
        Verdict v = verdict;
        if (v.state != State::verified) v.state = State::incompatible;
        return update_one(
            "UPDATE runs SET state = $2, version = $3, total = $4, levels = $5,"
            " line = $6, finished = $7"
            " WHERE id = $1 AND state IN ('verified', 'incompatible')",
            verdict_params(Params().add(id), v).add(now));
    }

  private:
    // Puts a run that verified with a completed game on its board, in finish's transaction.
    // Its challenge's row is locked first (FOR UPDATE), so that of two workers finishing two
    // runs of one challenge the second waits and then sees the challenge taken.
    void put_on_board(Session &s, int64_t id, int64_t submitted, const Verdict &v) {
        Challenge c;
        bool found = false;
        if (v.has_counter) {
            const int64_t lo = int64_t{v.first} - kChallengeWindowMs;
            Result which = s.exec(
                "SELECT id, counter, issued, expires, run FROM challenges"
                " WHERE (counter BETWEEN $1 AND $2 OR counter >= $3) AND issued <= $4"
                " ORDER BY issued DESC, id DESC LIMIT 1 FOR UPDATE",
                Params().add(lo).add(int64_t{v.first}).add(lo + kWrap).add(submitted));
            if ((found = which.rows() == 1)) {
                c.id = which.number(0, 0);
                c.counter = static_cast<uint32_t>(which.number(0, 1));
                c.issued = which.number(0, 2);
                c.expires = which.number(0, 3);
                c.run = which.number(0, 4);
            }
        }
        std::string reason = live_reason(found, c, id, submitted, v.length_ms);
        if (reason.empty()) {
            Result taken =
                s.exec("UPDATE challenges SET run = $1 WHERE id = $2 AND run = 0 RETURNING run",
                       Params().add(id).add(c.id));
            if (taken.rows() == 0) {
                // Taken since it was read (the row lock above makes this not happen; should
                // it, the run is still never a second live run of one challenge).
                Result by = s.exec("SELECT run FROM challenges WHERE id = $1", Params().add(c.id));
                reason = "its challenge was already taken by run " + by.text(0, 0);
            }
        }
        s.exec("UPDATE runs SET board = $2, live_reason = $3 WHERE id = $1",
               Params().add(id).add(reason.empty() ? kLive : kReplayVerified).add(reason));
    }

    // One row changed in a transaction of its own, which begins with BEGIN so that a
    // session's retry on a dead connection never sends a write twice.
    bool update_one(const std::string &sql, const Params &params) {
        Session s(*this);
        s.begin();
        Result r = s.exec(sql, params);
        const bool one = s.changed(r) == 1;
        s.commit();
        return one;
    }

    static constexpr const char *kRunColumns =
        "SELECT id, initials, hash, size, submitted, finished, state, attempts, version,"
        " total, levels, line, board, live_reason FROM runs";

    // A total and level times are kept only for a run that verified.
    static Params &verdict_params(Params &p, const Verdict &v) {
        const bool verified = v.state == State::verified;
        return p.add(state_name(v.state))
            .add(v.version)
            .add(static_cast<int64_t>(verified ? v.total : -1))
            .add(verified ? levels_text(v.levels) : std::string())
            .add(v.line);
    }

    static void read_run(const Result &r, int i, Run *run) {
        run->id = r.number(i, 0);
        run->initials = r.text(i, 1);
        run->hash = r.text(i, 2);
        run->size = r.number(i, 3);
        run->submitted = r.number(i, 4);
        run->finished = r.number(i, 5);
        if (!state_from_name(r.text(i, 6), &run->state)) {
            throw StoreError("PostgreSQL: run " + r.text(i, 0) + " is in an unknown state");
        }
        run->attempts = static_cast<int>(r.number(i, 7));
        run->verdict = Verdict();
        run->verdict.state = run->state;
        run->verdict.version = r.text(i, 8);
        run->verdict.total = static_cast<int>(r.number(i, 9));
        run->verdict.levels = levels_from_text(r.text(i, 10));
        run->verdict.line = r.text(i, 11);
        run->board = r.text(i, 12);
        run->live_reason = r.text(i, 13);
    }

    std::string conninfo_;
    std::mutex mutex_;
    std::condition_variable free_;
    std::vector<PGconn *> idle_;
    size_t opened_ = 0;

    friend class Session;
};

Session::Session(PostgresStore &store) : store_(store), conn_(store.take()) {}

Result Session::exec(const std::string &sql, const Params &params, bool binary_result) {
    std::vector<const char *> values;
    std::vector<int> lengths;
    for (const std::string &v : params.values) {
        values.push_back(v.data());
        lengths.push_back(static_cast<int>(v.size()));
    }
    for (;;) {
        // Without parameters, PQexec: it takes several statements (a migration's).
        Result r(values.empty() && !binary_result
                     ? PQexec(conn_, sql.c_str())
                     : PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                    values.data(), lengths.data(), params.formats.data(),
                                    binary_result ? 1 : 0));
        ExecStatusType status = PQresultStatus(r.r);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            fresh_ = false;
            return r;
        }
        if (fresh_ && PQstatus(conn_) == CONNECTION_BAD) {
            fresh_ = false;
            PQfinish(conn_);
            conn_ = nullptr;
            conn_ = connect(store_.conninfo_);
            continue;
        }
        std::string why = PQerrorMessage(conn_);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        throw StoreError("PostgreSQL: " + why);
    }
}

Session::~Session() {
    if (conn_ == nullptr) {  // it died and could not be made anew
        store_.give_back(nullptr);
        return;
    }
    if (open_ && PQstatus(conn_) == CONNECTION_OK) {
        PGresult *r = PQexec(conn_, "ROLLBACK");
        PQclear(r);
    }
    // A connection that broke, or whose rollback could not leave it idle, is not reused.
    if (PQstatus(conn_) != CONNECTION_OK || PQtransactionStatus(conn_) != PQTRANS_IDLE) {
        PQfinish(conn_);
        store_.give_back(nullptr);
    } else {
        store_.give_back(conn_);
    }
}

}  // namespace

std::unique_ptr<Store> open_postgres_store(const std::string &conninfo) {
    auto store = std::make_unique<PostgresStore>(conninfo);
    store->migrate();
    return store;
}

}  // namespace board
