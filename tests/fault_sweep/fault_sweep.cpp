// The fault sweep: the bot's whole session (five levels, the first attempt at
// level 2 thrown, the fastest time on the title, Esc), recorded as a run,
// played once to count each injectable call's uses, then again with the k-th
// use failing, once and from then on, with each failure result. Every run is a process of its own,
// so that a crash, a sanitizer report or a hang is seen, not suffered.
//
//   fault_sweep [--sample N] [--jobs J] [--timeout SECONDS] [--kind NAME]
//       the sweep and its table; exit 1 on any fault
//   fault_sweep --run KIND USE once|forever RESULT
//       one run, as the sweep starts it (KIND "none": no failure)
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/run.h"
#include "platform/core/run_file.h"
#include "platform/seam.h"
#include "tests/game/replay_bot.h"

namespace {

using seam::Call;

// A platform call failing at its k-th use (Call::Count: malloc), or with
// `lost` the display taken away before the k-th picture and `call` (unless
// Count) failing from its first use after that.
struct Kind {
    const char* name;
    Call call;
    std::vector<HRESULT> results;  // 0: the call's usual failure code
    bool mayEndGame = false;       // nothing can be shown without what it makes
    bool lost = false;
};

const std::vector<Kind> kKinds = {
    {"RegisterClassA", Call::RegisterClassA, {0}, true},
    {"CreateWindowExA", Call::CreateWindowExA, {0}, true},
    {"DirectDrawCreateEx", Call::DirectDrawCreateEx, {0}, true},
    {"SetCooperativeLevel", Call::SetCooperativeLevel, {0}, true},
    {"SetDisplayMode", Call::SetDisplayMode, {0}, true},
    {"CreateSurface", Call::CreateSurface, {0}, true},
    {"GetAttachedSurface", Call::GetAttachedSurface, {0}, true},
    {"CreatePalette", Call::CreatePalette, {0}},
    {"SetPalette", Call::SetPalette, {0}},
    {"CreateClipper", Call::CreateClipper, {0}},
    {"SetClipList", Call::SetClipList, {0}},
    {"SetClipper", Call::SetClipper, {0}},
    {"SetColorKey", Call::SetColorKey, {0}},
    {"GetDC", Call::GetDC, {0, DDERR_SURFACELOST}},
    {"Blt", Call::Blt, {0, DDERR_GENERIC}},
    {"Flip", Call::Flip, {0, DDERR_GENERIC}},
    {"SetEntries", Call::SetEntries, {0}},
    {"Lock", Call::Lock, {0, DDERR_SURFACEBUSY}},
    {"OpenFile", Call::OpenFile, {0}},
    {"RestoreAllSurfaces", Call::RestoreAllSurfaces, {0, DDERR_GENERIC}},
    {"malloc", Call::Count, {0}},
    {"display lost", Call::Count, {0}, false, true},
    // The session never loses the display by itself, so restoring is reached
    // only here: lost before a picture, then the restore fails once or for good.
    {"lost, restore fails", Call::RestoreAllSurfaces, {0, DDERR_GENERIC}, false, true},
};

// Polls without a picture before the player, facing a display the system
// does not give back, gives up and presses Esc (the game waits for it, as it
// should, but no picture means no bot to end the wait).
constexpr long kPollsBeforeQuitting = 100000;

// One run. What it saw goes to stderr as its last line ("run: ..."), after
// whatever the game itself wrote there.
int RunOne(char** argv) {
    if (const char* parent = std::getenv("FAULT_SWEEP_PARENT")) {
        // Started by the sweep: die with it, and within its time limit.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != std::atoi(parent)) return 126;  // it went before that line
        alarm(static_cast<unsigned>(std::atoi(std::getenv("FAULT_SWEEP_LIMIT"))));
    }
    const Kind* kind = nullptr;
    for (const Kind& each : kKinds) {
        if (std::strcmp(argv[0], each.name) == 0) kind = &each;
    }
    if (kind == nullptr && std::strcmp(argv[0], "none") != 0) return 2;
    const long use = std::atol(argv[1]);
    const bool forever = std::strcmp(argv[2], "forever") == 0;
    const auto result = static_cast<HRESULT>(std::strtoul(argv[3], nullptr, 0));

    long pictures = 0, polls = 0;
    bool away = false;
    const replay::Controller bot = replay::MakeBotController(2);
    auto controller = [&](const replay::FrameRecord& frame) {
        polls = 0;
        // The display is taken away after this picture, before the next.
        if (kind != nullptr && kind->lost && ++pictures + 1 == use) seam::LoseSurfaces();
        return bot(frame);
    };
    // The session is recorded: a failing call must not cost the run's file.
    const std::string runPath = "/tmp/fault_sweep_" + std::to_string(getpid()) + ".vnr";
    auto arm = [&] {
        if (!runs::Record(runPath.c_str(), "sweep")) std::abort();
        // No check looks at the pixels, only at the game's record and the
        // texts: skipping each picture's conversion makes a run far cheaper.
        seam::RecordTextsOnly(true);
        seam::SetPollHook([&] {
            if (++polls > kPollsBeforeQuitting && LastPresentShown() == -1) {
                away = true;
                seam::HoldKey(VK_ESCAPE, true);
            }
        });
        if (kind != nullptr && kind->call != Call::Count) {
            seam::FailUse(kind->call, kind->lost ? 1 : static_cast<int>(use), forever, result);
        } else if (kind != nullptr && !kind->lost) {
            seam::FailAllocUse(use, forever);
        }
    };
    int exitCode = -1;
    const std::vector<replay::FrameRecord> frames =
        replay::Play(4242421, 12000, controller, 1, arm, &exitCode);
    seam::SetPollHook(nullptr);
    runs::Finish(exitCode);

    // Five levels won, and the complete screen's total time kept and shown
    // on the title after it.
    int won = 0, total = -1;
    bool kept = false, shown = false;
    for (const replay::FrameRecord& frame : frames) {
        const GameData& game = frame.game;
        if (game.screenState == Playing && game.score >= game.objective) {
            won |= 1 << game.level;
            if (game.level == 5) total = game.totalSeconds;
        } else if (total >= 0 && game.screenState == Title) {
            kept = game.bestTotalSeconds == total;
            shown = shown || frame.NumberAfter("FASTEST COMPLETION TIME: ") == total;
        }
    }
    // The system gives back at process end whatever the game still holds;
    // give it back here, so that whatever is left alive is what nothing refers to.
    DisplayClose();
    for (IDirectDrawSurface7* sprite : gameData.spriteFrames) {
        if (sprite != nullptr) sprite->Release();
    }
    std::fprintf(stderr, "run: exit %d completed %d total %d away %d uses", exitCode,
                 won == 0b111110 && kept && shown ? 1 : 0, total, away ? 1 : 0);
    for (const Kind& each : kKinds) {
        std::fprintf(stderr, " %ld",
                     each.lost                  ? static_cast<long>(frames.size())
                     : each.call == Call::Count ? seam::AllocUses()
                                                : seam::CallUses(each.call));
    }
    // Read after the uses are counted, with malloc working again.
    seam::FailNextAlloc(0);
    runfile::Run run;
    const bool runKept = runfile::ReadFile(runPath.c_str(), &run) == runfile::Status::Complete;
    std::remove(runPath.c_str());
    std::fprintf(stderr, " problems%s%s", seam::OpenFiles() != 0 ? " file-left-open" : "",
                 runKept ? "" : " run-file-lost");
    if (int left = seam::LiveObjects()) std::fprintf(stderr, " %d-objects-unreferenced", left);
    std::fprintf(stderr, "\n");
    return 0;
}

struct Job {
    const Kind* kind = nullptr;  // none: the session as it should go
    long use = 0;                // 1 = the first use in the session
    bool forever = false;        // that use and every later one fail
    HRESULT result = 0;
    std::string outcome{}, detail{};
    bool fault = false;
    int total = -1;
    std::vector<long> uses{};  // per kind, in kKinds order
};

std::string Arguments(const Job& job) {
    if (job.kind == nullptr) return "'--run' 'none' '0' 'once' '0'";
    char result[16];  // in hex, as DirectX's codes are written
    std::snprintf(result, sizeof result, "%#lx", static_cast<unsigned long>(DWORD(job.result)));
    return "'--run' '" + std::string(job.kind->name) + "' '" + std::to_string(job.use) + "' '" +
           (job.forever ? "forever" : "once") + "' '" + result + "'";
}

// How one run ended, from its wait status and all it wrote.
void Judge(Job& job, int status, std::string err, int baseTotal) {
    auto fault = [&](const char* outcome, const std::string& detail) {
        job.outcome = outcome;
        job.detail = detail.substr(0, 400);
        job.fault = true;
    };
    // The run's report, taken out of what the game (or a sanitizer) wrote.
    const size_t at = err.rfind("run: exit ");
    const std::string line = at == std::string::npos ? "" : err.substr(at, err.find('\n', at) - at);
    if (!line.empty()) err.erase(at, line.size() + 1);
    auto has = [&](const char* part) { return err.find(part) != std::string::npos; };
    const bool late = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const char* what = has("Sanitizer") || has("runtime error")                 ? "sanitizer"
                           : late || has("tick budget") || has("without the clock") ? "hang"
                                                                                    : "crash";
        const int code = WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status);
        const std::string how = (WIFSIGNALED(status) ? "signal " : "exit ") + std::to_string(code);
        return fault(what, late ? "killed after the time limit" : how + ": " + err);
    }
    if (line.empty()) return fault("bad exit", "no report: " + err);
    std::istringstream report(line);
    std::string word;
    int exitCode = -1, completed = 0, away = 0;
    report >> word >> word >> exitCode >> word >> completed >> word >> job.total >> word >> away >>
        word;
    for (long count = 0; report >> count;) job.uses.push_back(count);
    const std::string problems = line.substr(line.find(" problems") + 9);
    if (!problems.empty()) return fault("leak/lost", problems);
    if (exitCode != 0) {
        const bool oneLine = err.rfind("vornackle: ", 0) == 0 && err.find('\n') == err.size() - 1;
        if (!oneLine || exitCode != 1) {
            return fault("bad exit", "exit " + std::to_string(exitCode) + ": " + err);
        }
        // A display taken away is waited for, however long.
        if (job.kind != nullptr && !job.kind->mayEndGame && (!job.forever || job.kind->lost)) {
            return fault("gave up", err);
        }
        job.outcome = "ended, one line";
        return;
    }
    // A failed fill, copy or label costs that picture, never game time.
    const bool drawing =
        job.kind != nullptr && (job.kind->call == Call::Blt || job.kind->call == Call::GetDC);
    if (completed && drawing && !job.forever && job.total != baseTotal) {
        return fault("game changed", "total time " + std::to_string(job.total) + " s, not " +
                                         std::to_string(baseTotal));
    }
    job.outcome = completed             ? "full game"
                  : away && job.forever ? "waited for display, Esc"
                  : job.forever         ? "played on, partly unseen"
                                        : "";
    if (job.outcome.empty()) fault("cut short", "exit 0 without the whole session");
}

