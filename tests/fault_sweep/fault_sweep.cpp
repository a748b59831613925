// The fault sweep: counts how often the bot's session (sweep_session.h) uses
// each injectable call, then plays it again with the k-th use failing, once
// and from then on, with each failure result, each run in a process of its
// own so that a crash, a sanitizer report or a hang is seen, not suffered.
//
//   fault_sweep [--sample N] [--jobs J] [--timeout SECONDS] [--kind NAME]
//       the sweep and its table; exit 1 on any fault
//   fault_sweep --run KIND USE once|forever RESULT
//       one run, as the sweep starts it (KIND "none": no failure)
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/fault_sweep/sweep_session.h"

namespace {

using sweep::Kind;

int RunOne(char** argv) {
    sweep::Fault fault;
    if (std::strcmp(argv[0], "none") != 0) {
        fault.kind = sweep::FindKind(argv[0]);
        if (fault.kind == nullptr) return 2;
        fault.use = std::atol(argv[1]);
        fault.forever = std::strcmp(argv[2], "forever") == 0;
        fault.result = static_cast<HRESULT>(std::strtoul(argv[3], nullptr, 0));
    }
    const sweep::Report report = sweep::RunSession(fault);
    std::printf("exit %d completed %d total %d away %d uses", report.exitCode,
                report.completed ? 1 : 0, report.totalSeconds, report.quitWhileAway ? 1 : 0);
    for (long uses : report.uses) std::printf(" %ld", uses);
    std::printf(" problems%s\n", report.problems.c_str());
    return 0;
}

struct Job {
    const Kind* kind;
    long use;
    bool forever;
    HRESULT result;
    std::string outcome, detail;
    int totalSeconds = -1;
};

struct Child {
    pid_t pid;
    size_t job;
    std::string out, err;
    std::chrono::steady_clock::time_point start;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Arguments(const Job& job) {
    if (job.kind == nullptr) return {"--run", "none", "0", "once", "0"};
    return {"--run", job.kind->name, std::to_string(job.use), job.forever ? "forever" : "once",
            std::to_string(static_cast<unsigned long>(static_cast<DWORD>(job.result)))};
}

Child Start(const Job& job, size_t index, const std::string& folder) {
    Child child{0, index, folder + "/" + std::to_string(index) + ".out",
                folder + "/" + std::to_string(index) + ".err", std::chrono::steady_clock::now()};
    const std::vector<std::string> args = Arguments(job);
    const pid_t parent = getpid();
    child.pid = fork();
    if (child.pid == 0) {
        // Killing the sweep kills its runs too (the signal outlives execv);
        // a parent gone before this line leaves us to init, so go too.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        const int out = open(child.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(child.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv = {const_cast<char*>("fault_sweep")};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    return child;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// How one run ended; the first four are sound, the rest are faults.
void Judge(Job& job, int status, bool timedOut, const std::string& out, const std::string& err,
           int baseTotal, std::vector<long>* uses) {
    auto fault = [&](const char* outcome, const std::string& detail) {
        job.outcome = outcome;
        job.detail = detail;
    };
    if (timedOut) return fault("hang", "killed after the time limit");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (Contains(err, "Sanitizer") || Contains(err, "runtime error")) {
            return fault("sanitizer", err.substr(0, 400));
        }
        if (Contains(err, "tick budget") || Contains(err, "without the clock")) {
            return fault("hang", err.substr(0, 200));
        }
        return fault("crash", err.substr(0, 400));
    }
    std::istringstream line(out);
    std::string word;
    int exitCode = -1, completed = 0, away = 0;
    line >> word >> exitCode >> word >> completed >> word >> job.totalSeconds >> word >> away >>
        word;
    long count = 0;
    while (line >> count) uses->push_back(count);
    line.clear();
    std::string problems;
    std::getline(line, problems);
    problems = problems.substr(problems.find("problems") + 8);
    if (!problems.empty()) return fault("leak/lost", problems);
    if (exitCode != 0) {
        const bool oneLine = err.rfind("vornackle: ", 0) == 0 && err.find('\n') == err.size() - 1;
        if (!oneLine) return fault("bad exit", "exit " + std::to_string(exitCode) + ": " + err);
        if (!job.forever && job.kind != nullptr && !job.kind->mayEndGame) {
            return fault("gave up", err);
        }
        job.outcome = "ended, one line";
        return;
    }
    // A failed fill, copy or label costs that picture, never game time.
    const bool drawing = job.kind != nullptr && (std::strcmp(job.kind->name, "Blt") == 0 ||
                                                 std::strcmp(job.kind->name, "GetDC") == 0);
    if (completed && drawing && !job.forever && job.totalSeconds != baseTotal) {
        fault("game changed", "total time " + std::to_string(job.totalSeconds) + " s, not " +
                                  std::to_string(baseTotal));
    } else if (completed) {
        job.outcome = "full game";
    } else if (away && job.forever) {
        job.outcome = "waited for display, Esc";
    } else if (job.forever) {
        job.outcome = "played on, partly unseen";
    } else {
        fault("cut short", "exit 0 without the whole session");
    }
}

bool IsSound(const std::string& outcome) {
    return outcome == "full game" || outcome == "ended, one line" ||
           outcome == "played on, partly unseen" || outcome == "waited for display, Esc";
}

// Runs the jobs, `jobs` at a time; returns the base run's use counts when
// the list holds it.
void RunAll(std::vector<Job>& list, int jobs, int timeoutSeconds, int baseTotal,
            std::vector<long>* uses) {
    char folderTemplate[] = "/tmp/fault_sweep_XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    std::vector<Child> running;
    size_t next = 0, done = 0;
    while (done < list.size()) {
        while (static_cast<int>(running.size()) < jobs && next < list.size()) {
            running.push_back(Start(list[next], next, folder));
            ++next;
        }
        bool reaped = false;
        for (size_t i = 0; i < running.size(); ++i) {
            Child& child = running[i];
            int status = 0;
            const auto age = std::chrono::steady_clock::now() - child.start;
            const bool late = age > std::chrono::seconds(timeoutSeconds);
            if (late) kill(child.pid, SIGKILL);
            if (waitpid(child.pid, &status, late ? 0 : WNOHANG) != child.pid) continue;
            std::vector<long> counted;
            Judge(list[child.job], status, late, Slurp(child.out), Slurp(child.err), baseTotal,
                  &counted);
            if (list[child.job].kind == nullptr) *uses = counted;
            std::remove(child.out.c_str());
            std::remove(child.err.c_str());
            running.erase(running.begin() + static_cast<long>(i));
            ++done;
            reaped = true;
            if (done % 50 == 0)
                std::fprintf(stderr, "fault_sweep: %zu of %zu runs\n", done, list.size());
            break;
        }
        if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    rmdir(folder.c_str());
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

    std::vector<Job> base = {Job{nullptr, 0, false, 0, "", ""}};
    std::vector<long> uses;
    RunAll(base, 1, timeoutSeconds, -1, &uses);
    if (base[0].outcome != "full game" || uses.size() != sweep::Kinds().size()) {
        std::fprintf(stderr,
                     "fault_sweep: the session without failures did not go as it should: %s %s\n",
                     base[0].outcome.c_str(), base[0].detail.c_str());
        return 1;
    }

    std::vector<Job> list;
    for (size_t k = 0; k < sweep::Kinds().size(); ++k) {
        const Kind& kind = sweep::Kinds()[k];
        if (!only.empty() && only != kind.name) continue;
        for (long use : Picks(uses[k], spread)) {
            for (bool forever : {false, true}) {
                if (forever && kind.source == Kind::LostDisplay && kind.call == seam::Call::Count)
                    continue;
                for (HRESULT result : kind.results)
                    list.push_back(Job{&kind, use, forever, result, "", ""});
            }
        }
    }
    std::vector<long> ignored;
    RunAll(list, jobs, timeoutSeconds, base[0].totalSeconds, &ignored);

    // The table: per kind, its uses in the session, the runs, how they ended.
    std::printf("%-20s %8s %6s  %s\n", "call", "uses", "runs", "how the runs ended");
    int faults = 0;
    for (size_t k = 0; k < sweep::Kinds().size(); ++k) {
        const Kind& kind = sweep::Kinds()[k];
        std::map<std::string, int> endings;
        int runs = 0;
        for (const Job& job : list) {
            if (job.kind != &kind) continue;
            ++runs;
            ++endings[job.outcome];
        }
        std::string ended;
        for (const auto& [outcome, count] : endings) {
            ended += (ended.empty() ? "" : ", ") + std::to_string(count) + " " + outcome;
        }
        std::printf("%-20s %8ld %6d  %s\n", kind.name, uses[k], runs, runs ? ended.c_str() : "-");
    }
    for (const Job& job : list) {
        if (IsSound(job.outcome)) continue;
        if (++faults > 40) continue;
        std::string command = "fault_sweep";
        for (const std::string& arg : Arguments(job)) command += " '" + arg + "'";
        std::printf("FAULT %s (%s, %s): %s\n  %s\n", job.outcome.c_str(),
                    sweep::ResultName(job.result).c_str(), job.forever ? "forever" : "once",
                    job.detail.c_str(), command.c_str());
    }
    const double minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 60.0;
    std::printf("%zu runs, %d faults, %.1f minutes with %d jobs\n", list.size(), faults, minutes,
                jobs);
    return faults == 0 ? 0 : 1;
}
