// The board's storage: every run ever submitted, its verification queue and its outcome.
//
// One interface, two databases: SQLite (one file, the default; store_sqlite.cpp) and
// PostgreSQL (a board shared by several machines; store_pg.cpp). open_store() picks one from
// the --db option. Everything the service knows lives here: the HTTP front and the
// verification workers keep nothing of their own, so any number of them may run against one
// database, and any of them may be killed at any moment without losing a run.
//
// Times are whole seconds since 1970 (UTC), always passed in by the caller, never read from
// the database's clock: the tests can then move time on at will, and workers on several
// machines share a database as long as their clocks agree to within a few seconds (NTP).
//
// A Store may be called from several threads at once; an implementation may serialise the
// calls. Every method throws StoreError when the database fails (gone, full, locked past its
// timeout); the caller answers 503 or retries later, and nothing half-done is kept (every
// method is one transaction).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace board {

struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Where a run is. waiting: queued, or claimed by a worker whose lease has not expired yet
// (verifying shows which). verified: the verifier replayed it and it matched (ranked when it
// holds a completed game). refused: the verifier refused it (its line says why), or the
// verification itself died or ran past its limits. incompatible: it once verified (or was
// recorded for another sheet or format), but the program that verifies now no longer
// reproduces it: kept and served, never ranked.
enum class State { waiting, verifying, verified, refused, incompatible };

const char *state_name(State s);  // "waiting", "verifying", ... as the JSON says them
bool state_from_name(const std::string &name, State *s);

// What a verification found. For verified: the program version that verified it, the
// fastest completed game's total and its five level times (total < 0 and no levels when the
// run holds no completed game: verified but not ranked). For refused and incompatible: the
// verifier's last line on stderr (or the service's own line when the child died).
struct Verdict {
    State state = State::refused;  // verified, refused or incompatible
    std::string version;           // the verifying program's version
    int total = -1;                // seconds, fastest completed game; -1 none
    std::vector<int> levels;       // that game's five level times, in seconds
    std::string line;              // why, when not verified
    // Where the run's counter started (its first reading) and the milliseconds it moved on
    // from there to its last reading: what decides whether it is live (has_counter false
    // when the verifier did not say).
    bool has_counter = false;
    uint32_t first = 0;
    uint64_t length_ms = 0;
};

// The two boards a ranked run lands on.
constexpr const char *kLive = "live";
constexpr const char *kReplayVerified = "replay-verified";
// Counters within this many milliseconds after a challenge's are its runs' first readings.
constexpr uint32_t kChallengeWindowMs = 10000;

// A counter start the board handed out: a run whose counter's first reading lies in
// [counter, counter + kChallengeWindowMs] (mod 2^32) started from it.
struct Challenge {
    int64_t id = 0;
    uint32_t counter = 0;
    int64_t issued = 0, expires = 0;
    int64_t run = 0;  // the run that took it, 0 while none has
};

// Why a verified run with a completed game is not live, in the order the board asks: ""
// when it is live. `found` is false when no challenge's window holds its first reading.
std::string live_reason(bool found, const Challenge &c, int64_t id, int64_t arrived,
                        uint64_t length_ms);

enum class Issued { added, near, full };

// One run as the board shows it. The bytes are fetched apart (run_bytes).
struct Run {
    int64_t id = 0;
    std::string initials;   // three of A-Z, 0-9
    std::string hash;       // SHA-256 of the file's bytes, lowercase hex
    int64_t size = 0;       // bytes
    int64_t submitted = 0;  // when it was submitted
    int64_t finished = 0;   // when its verdict was written; 0 while waiting
    State state = State::waiting;
    Verdict verdict;          // meaningful once state is verified, refused or incompatible
    std::string board;        // kLive or kReplayVerified once ranked, else empty
    std::string live_reason;  // why it is not live, on the replay-verified board
    int attempts = 0;         // claims so far (a run that kills every worker is refused at last)
};

// A claim a worker holds: the run to verify and its bytes.
struct Claim {
    int64_t id = 0;
    std::string bytes;
    int attempt = 0;  // 1 for the first claim of this run
};

enum class Submitted { added, duplicate, queue_full };

class Store {
  public:
    virtual ~Store() = default;

    // Brings the schema up to date. Each migration is numbered and applied once, in order,
    // in its own transaction, with the number recorded in the same transaction (table
    // schema_version); a database from a later program (a number above ours) is refused with
    // StoreError rather than written to. Called by open_store, so every program starts on the
    // current schema; safe when several start at once.
    virtual void migrate() = 0;