// `workers` threads, each running one job's process at a time to its end.
void RunAll(std::vector<Job>& jobs, int workers, const std::string& self, int baseTotal) {
    std::atomic<size_t> next{0}, done{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back([&] {
            for (size_t at; (at = next++) < jobs.size();) {
                FILE* pipe =
                    popen(("exec '" + self + "' " + Arguments(jobs[at]) + " 2>&1").c_str(), "r");
                std::string out;
                char chunk[4096];
                for (size_t n; (n = std::fread(chunk, 1, 4096, pipe)) > 0;) out.append(chunk, n);
                Judge(jobs[at], pclose(pipe), out, baseTotal);
                if (const size_t count = ++done; count % 50 == 0) {
                    std::fprintf(stderr, "fault_sweep: %zu of %zu runs\n", count, jobs.size());
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
}

// Every use up to a few hundred, else `spread` uses evenly from first to last.
std::vector<long> Picks(long uses, long spread) {
    std::vector<long> picks;
    const long count = uses <= 300 && spread >= 100 ? uses : std::min(uses, spread);
    for (long i = 0; i < count; ++i) {
        picks.push_back(count == 1 ? 1 : 1 + i * (uses - 1) / (count - 1));
    }
    return picks;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--run") == 0) return RunOne(argv + 2);

    long spread = 100;
    int jobs = 2, timeoutSeconds = 600;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--sample") spread = std::atol(argv[i + 1]);
        if (option == "--jobs") jobs = std::atoi(argv[i + 1]);
        if (option == "--timeout") timeoutSeconds = std::atoi(argv[i + 1]);
        if (option == "--kind") only = argv[i + 1];
    }
    const auto started = std::chrono::steady_clock::now();
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 2;
    setenv("FAULT_SWEEP_PARENT", std::to_string(getpid()).c_str(), 1);
    setenv("FAULT_SWEEP_LIMIT", std::to_string(timeoutSeconds).c_str(), 1);

    std::vector<Job> base(1);
    RunAll(base, 1, self, -1);
    const std::vector<long>& uses = base[0].uses;
    if (base[0].outcome != "full game" || uses.size() != kKinds.size()) {
        std::fprintf(stderr,
                     "fault_sweep: the session without failures did not go as it should: %s %s\n",
                     base[0].outcome.c_str(), base[0].detail.c_str());
        return 1;
    }

    std::vector<Job> list;
    for (size_t k = 0; k < kKinds.size(); ++k) {
        const Kind& kind = kKinds[k];
        if (!only.empty() && only != kind.name) continue;
        for (long use : Picks(uses[k], spread)) {
            for (bool forever : {false, true}) {
                if (forever && kind.lost && kind.call == Call::Count) continue;
                for (HRESULT result : kind.results) list.push_back({&kind, use, forever, result});
            }
        }
    }
    RunAll(list, jobs, self, base[0].total);

    // The table: per kind, its uses in the session, the runs, how they ended.
    std::map<const Kind*, std::map<std::string, int>> endings;
    for (const Job& job : list) ++endings[job.kind][job.outcome];
    std::printf("%-20s %8s %6s  %s\n", "call", "uses", "runs", "how the runs ended");
    for (size_t k = 0; k < kKinds.size(); ++k) {
        std::string ended;
        int runs = 0;
        for (const auto& [outcome, count] : endings[&kKinds[k]]) {
            ended += (ended.empty() ? "" : ", ") + std::to_string(count) + " " + outcome;
            runs += count;
        }
        std::printf("%-20s %8ld %6d  %s\n", kKinds[k].name, uses[k], runs,
                    runs ? ended.c_str() : "-");
    }
    int faults = 0;
    for (const Job& job : list) {
        if (!job.fault || ++faults > 40) continue;
        std::printf("FAULT %s: %s\n  fault_sweep %s\n", job.outcome.c_str(), job.detail.c_str(),
                    Arguments(job).c_str());
    }
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 60.0;
    std::printf("%zu runs, %d faults, %.1f minutes with %d jobs\n", list.size(), faults, minutes,
                jobs);
    return faults == 0 ? 0 : 1;
}
