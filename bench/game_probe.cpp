// The game as a separate process, for the figures that need one: start-up
// time, peak resident memory over whole games, memory over a long run and
// frame pacing on the real clock.
//
//   vn_bench_probe first-frame   prints the CLOCK_MONOTONIC time (ns) of the
//                                first presented picture and exits
//   vn_bench_probe games N       the bot plays N whole games in virtual time,
//                                presenting as the program does; prints
//                                resident memory (KiB) after the first game
//                                and after the last
//   vn_bench_probe pacing N      plays N frames on the real clock; prints the
//                                intervals between presents (us), one a line
//
// Every mode runs WinMain itself over the desktop backend on SDL's dummy
// display, presenting as the program does, with the sprite sheet found
// through VN_ASSET_DIR.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "game/game_data.h"
#include "platform/seam.h"
#include "shell/shell.h"
#include "tests/game/replay_bot.h"

namespace {

long long MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

long ResidentKiB() {
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return -1;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(statm);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What the bot holds after a presented picture: the advance key of a menu, the
// answer on an outcome screen, else its move. `moreGames` false answers the
// game-complete screen with Esc.
void HoldBotKeys(bool moreGames) {
    seam::ReleaseAllKeys();
    switch (gameData.screenState) {
        case Story:
        case Briefing:
            seam::HoldKey(VK_RETURN, true);
            return;
        case Title:
            seam::HoldKey(VK_SPACE, true);
            return;
        case Playing:
            break;
        default:
            return;
    }
    if (gameData.score >= gameData.objective) {
        if (gameData.level < 5) {
            seam::HoldKey(VK_SPACE, true);
        } else {
            seam::HoldKey(moreGames ? VK_BACK : VK_ESCAPE, true);
        }
    } else if (gameData.secondsLeft < 1 || gameData.gameOverHit != 0) {
        seam::HoldKey(VK_SPACE, true);
    } else {
        const int move = replay::ChooseMove(gameData, 0);
        if (move < 0) seam::HoldKey(VK_LEFT, true);
        if (move > 0) seam::HoldKey(VK_RIGHT, true);
    }
}

int RunWinMain() {
    char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, 0);
}

int FirstFrame() {
    seam::Reset();
    seam::SetFrameHook([] {
        std::printf("%lld\n", MonotonicNs());
        std::fflush(stdout);
        _exit(0);
    });
    RunWinMain();
    return 1;  // the hook never ran
}

int Games(int count) {
    seam::Reset();
    seam::SetTick(1000000);
    int finished = 0;
    long afterFirst = -1;
    bool wasComplete = false;
    seam::SetFrameHook([&] {
        const bool complete = gameData.screenState == Playing && gameData.level == 5 &&
                              gameData.score >= gameData.objective;
        if (complete && !wasComplete) {
            ++finished;
            if (finished == 1) afterFirst = ResidentKiB();
        }
        wasComplete = complete;
        HoldBotKeys(finished < count);
    });
    RunWinMain();
    std::printf("games %d\nrss_after_first_kib %ld\nrss_after_last_kib %ld\n", finished, afterFirst,
                ResidentKiB());
    return finished == count ? 0 : 1;
}

// The real loop on the real clock: the level's frames paced by the game's own
// busy-wait, presented as in the program. The basket
// stands still, so the level runs its full 30 seconds without an outcome.
int Pacing(int frames) {
    seam::Reset();
    seam::UseRealClock(true);
    std::vector<long long> presents;
    presents.reserve(static_cast<size_t>(frames) + 1);
    seam::SetFrameHook([&] {
        seam::ReleaseAllKeys();
        if (static_cast<int>(presents.size()) > frames) {
            seam::HoldKey(VK_ESCAPE, true);
            return;
        }
        if (gameData.screenState != Playing) {
            HoldBotKeys(true);
            return;
        }
        presents.push_back(MonotonicNs());
    });
    RunWinMain();
    for (size_t i = 1; i < presents.size(); ++i) {
        std::printf("%lld\n", (presents[i] - presents[i - 1]) / 1000);
    }
    return static_cast<int>(presents.size()) > frames ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // The desktop backend on a display nobody sees, without sound.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    // The game opens its sprite sheet by bare name, from the current folder.
    if (chdir(VN_ASSET_DIR) != 0) {
        std::fprintf(stderr, "vn_bench_probe: cannot enter %s\n", VN_ASSET_DIR);
        return 2;
    }
    if (argc >= 2 && std::strcmp(argv[1], "first-frame") == 0) return FirstFrame();
    if (argc >= 3 && std::strcmp(argv[1], "games") == 0) {
        return Games(std::atoi(argv[2]));
    }
    if (argc >= 3 && std::strcmp(argv[1], "pacing") == 0) return Pacing(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: vn_bench_probe first-frame | games N | pacing N\n");
    return 2;
}
