// The verifier's child process and the reading of its lines.
//
// A run is hostile until proven: it is replayed by our own program, but a fault in that
// program must not become the service's. So each verification runs in a child with:
//   - limits: processor time, address space, open files, bytes written to a file, no core;
//   - a seccomp filter: no sockets (no network at all), no files opened for writing or made,
//     renamed or removed, no signals to other processes, no ptrace;
//   - its own empty folder, its own process group (killed whole at the wall-clock timeout),
//     a bare environment, and SIGKILL when the service itself dies;
//   - its output read up to a cap, past which it is killed.
// Whatever kills it is the run's verdict ("refused", with the reason), never the service's.
//
// The service has threads (the HTTP front, other workers), so the child between fork and
// exec only makes system calls: the filter is compiled once, before any fork.
#include "server/verify.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <poll.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace board {

namespace {

// The filter as BPF, built by libseccomp once and kept for every child.
std::vector<sock_filter> filter;
std::once_flag filter_once;

void BuildFilter() {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (ctx == nullptr) return;
    const uint32_t deny = SCMP_ACT_ERRNO(EACCES);
    for (int call : {SCMP_SYS(socketpair),     SCMP_SYS(ptrace),   SCMP_SYS(kill),
                     SCMP_SYS(tkill),          SCMP_SYS(tgkill),   SCMP_SYS(process_vm_writev),
                     SCMP_SYS(creat),          SCMP_SYS(mkdir),    SCMP_SYS(mkdirat),
                     SCMP_SYS(rename),         SCMP_SYS(renameat), SCMP_SYS(renameat2),
                     SCMP_SYS(unlink),         SCMP_SYS(unlinkat), SCMP_SYS(rmdir),
                     SCMP_SYS(link),           SCMP_SYS(linkat),   SCMP_SYS(symlink),
                     SCMP_SYS(symlinkat),      SCMP_SYS(truncate), SCMP_SYS(chmod),
                     SCMP_SYS(fchmodat),       SCMP_SYS(chown),    SCMP_SYS(fchownat),
                     SCMP_SYS(io_uring_setup), SCMP_SYS(setsid),   SCMP_SYS(setpgid)}) {
        seccomp_rule_add(ctx, deny, call, 0);
    }
    // No socket at all: no network, no local service (a database's own socket included).
    seccomp_rule_add(ctx, deny, SCMP_SYS(socket), 0);
    // openat2 takes its flags in a structure a filter cannot read: gone, so the C library
    // falls back to openat, whose flags it can.
    seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0);
    // A file opened to write, made or cut: refused, whichever of the bits asks for it.
    for (scmp_datum_t bit : {scmp_datum_t{O_WRONLY}, scmp_datum_t{O_RDWR}, scmp_datum_t{O_CREAT},
                             scmp_datum_t{O_TRUNC}}) {
        seccomp_rule_add(ctx, deny, SCMP_SYS(open), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, bit, bit));
        seccomp_rule_add(ctx, deny, SCMP_SYS(openat), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, bit, bit));
    }
    char name[] = "/tmp/vornackle-board-bpf-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) {
        unlink(name);
        if (seccomp_export_bpf(ctx, fd) == 0) {
            const off_t size = lseek(fd, 0, SEEK_END);
            filter.resize(static_cast<size_t>(size) / sizeof(sock_filter));
            if (pread(fd, filter.data(), filter.size() * sizeof(sock_filter), 0) != size) {
                filter.clear();
            }
        }
        close(fd);
    }
    seccomp_release(ctx);
}

struct Child {
    int code = -1;   // exit code, or -1 when killed by a signal
    int signal = 0;  // the signal that ended it
    bool timed_out = false;
    bool too_much_output = false;
    bool not_started = false;
    std::string out, err;
};

