// The running board: its HTTP front and its verification workers, over one Store.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/store.h"
#include "server/verify.h"

namespace board {

struct Limits {
    long max_body = 256 * 1024;   // bytes; the bot's whole game is 8.8 KB
    int max_waiting = 1000;       // runs queued; past that a submission gets 503
    double rate_per_minute = 10;  // submissions per address, refilled evenly
    int burst = 5;                // submissions an address may send at once
    int board_size = 100;         // entries on the page and, by default, in the JSON
    bool behind_proxy = false;    // the address is the last of X-Forwarded-For (behind a proxy)
    int challenge_ttl = 7200;     // seconds a challenge stays unexpired
    int max_challenges = 100000;  // unexpired challenges at most; past that 503
    // Seconds added to the board's clock (when it issues a challenge and when a run
    // arrives): 0 but in tests, which move the board's time on rather than wait.
    int64_t clock_offset = 0;
};

// Per-address token buckets for submissions. Its memory is bounded: addresses whose bucket
// is full again are forgotten when the table grows past `max_addresses`.
class RateLimit {
  public:
    RateLimit(double per_minute, int burst, size_t max_addresses = 100000)
        : per_second_(per_minute / 60), burst_(burst), max_(max_addresses) {}
    // True when `address` may submit at `now` (seconds, any origin); otherwise false with
    // the whole seconds until it may.
    bool take(const std::string &address, double now, int *retry_after);

  private:
    struct Bucket {
        double tokens, at;
    };
    std::mutex mutex_;
    std::map<std::string, Bucket> buckets_;
    double per_second_;
    int burst_;
    size_t max_;
};

// Wakes waiting workers as soon as this process queues a run; workers of other processes
// find it at their next look (WorkerConfig::poll_ms).
class Doorbell {
  public:
    void ring();
    uint64_t rings();
    // Returns at once when a ring came after `seen` (taken before looking at the queue, so
    // a run queued in between is not slept through), else after `ms`.
    void wait(uint64_t seen, int ms);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    uint64_t rings_ = 0;
};

struct WorkerConfig {
    VerifierConfig verifier;
    int workers = 2;
    int lease_seconds = 120;  // longer than the verifier's wall-clock limit
    int max_attempts = 3;
    int poll_ms = 500;
};

// Verification workers, threads of this process, each claiming from the store's queue.
class Workers {
  public:
    Workers(Store &store, const WorkerConfig &config, const std::string &version, Doorbell &bell);
    ~Workers();  // stops them; a run being verified is finished first
    Workers(const Workers &) = delete;
    Workers &operator=(const Workers &) = delete;

  private:
    void Loop(int index);
    Store &store_;
    WorkerConfig config_;
    std::string version_;
    Doorbell &bell_;
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// The HTTP front (libmicrohttpd). Holds no run of its own: every answer comes from the store.
class Front {
  public:
    Front(Store &store, const Limits &limits, Doorbell &bell, const std::string &site);
    ~Front();
    // Listens on address:port (port 0: any free one; port() says which). False with a line
    // on stderr when it cannot.
    bool start(const std::string &address, int port, int threads);
    int port() const { return port_; }

    struct Impl;

  private:
    Impl *impl_;
    int port_ = 0;
};

}  // namespace board
