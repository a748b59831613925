// Recorded runs: what a whole game's file takes, and how fast a verification
// replays it. The bot's game (its first attempt at level 2 thrown) is
// recorded once on a scripted real clock, so that the counter steps every
// 1/64 s and the core's waits sleep as on a machine (nothing actually waits).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/core/run.h"
#include "tests/game/replay_bot.h"

namespace {

const std::string& RecordedGame() {
    static std::string path;
    if (!path.empty()) return path;
    path = "/tmp/vn_bench_run_" + std::to_string(getpid()) + ".vnr";
    static std::uint64_t now;
    int exitCode = -1;
    replay::Play(
        123457, 12000, replay::MakeBotController(2), 1,
        [] {
            now = 0;
            seam::UseRealClock(true);
            seam::UseScriptedClock([] { return now += 50; },
                                   [](std::uint64_t until) { now = until > now ? until : now; },
                                   [](int milliseconds) { now += milliseconds * 1000u; });
            runs::Record(path.c_str(), "bench");
        },
        &exitCode);
    runs::Finish(exitCode);
    return path;
}

// The whole game verified: replayed headless and unpaced, each level's end
// checked against its recorded picture.
void BM_VerifyGame(benchmark::State& state) {
    const std::string& path = RecordedGame();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    const long bytes = std::ftell(file);
    std::fclose(file);
    // The verification's lines are not what is measured.
    std::fflush(stdout);
    const int kept = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    long pictures = 0;
    bool matched = true;
    for (auto _ : state) {
        int exitCode = -1;
        const auto frames = replay::Play(
            1, 20000, {}, 1, [&] { runs::Replay(path.c_str(), true); }, &exitCode);
        matched = matched && runs::Finish(exitCode) == 0;
        pictures += static_cast<long>(frames.size());
    }
    std::fflush(stdout);
    dup2(kept, 1);
    close(kept);
    close(null);
    if (!matched) state.SkipWithError("the replay did not match its recording");
    state.counters["file bytes"] = static_cast<double>(bytes);
    state.counters["pictures/s"] =
        benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VerifyGame)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