// Runs argv in `dir` under the limits; blocks until it ends or is killed.
Child RunLimited(const VerifierConfig &c, const std::string &dir, std::vector<std::string> args) {
    std::call_once(filter_once, BuildFilter);
    Child result;
    if (filter.empty()) {
        result.not_started = true;
        result.err = "the sandbox's filter could not be built";
        return result;
    }
    // Everything the child needs is made before fork: after it, only system calls.
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // No HOME: the program then has no settings file to touch.
    std::vector<std::string> env_strings = {"PATH=/usr/bin:/bin", "SDL_VIDEODRIVER=dummy",
                                            "SDL_AUDIODRIVER=dummy", "LC_ALL=C"};
    std::vector<char *> envp;
    for (std::string &e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    sock_fprog prog{static_cast<unsigned short>(filter.size()), filter.data()};
    const rlimit cpu{static_cast<rlim_t>(c.cpu_seconds), static_cast<rlim_t>(c.cpu_seconds + 1)};
    const rlimit as{static_cast<rlim_t>(c.memory_bytes), static_cast<rlim_t>(c.memory_bytes)};
    const rlimit files{static_cast<rlim_t>(c.open_files), static_cast<rlim_t>(c.open_files)};
    const rlimit fsize{static_cast<rlim_t>(c.written_bytes), static_cast<rlim_t>(c.written_bytes)};
    const rlimit none{0, 0};

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        result.not_started = true;
        result.err = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        result.not_started = true;
        result.err = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    sigset_t no_signals;  // the service holds some back; the verifier gets them all
    sigemptyset(&no_signals);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        sigprocmask(SIG_SETMASK, &no_signals, nullptr);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null < 0 || dup2(null, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) {
            _exit(127);
        }
        // Nothing else of the service's is handed on (its sockets, its database).
        for (int fd = 3; fd < 4096; ++fd) close(fd);
        if (chdir(dir.c_str()) != 0 || setrlimit(RLIMIT_CPU, &cpu) != 0 ||
            setrlimit(RLIMIT_AS, &as) != 0 || setrlimit(RLIMIT_NOFILE, &files) != 0 ||
            setrlimit(RLIMIT_FSIZE, &fsize) != 0 || setrlimit(RLIMIT_CORE, &none) != 0 ||
            prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0) {
            _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        result.not_started = true;
        result.err = std::string("fork: ") + std::strerror(errno);
        return result;
    }
    setpgid(pid, pid);  // also from here, so the group exists before any kill

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(c.wall_seconds);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *into[2] = {&result.out, &result.err};
    int open_pipes = 2;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            result.timed_out = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
        if (static_cast<long>(result.out.size() + result.err.size()) > c.output_bytes) {
            result.too_much_output = true;
            break;
        }
    }
    if (result.timed_out || result.too_much_output) kill(-pid, SIGKILL);
    for (pollfd &p : fds) {
        if (p.fd >= 0) close(p.fd);
    }
    // A child that closed its output may still run: it gets what is left of its time.
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        if (done == 0 && std::chrono::steady_clock::now() >= deadline && !result.timed_out) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
        }
        if (done == 0) usleep(1000);
    }
    // Whatever the child left running in its group goes with it.
    kill(-pid, SIGKILL);
    if (WIFEXITED(status)) result.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::string LastLine(const std::string &text) {
    size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) return "";
    size_t start = text.find_last_of('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, end - start + 1);
}

// "vornackle: run.vnr is damaged: ..." becomes "the file is damaged: ..."; no control bytes,
// and a bounded length, whatever the child printed.
std::string CleanLine(std::string line) {
    const std::string prefix = "vornackle: ";
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
    if (line.rfind("run.vnr", 0) == 0) line.replace(0, 7, "the file");
    std::string clean;
    for (char ch : line) {
        if (clean.size() >= 300) break;
        clean += (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ? ' ' : ch;
    }
    return clean;
}

}  // namespace

