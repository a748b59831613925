// The floor: the least pixel traffic any frame can cost on this machine.
//
// A frame must at least clear the 640 x 480 picture of palette indices and
// turn every index into a 32-bit colour for the screen. Timed here as two
// plain loops, it is the yardstick the play frame is divided by, so the
// frame's figure means the same on a fast and on a noisy machine.
#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr int kPixels = 640 * 480;

void BM_Floor(benchmark::State& state) {
    static std::uint8_t indices[kPixels];
    static std::uint32_t screen[kPixels];
    std::uint32_t lookup[256];
    for (int i = 0; i < 256; ++i) lookup[i] = 0xFF000000u | (i * 0x010203u);

    for (auto _ : state) {
        for (int i = 0; i < kPixels; ++i) indices[i] = 0;
        // Without this the compiler knows every index is 0 and fills the
        // screen with one colour instead of looking each one up.
        benchmark::DoNotOptimize(indices);
        benchmark::ClobberMemory();
        for (int i = 0; i < kPixels; ++i) screen[i] = lookup[indices[i]];
        benchmark::DoNotOptimize(screen);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kPixels * (1 + 1 + 4));
}
BENCHMARK(BM_Floor)->Unit(benchmark::kMicrosecond);

}  // namespace
