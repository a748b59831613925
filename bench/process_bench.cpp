// The figures that need the game as a process of its own: time from process
// start to the first presented picture, peak resident memory over a whole
// game, resident memory over a long run, and frame pacing on the real clock.
// Each runs vn_bench_probe (game_probe.cpp) and reads what it reports.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

long long MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct ProbeRun {
    bool ok = false;
    std::string output;
    long peakResidentKiB = 0;
    double cpuSeconds = 0;  // user + system time of the probe
    long long spawnedAtNs = 0;
};

// Runs the probe with `args`, collecting its standard output and its peak
// resident memory.
ProbeRun RunProbe(const std::vector<std::string>& args) {
    ProbeRun run;
    std::vector<char*> argv;
    std::string program = VN_PROBE;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    run.spawnedAtNs = MonotonicNs();
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        return run;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        run.output.append(buffer, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return run;
    run.peakResidentKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The number after `key` on a line "key value" of the probe's output.
double Field(const std::string& output, const std::string& key) {
    std::istringstream lines(output);
    std::string name;
    double value = 0;
    while (lines >> name >> value) {
        if (name == key) return value;
    }
    return -1;
}

// Process start to the first presented picture: the probe prints the clock
// at its first flip and stops there. The CPU time it took is reported too; on
// a busy machine the wall time is mostly waiting for a core.
void BM_StartUpToFirstFrame(benchmark::State& state) {
    double cpuSeconds = 0;
    for (auto _ : state) {
        ProbeRun run = RunProbe({"first-frame"});
        if (!run.ok) {
            state.SkipWithError("the probe did not present a picture");
            return;
        }
        const long long shownAtNs = std::atoll(run.output.c_str());
        state.SetIterationTime(static_cast<double>(shownAtNs - run.spawnedAtNs) / 1e9);
        cpuSeconds += run.cpuSeconds;
    }
    state.counters["cpu_ms"] =
        benchmark::Counter(cpuSeconds * 1000.0, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_StartUpToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond);

// Peak resident memory of a whole game of five levels played by the bot.
void BM_PeakMemoryOneGame(benchmark::State& state) {
    for (auto _ : state) {
        ProbeRun run = RunProbe({"games", "1"});
        if (!run.ok) {
            state.SkipWithError("the probe did not finish its game");
            return;
        }
        state.counters["peak_MiB"] = static_cast<double>(run.peakResidentKiB) / 1024.0;
    }
}
BENCHMARK(BM_PeakMemoryOneGame)->Iterations(1)->Unit(benchmark::kMillisecond);

// Resident memory after the first of many bot games and after the last; the
// game keeps nothing that grows, so the two should match.
void BM_LongRun(benchmark::State& state) {
    const std::string games = std::to_string(state.range(0));
    for (auto _ : state) {
        ProbeRun run = RunProbe({"games", games});
        if (!run.ok) {
            state.SkipWithError("the probe did not finish its games");
            return;
        }
        const double first = Field(run.output, "rss_after_first_kib");
        const double last = Field(run.output, "rss_after_last_kib");
        state.counters["rss_first_MiB"] = first / 1024.0;
        state.counters["rss_last_MiB"] = last / 1024.0;
        state.counters["growth_KiB"] = last - first;
    }
}
BENCHMARK(BM_LongRun)->Arg(2)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

// Processes that only burn CPU, as other programs on a busy machine do,
// until they are killed.
std::vector<pid_t> StartBusyProcesses(int count) {
    std::vector<pid_t> busy;
    for (int i = 0; i < count; ++i) {
        pid_t child = fork();
        if (child == 0) {
            for (volatile unsigned spin = 0;; spin = spin + 1) {
            }
        }
        if (child > 0) busy.push_back(child);
    }
    return busy;
}

void StopBusyProcesses(const std::vector<pid_t>& busy) {
    for (pid_t child : busy) kill(child, SIGKILL);
    for (pid_t child : busy) waitpid(child, nullptr, 0);
}

// The real message loop on the real clock: intervals between presented play
// frames, on a quiet machine and with busy processes beside it (the second
// argument). The reported time is the median interval.
void BM_Pacing(benchmark::State& state) {
    const std::string frames = std::to_string(state.range(0));
    for (auto _ : state) {
        const std::vector<pid_t> busy = StartBusyProcesses(static_cast<int>(state.range(1)));
        ProbeRun run = RunProbe({"pacing", frames});
        StopBusyProcesses(busy);
        std::vector<double> intervals;
        std::istringstream lines(run.output);
        for (double us = 0; lines >> us;) intervals.push_back(us / 1000.0);
        if (!run.ok || intervals.size() < 2) {
            state.SkipWithError("the probe did not play its frames");
            return;
        }
        std::sort(intervals.begin(), intervals.end());
        const double median = intervals[intervals.size() / 2];
        const size_t p99 = std::min(intervals.size() - 1, intervals.size() * 99 / 100);
        state.SetIterationTime(median / 1000.0);
        state.counters["median_ms"] = median;
        state.counters["p99_ms"] = intervals[p99];
        state.counters["max_ms"] = intervals.back();
        state.counters["intervals"] = static_cast<double>(intervals.size());
    }
}
BENCHMARK(BM_Pacing)
    ->ArgNames({"frames", "busy"})
    ->Args({300, 0})
    ->Args({300, 8})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