    // Adds a run to the queue. The run's identity is the SHA-256 of its bytes (hash): bytes
    // already stored give `duplicate` and the stored run's id, whatever its state, and are
    // never queued or verified again (the first initials keep it). A new run is refused with
    // queue_full, and nothing stored, when `max_waiting` runs already wait (waiting or
    // verifying). `id` is set for added and duplicate.
    virtual Submitted submit(const std::string &initials, const std::string &hash,
                             const std::string &bytes, int64_t now, int max_waiting,
                             int64_t *id) = 0;

    // Gives a worker the oldest run that waits, or whose claim's lease ran out (its worker
    // died or hangs), and leases it to `worker` until now + lease_seconds. Two workers never
    // hold the same run at once: PostgreSQL picks the row FOR UPDATE SKIP LOCKED; SQLite
    // takes the write lock for the transaction. A run already claimed `max_attempts` times
    // (its workers died, hung, or gave it back) is not handed out again: it is refused in
    // the same transaction with the line "its verification never finished (N attempts)", so
    // a run that kills its verifier cannot stall the queue. Returns false when nothing
    // waits.
    virtual bool claim(const std::string &worker, int64_t now, int lease_seconds, int max_attempts,
                       Claim *claim) = 0;

    // Writes a verdict for a run `worker` holds. Returns false, and changes nothing, when the
    // claim is no longer this worker's (its lease ran out and another worker took the run, or
    // finished it): every run gets exactly one verdict from its queue. A verified run with a
    // completed game is put on a board in the same transaction: live when live_reason()
    // finds nothing against it, and then its challenge is taken by it, so that two workers
    // finishing two runs of one challenge at once make one of them live, never both.
    virtual bool finish(int64_t id, const std::string &worker, const Verdict &verdict,
                        int64_t now) = 0;

    // Gives a claim back unjudged (the machine could not verify: not the run's fault). The
    // run waits again; its attempts still count. False when the claim is not this worker's.
    virtual bool release(int64_t id, const std::string &worker) = 0;

    // One board (kLive or kReplayVerified): its best `limit` verified runs, by total (the
    // fastest completed game of each run), then by submission time, then id. Each run
    // appears at most once.
    virtual std::vector<Run> best(const std::string &board, int limit) = 0;

    // Stores a challenge for `counter`, issued at `now` until `expires`: `near` (nothing
    // stored) when an unexpired one lies within kChallengeWindowMs of it either way, `full`
    // when `max_unexpired` are unexpired already. Untaken challenges that expired a day
    // before `now` are forgotten on the way.
    virtual Issued add_challenge(uint32_t counter, int64_t now, int64_t expires,
                                 int max_unexpired) = 0;

    // One run's status. False when no run has that id.
    virtual bool run(int64_t id, Run *run) = 0;

    // One run's file, as submitted. False when no run has that id.
    virtual bool run_bytes(int64_t id, std::string *bytes) = 0;

    // Runs waiting or being verified: the queue's length, which the front caps.
    virtual int64_t count_waiting() = 0;

    // The runs a new program must replay again: those verified or incompatible, oldest
    // first. Refused runs stay refused; waiting runs meet the new program in the queue.
    virtual std::vector<int64_t> reverify_list() = 0;

    // Writes reverify's verdict on a verified or incompatible run: verified (with the new
    // version and times) or incompatible (with the verifier's line). Other states are left
    // alone (false).
    virtual bool set_reverified(int64_t id, const Verdict &verdict, int64_t now) = 0;
};

// A verdict's level times as the stores keep them: "13,45,15,28,21".
std::string levels_text(const std::vector<int> &levels);
std::vector<int> levels_from_text(const std::string &text);

// Opens the store that `database` names and migrates it:
//   sqlite:PATH              a SQLite file (made when missing)
//   postgresql:CONNINFO      a PostgreSQL database (libpq's conninfo string or URI)
// Throws StoreError (with a line for the operator) when it cannot.
std::unique_ptr<Store> open_store(const std::string &database);

// The two implementations, which open_store calls (store.cpp); each returns a migrated store.
std::unique_ptr<Store> open_sqlite_store(const std::string &path);        // store_sqlite.cpp
std::unique_ptr<Store> open_postgres_store(const std::string &conninfo);  // store_pg.cpp

}  // namespace board
