// vn_record_run: records one session of the real game to a run file, played
// by the test bot through the headless backend on a clock that behaves as a
// machine's does. The same source builds for Linux, for Windows (run under
// Wine) and for the page's WebAssembly (run under node), so that the run
// corpus in tests/runs/ holds runs recorded by each build's own core.
//
//   vn_record_run OUT.vnr [--start MS] [--strength PERCENT] [--seed N]
//                 [--throw LEVEL] [--greedy] [--games N] [--give-up LEVEL]
//                 [--quit LEVEL:SECONDS] [--close LEVEL:SECONDS]
//                 [--stall LEVEL:SECONDS:MS] [--read-cost MIN:MAX]
//                 [--marks] [--toggle-marks FRAMES] [--frames N] [--label TEXT]
//
// --start      the counter's value when the session starts (ms; it wraps at
//              2^32 like the system's, so 4294900000 wraps within a minute)
// --strength   the share of play pictures on which the bot takes its own
//              advice (100: always); on the others it keeps its last move
// --throw      the first attempt at LEVEL dodges every jewel and runs out
// --greedy     chases every jewel, harmful ones too: failed attempts
// --games      whole games in a row (Backspace to the title after each)
// --give-up    the first failure at LEVEL goes to the title (Backspace), and
//              a new game starts there
// --quit       Esc at LEVEL when SECONDS or fewer are left
// --close      the window is closed (as with Alt+F4) at LEVEL, SECONDS left
// --stall      the program stops for MS milliseconds at LEVEL, SECONDS left,
//              as while a window is dragged or a laptop sleeps
// --read-cost  each look at the machine's clock costs MIN to MAX µs
// --marks      the game started with its jewels' marks shown
// --toggle-marks  M tapped every FRAMES play pictures
// --frames     Esc after this many pictures at most (default 20000)
// --label      the program version written into the file
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/run.h"
#include "platform/seam.h"
#include "tests/game/replay_bot.h"

namespace {

struct Options {
    std::string out;
    std::uint64_t start = 123457;
    int strength = 100;
    std::uint32_t seed = 1;
    int throwLevel = 0;
    bool greedy = false;
    int games = 1;
    int giveUpLevel = 0;
    int quitLevel = 0, quitSeconds = 0;
    int closeLevel = 0, closeSeconds = 0;
    int stallLevel = 0, stallSeconds = 0;
    std::uint64_t stallMs = 0;
    std::uint64_t readCostMin = 50, readCostMax = 50;
    bool marks = false;
    int toggleMarks = 0;
    int frames = 20000;
    std::string label = "vn_record_run";
};

// A small generator of our own, the same on every build.
std::uint32_t Next(std::uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

bool Pair(const char* text, int* a, int* b) {
    return std::sscanf(text, "%d:%d", a, b) == 2;
}

int Usage(const char* why) {
    std::fprintf(stderr, "vn_record_run: %s (see the comment at the top of record_run.cpp)\n", why);
    return 2;
}

bool Parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto take = [&] { return v != nullptr ? (++i, true) : false; };
        if (a == "--greedy") {
            o->greedy = true;
        } else if (a == "--marks") {
            o->marks = true;
        } else if (a[0] != '-') {
            o->out = a;
        } else if (!take()) {
            return false;
        } else if (a == "--start") {
            o->start = std::strtoull(v, nullptr, 10);
        } else if (a == "--strength") {
            o->strength = std::atoi(v);
        } else if (a == "--seed") {
            o->seed = static_cast<std::uint32_t>(std::strtoul(v, nullptr, 10));
        } else if (a == "--throw") {
            o->throwLevel = std::atoi(v);
        } else if (a == "--games") {
            o->games = std::atoi(v);
        } else if (a == "--give-up") {
            o->giveUpLevel = std::atoi(v);
        } else if (a == "--quit") {
            if (!Pair(v, &o->quitLevel, &o->quitSeconds)) return false;
        } else if (a == "--close") {
            if (!Pair(v, &o->closeLevel, &o->closeSeconds)) return false;
        } else if (a == "--stall") {
            unsigned long long ms = 0;
            if (std::sscanf(v, "%d:%d:%llu", &o->stallLevel, &o->stallSeconds, &ms) != 3)
                return false;
            o->stallMs = ms;
        } else if (a == "--read-cost") {
            unsigned long long lo = 0, hi = 0;
            if (std::sscanf(v, "%llu:%llu", &lo, &hi) != 2 || lo > hi) return false;
            o->readCostMin = lo;
            o->readCostMax = hi;
        } else if (a == "--toggle-marks") {
            o->toggleMarks = std::atoi(v);
        } else if (a == "--frames") {
            o->frames = std::atoi(v);
        } else if (a == "--label") {
            o->label = v;
        } else {
            return false;
        }
    }
    return !o->out.empty();
}

