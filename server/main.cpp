// vornackle-board: the hall of fame's service.
//
//   vornackle-board serve    [OPTION]...   the HTTP front and verification workers
//   vornackle-board work     [OPTION]...   verification workers only (more machines, one queue)
//   vornackle-board reverify [OPTION]...   every stored run through the current verifier
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "server/service.h"

namespace {

const char kUsage[] =
    "Usage: vornackle-board [serve|work|reverify] [OPTION]...\n"
    "The hall of fame: ranks the fastest games, each proven by replaying its run.\n"
    "\n"
    "  serve      answer HTTP and verify submitted runs (the default)\n"
    "  work       verify runs only (more workers on a shared PostgreSQL)\n"
    "  reverify   replay every stored run with the current verifier; those that no\n"
    "             longer reproduce become incompatible (kept, not ranked)\n"
    "\n"
    "  --db DATABASE       sqlite:PATH (default sqlite:board.db) or postgresql:CONNINFO\n"
    "  --listen ADDRESS[:PORT]  IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N            port (default 8080; 0 picks a free one and prints it)\n"
    "  --threads N         HTTP threads (default 2)\n"
    "  --workers N         verification workers (default 2; serve with 0 only answers)\n"
    "  --verifier PATH     the vornackle program that verifies (default: beside this one)\n"
    "  --sheet PATH        its sprite sheet, when it has none beside it\n"
    "  --site DIR          serve the web build from DIR under /site/\n"
    "  --max-body BYTES    largest run file taken (default 262144)\n"
    "  --rate N            submissions a minute from one address (default 10)\n"
    "  --burst N           submissions one address may send at once (default 5)\n"
    "  --max-waiting N     runs waiting at most; past that 503 (default 1000)\n"
    "  --board-size N      entries on the page (default 100)\n"
    "  --timeout SECONDS   wall-clock limit of one verification (default 30)\n"
    "  --challenge-ttl SECONDS  how long a live game's challenge holds (default 7200)\n"
    "  --clock-offset SECONDS   for tests: the board's clock runs this far ahead\n"
    "                      (negative: behind) of the machine's\n"
    "  --behind-proxy      a submitter's address is the last of X-Forwarded-For (only\n"
    "                      for a board that a reverse proxy alone can reach)\n";

std::string ProgramDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string dir = path;
    return dir.substr(0, dir.rfind('/'));
}

bool Number(const char *text, long low, long high, long *value) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