Verdict read_verdict(const std::string &out, int code, const std::string &last_error,
                     const std::string &version) {
    Verdict v;
    v.version = version;
    if (code != 0) {
        v.line = CleanLine(last_error);
        if (v.line.empty()) v.line = "the verifier ended with code " + std::to_string(code);
        const bool foreign = v.line.find("another sprite sheet") != std::string::npos ||
                             v.line.find("newer format") != std::string::npos;
        v.state = code == 2 && foreign ? State::incompatible : State::refused;
        return v;
    }
    v.state = State::verified;
    struct Attempt {
        int level, seconds;
    };
    std::vector<Attempt> attempts;
    std::vector<std::pair<size_t, int>> games;  // (index of its last attempt, its total)
    int fastest = -1;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(at, end - at);
        at = end + 1;
        int level = 0, seconds = 0, total = 0;
        char outcome[16] = "";
        if (std::sscanf(line.c_str(), "level %d %15s %d s", &level, outcome, &seconds) == 3) {
            attempts.push_back({level, seconds});
            const size_t mark = line.find("game complete: total ");
            if (mark != std::string::npos &&
                std::sscanf(line.c_str() + mark, "game complete: total %d s", &total) == 1) {
                games.push_back({attempts.size() - 1, total});
            }
        } else if (std::sscanf(line.c_str(), "fastest total: %d s", &total) == 1) {
            fastest = total;
        } else {
            unsigned long long first = 0, length = 0;
            if (std::sscanf(line.c_str(), "counter: first reading %llu, %llu ms to the last",
                            &first, &length) == 2 &&
                first <= 0xFFFFFFFFull) {
                v.has_counter = true;
                v.first = static_cast<uint32_t>(first);
                v.length_ms = length;
            }
        }
    }
    for (const auto &game : games) {
        if (game.second != fastest) continue;
        // The game's attempts are the ones just before its end whose times add up to its
        // total; each level's attempts (a failed one and the one that passed) are added.
        std::vector<int> levels(5, 0);
        int sum = 0;
        for (size_t i = game.first + 1; i-- > 0 && sum < fastest;) {
            sum += attempts[i].seconds;
            if (attempts[i].level >= 1 && attempts[i].level <= 5) {
                levels[attempts[i].level - 1] += attempts[i].seconds;
            }
        }
        v.total = fastest;
        v.levels = levels;
        break;
    }
    return v;
}

Outcome verify_run(const VerifierConfig &config, const std::string &version,
                   const std::string &bytes) {
    Outcome o;
    std::string dir = config.scratch + "/vornackle-verify-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        o.machine = true;
        o.detail = "cannot make a folder in " + config.scratch + ": " + std::strerror(errno);
        return o;
    }
    const std::string file = dir + "/run.vnr";
    bool ready = false;
    if (FILE *f = std::fopen(file.c_str(), "wb")) {
        ready = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        ready = std::fclose(f) == 0 && ready;
    }
    if (ready && !config.sheet.empty()) {
        ready = symlink(config.sheet.c_str(), (dir + "/playersprite.bmp").c_str()) == 0;
    }
    if (!ready) {
        o.machine = true;
        o.detail = "cannot write the run into " + dir + ": " + std::strerror(errno);
    } else {
        Child child = RunLimited(config, dir, {config.program, "--verify", "run.vnr"});
        if (child.not_started || child.code == 127 || child.code == 3 || child.code == 4) {
            o.machine = true;
            o.detail = child.not_started ? child.err
                       : child.code == 127
                           ? "the verifier " + config.program + " could not be started"
                           : "the verifier could not finish (code " + std::to_string(child.code) +
                                 "): " + LastLine(child.err);
        } else if (child.timed_out) {
            o.verdict = {State::refused,
                         version,
                         -1,
                         {},
                         "the verifier ran past its " + std::to_string(config.wall_seconds) +
                             " s and was stopped"};
        } else if (child.too_much_output) {
            o.verdict = {State::refused,
                         version,
                         -1,
                         {},
                         "the verifier printed more than " + std::to_string(config.output_bytes) +
                             " bytes and was stopped"};
        } else if (child.signal == SIGXCPU || child.signal == SIGKILL) {
            o.verdict = {State::refused,
                         version,
                         -1,
                         {},
                         "the verifier ran past its processor time (" +
                             std::to_string(config.cpu_seconds) + " s)"};
        } else if (child.signal != 0) {
            o.verdict = {State::refused,
                         version,
                         -1,
                         {},
                         std::string("the verifier died: ") + strsignal(child.signal)};
        } else {
            o.verdict = read_verdict(child.out, child.code, LastLine(child.err), version);
        }
    }
    unlink(file.c_str());
    unlink((dir + "/playersprite.bmp").c_str());
    rmdir(dir.c_str());
    return o;
}

std::string verifier_version(const VerifierConfig &config) {
    char dir[] = "/tmp/vornackle-version-XXXXXX";
    if (mkdtemp(dir) == nullptr) return "";
    Child child = RunLimited(config, dir, {config.program, "--version"});
    rmdir(dir);
    std::string line = LastLine(child.out);
    if (child.code != 0 || line.empty()) return "";
    const size_t space = line.rfind(' ');
    return space == std::string::npos ? line : line.substr(space + 1);
}

}  // namespace board