// The session's clock: microseconds that pass as the program works (each
// look at the clock costs a little), sleeps that end when they are due, and
// the stall asked for. The counter the game reads is the core's own, made
// from these microseconds as on a machine.
struct MachineTime {
    std::uint64_t now = 0;
    std::uint32_t jitter = 1;
    const Options* o = nullptr;
};
MachineTime machine;

std::uint64_t Look() {
    const Options& o = *machine.o;
    const std::uint64_t span = o.readCostMax - o.readCostMin;
    machine.now += o.readCostMin + (span > 0 ? Next(&machine.jitter) % (span + 1) : 0);
    return machine.now;
}

// The bot, weakened and steered as the options say.
replay::Controller MakePlayer(const Options& o) {
    struct State {
        std::uint32_t random;
        int gamesDone = 0;
        bool thrown = false, gaveUp = false, closed = false, stalled = false;
        int lastMove = 0, playPictures = 0;
    };
    auto s = std::make_shared<State>();
    s->random = o.seed;
    return [s, &o](const replay::FrameRecord& frame) {
        const GameData& game = frame.game;
        replay::Decision d;
        const bool playing = game.screenState == Playing;
        const bool won = playing && game.score >= game.objective;
        const bool lost = playing && !won && (game.secondsLeft < 1 || game.gameOverHit == 1);
        auto at = [&](int level, int seconds) {
            return playing && !won && !lost && game.level == level && game.secondsLeft <= seconds;
        };
        if (o.closeLevel != 0 && !s->closed && at(o.closeLevel, o.closeSeconds)) {
            s->closed = true;
            seam::PushCloseRequest();
        }
        if (o.stallLevel != 0 && !s->stalled && at(o.stallLevel, o.stallSeconds)) {
            s->stalled = true;
            machine.now += o.stallMs * 1000;
        }
        if (o.quitLevel != 0 && at(o.quitLevel, o.quitSeconds)) {
            d.stop = true;
            return d;
        }
        if (!playing) {
            if (game.screenState == Title && s->gamesDone >= o.games) {
                d.stop = true;
            } else if (int key = replay::MenuKey(game.screenState)) {
                d.held = {key};
            }
            return d;
        }
        if (won) {
            if (game.level == 5) ++s->gamesDone;
            d.held = {game.level == 5 ? VK_BACK : VK_SPACE};
            return d;
        }
        if (lost) {
            const bool giveUp = game.level == o.giveUpLevel && !s->gaveUp;
            s->gaveUp = s->gaveUp || giveUp;
            s->thrown = s->thrown || game.level == o.throwLevel;
            d.held = {giveUp ? VK_BACK : VK_SPACE};
            return d;
        }
        ++s->playPictures;
        if (o.toggleMarks > 0 && s->playPictures % o.toggleMarks == 0) d.tapped = 'M';
        if (static_cast<int>(Next(&s->random) % 100) < o.strength) {
            GameData seen = game;
            if (o.greedy) {
                for (int& points : seen.kindPoints) points = points < 0 ? 5 : points;
            }
            s->lastMove = replay::ChooseMove(seen, game.level == o.throwLevel && !s->thrown);
        }
        if (s->lastMove != 0) d.held = {s->lastMove < 0 ? VK_LEFT : VK_RIGHT};
        return d;
    };
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, &o)) return Usage("a missing or unknown option");
    // The runner works in the assets folder; the file goes where it was asked.
    if (o.out[0] != '/' && !(o.out.size() > 1 && o.out[1] == ':')) {
        char here[4096];
        if (getcwd(here, sizeof here) == nullptr) return Usage("no working folder");
        o.out = std::string(here) + "/" + o.out;
    }
    machine.o = &o;
    machine.now = o.start * 1000;
    machine.jitter = o.seed;
    std::string commandLine = o.marks ? "--marks" : "";
    bool recording = false;
    int exitCode = -1;
    const std::vector<replay::FrameRecord> frames = replay::Play(
        0, o.frames, MakePlayer(o), 1,
        [&] {
            seam::UseRealClock(true);
            seam::UseScriptedClock(
                Look, [](std::uint64_t until) { machine.now = std::max(machine.now, until); },
                [](int milliseconds) {
                    machine.now += static_cast<std::uint64_t>(milliseconds) * 1000;
                });
            recording = runs::Record(o.out.c_str(), o.label.c_str(), commandLine.c_str());
        },
        &exitCode, commandLine.c_str());
    const int finished = runs::Finish(exitCode);
    if (!recording) return 1;
    std::printf("%s: %zu pictures, exit code %d\n", o.out.c_str(), frames.size(), finished);
    return finished;
}
