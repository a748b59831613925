// The play frame's own work and the drawing primitives it is made of.
//
// The game runs on the seam's virtual clock, stepped 30 ms per tick reading,
// so the frame's closing busy-wait sees its 30 ms pass on its first reading
// and returns at once: what is timed is everything else the frame does,
// the present (palette lookup, texture upload, render) included: the
// benchmarks link the desktop backend, which presents as the program does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/alloc_count.h"
#include "bench/bench_game.h"
#include "game/game_data.h"
#include "graphics/display.h"
#include "platform/core/run.h"
#include "platform/seam.h"

namespace {

// Frames played before counting: more than a second of play at 30 ms a frame,
// so every text the head-up display shows has been drawn once already.
constexpr int kWarmUpFrames = 40;

void SetUpPlay() {
    static bool open = false;
    if (!open) bench::OpenGame();
    open = true;
    seam::SetTickStep(30);
    bench::EnterPlay();
    for (int frame = 0; frame < kWarmUpFrames; ++frame) {
        bench::KeepPlaying();
        PlayFrame();
    }
}

// One play frame with 20 jewels falling, the basket moving and both head-up
// lines; counts the heap allocations the frames make.
void BM_PlayFrame(benchmark::State& state) {
    SetUpPlay();
    const std::uint64_t before = alloc_count::Allocations();
    for (auto _ : state) {
        bench::KeepPlaying();
        PlayFrame();
    }
    const std::uint64_t allocations = alloc_count::Allocations() - before;
    state.counters["allocs/frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    if (gameData.screenState != Playing) state.SkipWithError("the scene left play");
}
BENCHMARK(BM_PlayFrame)->Unit(benchmark::kMicrosecond);

// The same frame while the session is recorded (--record): what the frame's
// reads add, and the file written at its picture.
void BM_PlayFrameRecording(benchmark::State& state) {
    SetUpPlay();
    const std::string path = "/tmp/vn_bench_frame_" + std::to_string(getpid()) + ".vnr";
    if (!runs::Record(path.c_str(), "bench")) state.SkipWithError("cannot record");
    const std::uint64_t before = alloc_count::Allocations();
    for (auto _ : state) {
        bench::KeepPlaying();
        PlayFrame();
    }
    const std::uint64_t allocations = alloc_count::Allocations() - before;
    runs::Finish(0);
    std::remove(path.c_str());
    state.counters["allocs/frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    if (gameData.screenState != Playing) state.SkipWithError("the scene left play");
}
BENCHMARK(BM_PlayFrameRecording)->Unit(benchmark::kMicrosecond);

void BM_PresentFrame(benchmark::State& state) {
    SetUpPlay();
    for (auto _ : state) PresentFrame();
}
BENCHMARK(BM_PresentFrame)->Unit(benchmark::kMicrosecond);

// The longer head-up line, as drawn every frame.
void BM_DrawLabel(benchmark::State& state) {
    SetUpPlay();
    const char* line = "Level 1                                         Time Remaining: 30";
    for (auto _ : state) DrawLabel(line, 127, 8, 464);
}
BENCHMARK(BM_DrawLabel)->Unit(benchmark::kMicrosecond);

void BM_BlitFrame(benchmark::State& state) {
    SetUpPlay();
    for (auto _ : state) BlitFrame(gameData.spriteFrames[0], 320, 352);
}
BENCHMARK(BM_BlitFrame)->Unit(benchmark::kMicrosecond);

void BM_FillRectScreen(benchmark::State& state) {
    SetUpPlay();
    for (auto _ : state) FillRect(0, 0, 639, 479, 0);
}
BENCHMARK(BM_FillRectScreen)->Unit(benchmark::kMicrosecond);

}  // namespace
