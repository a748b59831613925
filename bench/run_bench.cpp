// Recorded runs: what a whole game's file takes, and how fast a verification
// replays it. The bot's game (its first attempt at level 2 thrown) is
// recorded once on a scripted real clock, so that the counter steps every
// 1/64 s and the core's waits sleep as on a machine (nothing actually waits).
#include <benchmark/benchmark.h>
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

// The whole game verified by the program itself (`vornackle --verify`, on
// SDL's dummy drivers): replayed unpaced, each level's end checked against
// its recorded picture. The figure is the program's own line, which times
// the replay from the file's loading to the game's end.
void BM_VerifyGame(benchmark::State& state) {
    const std::string& path = RecordedGame();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    const long bytes = std::ftell(file);
    std::fclose(file);
    const std::string command = "SDL_VIDEODRIVER=dummy '" VN_PROGRAM "' --verify '" + path + "'";
    double pictures = 0, seconds = 0;
    for (auto _ : state) {
        std::FILE* out = popen(command.c_str(), "r");
        char line[256];
        long n = 0;
        double s = 0;
        while (std::fgets(line, sizeof line, out) != nullptr) {
            std::sscanf(line, "%ld pictures in %lf s", &n, &s);
        }
        if (pclose(out) != 0) state.SkipWithError("the replay did not match its recording");
        pictures += static_cast<double>(n);
        seconds += s;
    }
    std::remove(path.c_str());
    state.counters["file bytes"] = static_cast<double>(bytes);
    state.counters["pictures"] = pictures / static_cast<double>(state.iterations());
    state.counters["pictures/s"] = seconds > 0 ? pictures / seconds : 0;
}
BENCHMARK(BM_VerifyGame)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