int64_t Seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int Reverify(board::Store &store, const board::VerifierConfig &verifier,
             const std::string &version) {
    int kept = 0, incompatible = 0, skipped = 0;
    for (int64_t id : store.reverify_list()) {
        std::string bytes;
        if (!store.run_bytes(id, &bytes)) continue;
        board::Outcome o = board::verify_run(verifier, version, bytes);
        if (o.machine) {
            std::fprintf(stderr, "vornackle-board: run %lld not replayed: %s\n",
                         static_cast<long long>(id), o.detail.c_str());
            ++skipped;
            continue;
        }
        if (o.verdict.state != board::State::verified) o.verdict.state = board::State::incompatible;
        store.set_reverified(id, o.verdict, Seconds());
        if (o.verdict.state == board::State::verified) {
            ++kept;
        } else {
            ++incompatible;
            std::printf("run %lld incompatible: %s\n", static_cast<long long>(id),
                        o.verdict.line.c_str());
        }
    }
    std::printf("reverify: %d reproduce, %d incompatible, %d not replayed (verifier %s)\n", kept,
                incompatible, skipped, version.c_str());
    return skipped == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // serve is the command when none is named.
    const bool named = argc >= 2 && argv[1][0] != '-';
    const std::string command = named ? argv[1] : "serve";
    if (command != "serve" && command != "work" && command != "reverify") {
        std::fprintf(stderr, "vornackle-board: unknown command '%s'\n%s", argv[1], kUsage);
        return 2;
    }
    std::string db = "sqlite:board.db", listen = "127.0.0.1", site;
    long port = 8080, threads = 2;
    board::Limits limits;
    board::WorkerConfig work;
    work.verifier.program = ProgramDirectory() + "/vornackle";
    for (int i = named ? 2 : 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--behind-proxy") {
            limits.behind_proxy = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vornackle-board: %s needs a value\n", opt.c_str());
            return 2;
        }
        const char *value = argv[++i];
        long n = 0;
        bool ok = true;
        if (opt == "--db") {
            db = value;
        } else if (opt == "--listen") {
            listen = value;
            const size_t colon = listen.rfind(':');
            if (colon != std::string::npos) {
                ok = Number(listen.c_str() + colon + 1, 0, 65535, &port);
                listen.resize(colon);
            }
        } else if (opt == "--site") {
            site = value;
        } else if (opt == "--verifier") {
            work.verifier.program = value;
        } else if (opt == "--sheet") {
            work.verifier.sheet = value;
        } else if (opt == "--port") {
            ok = Number(value, 0, 65535, &port);
        } else if (opt == "--threads") {
            ok = Number(value, 1, 64, &threads);
        } else if (opt == "--workers" && (ok = Number(value, 0, 64, &n))) {
            work.workers = static_cast<int>(n);
        } else if (opt == "--max-body" && (ok = Number(value, 16, 4 << 20, &n))) {
            limits.max_body = n;
        } else if (opt == "--rate" && (ok = Number(value, 1, 1000000, &n))) {
            limits.rate_per_minute = static_cast<double>(n);
        } else if (opt == "--burst" && (ok = Number(value, 1, 1000000, &n))) {
            limits.burst = static_cast<int>(n);
        } else if (opt == "--max-waiting" && (ok = Number(value, 1, 10000000, &n))) {
            limits.max_waiting = static_cast<int>(n);
        } else if (opt == "--board-size" && (ok = Number(value, 1, 1000, &n))) {
            limits.board_size = static_cast<int>(n);
        } else if (opt == "--challenge-ttl" && (ok = Number(value, 1, 30 * 86400, &n))) {
            limits.challenge_ttl = static_cast<int>(n);
        } else if (opt == "--clock-offset" &&
                   (ok = Number(value, -10L * 365 * 86400, 10L * 365 * 86400, &n))) {
            limits.clock_offset = n;
        } else if (opt == "--timeout" && (ok = Number(value, 1, 3600, &n))) {
            work.verifier.wall_seconds = static_cast<int>(n);
            work.lease_seconds = static_cast<int>(n) * 2 + 30;
        } else if (ok) {
            std::fprintf(stderr, "vornackle-board: unknown option '%s'\n", opt.c_str());
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "vornackle-board: %s takes a number in range, not '%s'\n",
                         opt.c_str(), value);
            return 2;
        }
    }

    std::unique_ptr<board::Store> store;
    try {
        store = board::open_store(db);
    } catch (const board::StoreError &e) {
        std::fprintf(stderr, "vornackle-board: %s\n", e.what());
        return 1;
    }
    std::string version;
    if (command != "serve" || work.workers > 0) {
        version = board::verifier_version(work.verifier);
        if (version.empty()) {
            std::fprintf(stderr, "vornackle-board: the verifier %s does not run\n",
                         work.verifier.program.c_str());
            return 1;
        }
    }
    if (command == "reverify") {
        try {
            return Reverify(*store, work.verifier, version);
        } catch (const board::StoreError &e) {
            std::fprintf(stderr, "vornackle-board: %s\n", e.what());
            return 1;
        }
    }

    // SIGINT and SIGTERM end it cleanly: runs being verified are finished first. They are
    // held back from every thread and taken here, in the main one.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    signal(SIGPIPE, SIG_IGN);

    board::Doorbell bell;
    std::unique_ptr<board::Front> front;
    if (command == "serve") {
        front = std::make_unique<board::Front>(*store, limits, bell, site);
        if (!front->start(listen, static_cast<int>(port), static_cast<int>(threads))) return 1;
        std::printf("vornackle-board: http://%s:%d/ (%s, %d workers, verifier %s)\n",
                    listen.c_str(), front->port(), db.substr(0, db.find(':')).c_str(), work.workers,
                    version.c_str());
        std::fflush(stdout);
    }
    {
        board::Workers workers(*store, work, version, bell);
        int which = 0;
        sigwait(&ending, &which);
    }
    front.reset();
    return 0;
}
