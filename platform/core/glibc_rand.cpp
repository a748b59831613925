// rand() and srand() as the GNU C library makes them, for every build on the
// core: Linux, the browser and Windows.
//
// The game starts its jewels from rand(), seeded from the tick count at each
// level. Any generator plays the game as it should, but a given seed must
// make the same rain everywhere, or the builds could not be checked against
// the same recorded replay. Emscripten's and Windows' C libraries have other
// generators; this one replaces them (and stands in for the Linux C
// library's own): glibc's additive feedback generator of degree 31
// (x[i] = x[i-3] + x[i-31], the low bit dropped), whose state starts from a
// multiplicative one and is run 310 steps in. The program on the real
// DirectDraw keeps its own C library's rand.
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kDegree = 31;
constexpr int kSeparation = 3;

struct Generator {
    std::int32_t state[kDegree];
    int front = kSeparation;  // the slot that receives the sum
    int rear = 0;             // the slot it is added from
    bool seeded = false;

    std::int32_t Next() {
        const std::uint32_t value =
            static_cast<std::uint32_t>(state[front]) + static_cast<std::uint32_t>(state[rear]);
        state[front] = static_cast<std::int32_t>(value);
        front = (front + 1) % kDegree;
        rear = (rear + 1) % kDegree;
        return static_cast<std::int32_t>(value >> 1);
    }

    void Seed(unsigned int seed) {
        if (seed == 0) seed = 1;
        std::int32_t word = static_cast<std::int32_t>(seed);
        state[0] = word;
        for (int i = 1; i < kDegree; ++i) {
            // 16807 * word mod (2^31 - 1), without overflowing 31 bits.
            const std::int64_t hi = word / 127773;
            const std::int64_t lo = word % 127773;
            std::int64_t next = 16807 * lo - 2836 * hi;
            if (next < 0) next += 2147483647;
            word = static_cast<std::int32_t>(next);
            state[i] = word;
        }
        front = kSeparation;
        rear = 0;
        for (int i = 0; i < kDegree * 10; ++i) Next();
        seeded = true;
    }
} generator;

}  // namespace

extern "C" {

void srand(unsigned int seed) {
    generator.Seed(seed);
}

int rand(void) {
    // Before any srand, as if seeded with 1.
    if (!generator.seeded) generator.Seed(1);
    return generator.Next();
}

}  // extern "C"
