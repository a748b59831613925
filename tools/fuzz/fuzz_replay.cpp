// libFuzzer target: arbitrary bytes as a recorded run, verified as
// `vornackle --verify` does: read, then replayed headless to its end by the
// real game. Whatever the file says, the replay must end (within a number of
// platform calls proportional to the file's size), without an out-of-bounds
// access, undefined behaviour or a leak, with an exit code the program
// documents, and leave nothing recorded or replayed behind it.
//
// Only a file that carries the sprite sheet's fingerprint gets past the
// header, so the seeds are real runs (tests/fuzz_corpus/fuzz_replay/).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "game/game_data.h"
#include "graphics/display.h"
#include "platform/core/harness.h"
#include "platform/core/run.h"
#include "platform/seam.h"
#include "shell/shell.h"

namespace {

// The work a replay may do grows with its file's size: each read counts 1
// and each picture (drawn whole, about as dear as a thousand reads) 1024,
// and the replay refuses a file that asks for more than 2^26 plus 2048 a
// byte (docs/RUNS.md). Past a cut file's last event it lets up to a million
// more reads go as expected, uncounted, until the picture they lead to (a
// game waiting for a counter that no longer moves never shows it). Every
// platform call counts here, reads and the drawing between them, so a
// genuine picture costs a few dozen more; past twice the sum the replay
// counts as hung. A long run's build may lower the free part
// (VORNACKLE_FUZZ_FREE_WORK, the same constant in the replay).
constexpr std::uint64_t kPictureWork = 1024;
constexpr std::uint64_t kReadsAfterCut = 1000000;
#ifdef VORNACKLE_FUZZ_FREE_WORK
constexpr std::uint64_t kWorkAtLeast =
    2 * (std::uint64_t{VORNACKLE_FUZZ_FREE_WORK} + kReadsAfterCut);
#else
constexpr std::uint64_t kWorkAtLeast = 2 * ((std::uint64_t{1} << 26) + kReadsAfterCut);
#endif
constexpr std::uint64_t kWorkPerByte = 2 * 2048;

// Stands between the core and the test seam, counting the work.
class Budget final : public standin::Harness {
  public:
    standin::Harness* seam = nullptr;
    std::uint64_t calls = 0, pictures = 0;
    std::size_t bytes = 0;

    void Start(std::size_t size) {
        seam = standin::harness;
        standin::harness = this;
        calls = pictures = 0;
        bytes = size;
    }
    void Stop() { standin::harness = seam; }

    void Entered(standin::Entry entry) override {
        ++calls;
        Check();
        seam->Entered(entry);
    }
    bool Fails(standin::Entry entry, HRESULT* result) override {
        return seam->Fails(entry, result);
    }
    void DrewText(int x, int y, const char* text, int length, COLORREF colour,
                  BYTE index) override {
        seam->DrewText(x, y, text, length, colour, index);
    }
    void Flipped() override {
        ++pictures;
        Check();
        seam->Flipped();
    }
    bool VirtualTick(bool read, DWORD* tick) override { return seam->VirtualTick(read, tick); }

  private:
    void Check() const {
        if (calls + kPictureWork * pictures <= kWorkAtLeast + kWorkPerByte * bytes) return;
        std::fprintf(stderr,
                     "fuzz_replay: a run of %zu bytes is still replaying after %llu platform "
                     "calls and %llu pictures\n",
                     bytes, static_cast<unsigned long long>(calls),
                     static_cast<unsigned long long>(pictures));
        std::abort();
    }
};

Budget budget;
std::string runPath;
std::FILE* discard = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    runPath = std::string(folder) + "/fuzz_replay_" + std::to_string(getpid()) + ".vnr";
    std::atexit([] { unlink(runPath.c_str()); });
    discard = std::fopen("/dev/null", "w");
    if (discard == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* out = std::fopen(runPath.c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);

    // A fresh process, as replay_runner.cpp starts one for the tests.
    free(gameData.spriteSheet.pixels);
    seam::Reset();
    seam::RecordTextsOnly(true);  // no picture kept: the replay checks its own
    // The sprite sheet beside the "program", for the game and for the
    // fingerprint the replay compares with the run's.
    seam::SetProgramDirectory(VORNACKLE_ASSETS_DIR);
    gameData = kGameDataStart;
    mainWindow = nullptr;
    appInstance = nullptr;
    display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
    std::memset(PaletteTable, 0, sizeof(PaletteTable));
    budget.Start(size);

    runs::SetOutput(discard, discard);
    char commandLine[runs::kCommandLineSize] = {};
    if (runs::Replay(runPath.c_str(), true, commandLine)) {
        const int exitCode = WinMain(nullptr, nullptr, commandLine, 0);
        const int verified = runs::Finish(exitCode);
        // 0 matched, 1 differs, 2 refused, 3 interrupted, 4 not this file's fault.
        if (verified < 0 || verified > 4) {
            std::fprintf(stderr, "fuzz_replay: --verify would exit with %d\n", verified);
            std::abort();
        }
    }
    if (runs::mode != runs::Mode::Off) {
        std::fprintf(stderr, "fuzz_replay: a run is still being replayed after the verification\n");
        std::abort();
    }
    runs::SetOutput(nullptr, nullptr);
    budget.Stop();
    // Nothing the execution allocated outlives it: libFuzzer runs an input
    // whose allocations outnumber its frees a second time, looking for a leak.
    free(gameData.spriteSheet.pixels);
    gameData.spriteSheet.pixels = nullptr;
    seam::Reset();
    return 0;
}
