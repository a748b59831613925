// Verification workers, the doorbell that wakes them, and the submissions' rate limit.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include "server/service.h"

namespace board {

bool RateLimit::take(const std::string &address, double now, int *retry_after) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (buckets_.size() >= max_) {
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            const bool full = it->second.tokens + (now - it->second.at) * per_second_ >= burst_;
            it = full ? buckets_.erase(it) : std::next(it);
        }
    }
    auto found = buckets_.find(address);
    if (found == buckets_.end())
        found = buckets_.emplace(address, Bucket{double(burst_), now}).first;
    Bucket &b = found->second;
    b.tokens = std::min<double>(burst_, b.tokens + (now - b.at) * per_second_);
    b.at = now;
    if (b.tokens >= 1) {
        b.tokens -= 1;
        return true;
    }
    *retry_after = static_cast<int>(std::ceil((1 - b.tokens) / per_second_));
    return false;
}

void Doorbell::ring() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ++rings_;
    }
    cv_.notify_all();
}

uint64_t Doorbell::rings() {
    std::lock_guard<std::mutex> hold(mutex_);
    return rings_;
}

void Doorbell::wait(uint64_t seen, int ms) {
    std::unique_lock<std::mutex> hold(mutex_);
    cv_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return rings_ != seen; });
}

Workers::Workers(Store &store, const WorkerConfig &config, const std::string &version,
                 Doorbell &bell)
    : store_(store), config_(config), version_(version), bell_(bell) {
    for (int i = 0; i < config.workers; ++i) threads_.emplace_back(&Workers::Loop, this, i);
}

Workers::~Workers() {
    stop_ = true;
    bell_.ring();
    for (std::thread &t : threads_) t.join();
}

namespace {

int64_t Seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void Workers::Loop(int index) {
    char host[64] = "?";
    gethostname(host, sizeof host - 1);
    const std::string name =
        std::string(host) + "/" + std::to_string(getpid()) + "/" + std::to_string(index);
    while (!stop_) {
        Claim claim;
        const uint64_t seen = bell_.rings();
        try {
            if (!store_.claim(name, Seconds(), config_.lease_seconds, config_.max_attempts,
                              &claim)) {
                bell_.wait(seen, config_.poll_ms);
                continue;
            }
            const Outcome o = verify_run(config_.verifier, version_, claim.bytes);
            if (o.machine) {
                std::fprintf(stderr, "vornackle-board: run %lld not verified: %s\n",
                             static_cast<long long>(claim.id), o.detail.c_str());
                store_.release(claim.id, name);
                bell_.wait(bell_.rings(), config_.poll_ms * 4);  // the machine may need a moment
                continue;
            }
            if (!store_.finish(claim.id, name, o.verdict, Seconds())) {
                std::fprintf(stderr, "vornackle-board: run %lld: the claim expired first\n",
                             static_cast<long long>(claim.id));
            }
        } catch (const StoreError &e) {
            // The claim, if any, expires and another worker (or this one) takes it again.
            std::fprintf(stderr, "vornackle-board: %s\n", e.what());
            bell_.wait(bell_.rings(), config_.poll_ms * 4);
        }
    }
}

}  // namespace board
