// What a beep sounds like, as SDL's disk audio driver writes what the device
// plays to a file (a program of its own: the device opens once a process).
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/seam.h"
#include "platform/winapi.h"

namespace {

// The level-complete beep: a rising pair of clean tones (a square wave, the
// failure buzz, peaks at 0.6 of their height), each fading in and out so
// that the beep starts and ends without a click.
TEST(BeepSound, CleanTonesThatFadeOut) {
    seam::Reset();
    const std::string file = testing::TempDir() + "vn_beep_" + std::to_string(getpid()) + ".raw";
    SDL_setenv("SDL_AUDIODRIVER", "disk", 1);
    SDL_setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    MessageBeep(MB_ICONASTERISK);
    std::vector<std::int16_t> played;
    for (int waited = 0; waited < 5000; waited += 50) {  // 240 ms of sound, then silence
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(file, std::ios::binary);
        std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
        played.assign(reinterpret_cast<const std::int16_t*>(bytes.data()),
                      reinterpret_cast<const std::int16_t*>(bytes.data()) + bytes.size() / 2);
        if (played.size() > 22050 / 2) break;
    }
    std::remove(file.c_str());
    auto loud = [](std::int16_t s) { return std::abs(s) > 0; };
    const auto last = std::find_if(played.rbegin(), played.rend(), loud);
    ASSERT_NE(last, played.rend()) << "no beep was played";
    const long end = played.rend() - last;  // one past the beep's last sound
    const long start = std::find_if(played.begin(), played.end(), loud) - played.begin();
    EXPECT_NEAR(end - start, 22050 * 240 / 1000, 10) << "both tones, 240 ms";
    ASSERT_GT(end, 3000);
    auto peak = [&](long from, long to) {
        int most = 0;
        for (long i = from; i < to; ++i) most = std::max(most, std::abs(int(played[i])));
        return most;
    };
    EXPECT_GT(peak(end - 2800, end - 200), 8500) << "the second tone is no clean wave";
    EXPECT_LT(peak(start, start + 22), 2000) << "the beep starts with a click";
    EXPECT_LT(peak(end - 22, end), 2000) << "the beep ends in a click";
}

}  // namespace
