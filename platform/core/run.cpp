// Recorded runs in the core: the recorder beside every read the game makes,
// and the replay that answers those reads from a file (run.h).
//
// One file on purpose: each read's hook records and replays in a few lines
// side by side, so that a reader sees at once that the two agree; the
// file's bytes are run_file.cpp's. The replay also refuses what the
// platform could not have recorded (docs/RUNS.md, "What a replay refuses").
#include "platform/core/run.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/core/core.h"
#include "platform/core/ddraw_objects.h"
#include "platform/core/run_file.h"

#ifdef _WIN32
// The one system call a recording needs there: std::rename does not replace.
extern "C" __declspec(dllimport) int __stdcall MoveFileExA(const char* from, const char* to,
                                                           unsigned long flags);
#endif

// Every key the core lets the game poll has its place in the file.
static_assert(sizeof standin::kKeys / sizeof standin::kKeys[0] == runfile::kKeyCount);

namespace runs {

Mode mode = Mode::Off;

namespace {

constexpr int kLevelSeconds = 30;
// After a cut file's last read, the reads still go as expected until the
// picture they led to is shown; past this many without one the replay stops.
constexpr long kReadsAfterCut = 1000000;

// --- what the platform can record (docs/RUNS.md gives the reasons) ---------------
// The counter moves on 64 times a second by 1000/64 ms, each reading the
// whole milliseconds: from a step's place in its cycle of eight (which adds
// up to 125 ms) only some differences can follow.
constexpr std::uint64_t kCycleSteps = 8;
constexpr std::uint64_t kCycleMilliseconds = 125;
// A difference of 2^31 ms or more reads, to every program, as the counter
// going back: no pause of a machine (a window held by a drag, a suspended
// laptop) may be that long.
constexpr std::uint32_t kLongestStep = 0x7FFFFFFFu;
// Reads with neither a picture nor a step of the counter: only a screen that
// waits for a key makes them, polling at most a few hundred times a second
// (each poll past the hundredth waits 10 ms for an event): 2^24 is a day of it.
constexpr std::uint64_t kMostReadsWaiting = std::uint64_t{1} << 24;
// No display shows more than 1000 pictures a second; 64 more before the
// counter's first step.
constexpr std::uint64_t kPicturesBeforeTime = 64;
// The work a file may ask for: each read counts 1, each picture (which the
// game draws whole, as dear as some 1000 reads) kPictureWork; at most
// kFreeWork (a day's wait for a key) plus kWorkPerByte for each byte of the
// file. A genuine run asks for less (the bot's game about 500 a byte, a
// title screen at 60 pictures a second, a picture for each one-byte step of
// the counter, about 1,000).
constexpr std::uint64_t kPictureWork = 1024;
#ifdef VORNACKLE_FUZZ_FREE_WORK
// Only a fuzzing build (tools/fuzz) sets it lower, so that a tiny file
// cannot buy seconds of replay there; the rule is the same.
constexpr std::uint64_t kFreeWork = VORNACKLE_FUZZ_FREE_WORK;
#else
constexpr std::uint64_t kFreeWork = std::uint64_t{1} << 26;
#endif
constexpr std::uint64_t kWorkPerByte = 2048;
// --play waits at most this long for one step; a longer pause is shortened.
constexpr std::uint32_t kLongestShownPause = 1000;

enum class Stop { No, End, Cut, Parted, Refused, Interrupted, Unable };

struct Recorder {
    runfile::Writer writer;
    std::string path;     // the run's name
    std::string partial;  // where it is written until it ends (empty: the path itself)
    DWORD tick = 0;
    bool keys[runfile::kKeyCount] = {};
    long pictures = 0;
    bool toldFailure = false;
};

struct Replayer {
    runfile::Stream stream;
    runfile::Run header;
    std::string path;
    bool verify = false;
    std::uint32_t readsLeft = 0;
    DWORD tick = 0;
    bool keys[runfile::kKeyCount] = {};
    Stop stop = Stop::No;
    std::string said;         // how the replay parted, or why it was refused
    long readsAfterCut = -1;  // >= 0 once the file's events ran out
    long pictures = 0;
    // The platform's rules: the counter's possible places in its cycle (bit
    // k: k steps past a multiple of eight; 0 before the counter's first
    // reading), the milliseconds since then, the reads since the last
    // picture or step, and the work so far against the file's allowance.
    std::uint8_t phases = 0;
    std::uint64_t elapsed = 0;
    DWORD first = 0;  // the counter's first reading
    std::uint64_t waitingReads = 0;
    std::uint64_t work = 0, allowance = 0;
    // Pace: the recorded milliseconds since the first read of the counter
    // fall due this long after the replay's start.
    bool paceStarted = false;
    std::uint64_t paceStart = 0;
    std::uint64_t paceMilliseconds = 0;
    // The verification's account.
    int fastest = -1;
    std::chrono::steady_clock::time_point started;
};

Recorder* recorder = nullptr;
Replayer* replayer = nullptr;
std::FILE* lines = nullptr;       // null: stdout
std::FILE* complaints = nullptr;  // null: stderr
bool (*readGame)(GameRecord*) = nullptr;
int refusal = kRefused;
volatile std::sig_atomic_t interrupted = 0;

std::FILE* Lines() {
    return lines != nullptr ? lines : stdout;
}
std::FILE* Complaints() {
    return complaints != nullptr ? complaints : stderr;
}

void OnInterrupt(int) {
    interrupted = 1;
}

std::uint64_t SheetHash() {
    std::vector<std::string> candidates = standin::DataFileCandidates("playersprite.bmp");
    candidates.push_back("playersprite.bmp");
    for (const std::string& path : candidates) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) continue;
        std::vector<std::uint8_t> bytes;
        std::uint8_t chunk[65536];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        std::fclose(file);
        return runfile::Hash64(bytes.data(), bytes.size());
    }
    return 0;
}

// The picture on the screen: FNV-1a over its palette indices, row by row.
std::uint32_t ScreenChecksum() {
    std::uint32_t hash = 2166136261u;
    const standin::Device* device = standin::liveDevice;
    const standin::Surface* screen = device != nullptr ? device->primary : nullptr;
    if (screen == nullptr || screen->pixels == nullptr) return hash;
    for (int y = 0; y < screen->height; ++y) {
        const BYTE* row = screen->pixels.get() + static_cast<std::size_t>(y) * screen->pitch;
        for (int x = 0; x < screen->width; ++x) hash = (hash ^ row[x]) * 16777619u;
    }
    return hash;
}

bool OutcomeOf(UINT type, runfile::Outcome* outcome) {
    switch (type) {
        case MB_ICONHAND:
            *outcome = runfile::Outcome::Failed;
            return true;
        case MB_ICONASTERISK:
            *outcome = runfile::Outcome::LevelComplete;
            return true;
        case MB_ICONEXCLAMATION:
            *outcome = runfile::Outcome::GameComplete;
            return true;
        default:
            return false;
    }
}

GameRecord ReadGame() {
    GameRecord record;
    record.secondsLeft = kLevelSeconds;
    if (readGame != nullptr && !readGame(&record)) record = GameRecord{0, kLevelSeconds, 0};
    return record;
}

// --- recording ------------------------------------------------------------------

void TellWriteFailure() {
    Recorder& r = *recorder;
    if (!r.writer.Failed() || r.toldFailure) return;
    r.toldFailure = true;
    std::fprintf(Complaints(),
                 "vornackle: recording to %s stopped: %s; the run up to here stays readable%s%s\n",
                 r.path.c_str(), std::strerror(r.writer.Error()), r.partial.empty() ? "" : " in ",
                 r.partial.c_str());
}

// Puts a whole recording in place of its run's name, replacing what was there.
bool PutInPlace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), 0x1 | 0x8) != 0;  // replace, write through
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void EndRecording(int exitCode) {
    if (recorder == nullptr) return;
    Recorder& r = *recorder;
    if (!r.writer.IsOpen()) return;
    r.writer.End(exitCode);
    TellWriteFailure();
    if (r.partial.empty()) return;
    // Only a whole recording replaces a run already there.
    if (r.writer.Failed()) return;
    if (!PutInPlace(r.partial, r.path)) {
        std::fprintf(Complaints(),
                     "vornackle: cannot put the recording in place of %s: %s; it is in %s\n",
                     r.path.c_str(), std::strerror(errno), r.partial.c_str());
    }
}

void RecordAtExit() {
    // The system ended a program that left a close request unanswered.
    if (mode == Mode::Recording) EndRecording(0);
}

// --- replaying ------------------------------------------------------------------

void StopReplay(Stop why, const std::string& said = {}) {
    Replayer& r = *replayer;
    if (r.stop != Stop::No) return;
    r.stop = why;
    r.said = said;
    // From here the game sees Esc held and the clock running, which ends it
    // from any screen.
    for (bool& key : r.keys) key = false;
    r.keys[runfile::KeySlot(VK_ESCAPE)] = true;
}

const char* ReadName(int slot) {
    static const char* const kNames[] = {"Left",      "Right", "Enter", "Space",
                                         "Backspace", "Esc",   "M"};
    return slot < 0 ? (slot == -1 ? "the counter" : "the messages") : kNames[slot];
}

std::string Where() {
    return "at picture " + std::to_string(replayer->pictures);
}

// A run the platform could not have recorded: where in the file, and why.
void Impossible(const char* format, unsigned long long a = 0, unsigned long long b = 0) {
    Replayer& r = *replayer;
    char why[200];
    std::snprintf(why, sizeof why, format, a, b);
    StopReplay(Stop::Refused, "at byte " + std::to_string(r.stream.Offset()) + " (picture " +
                                  std::to_string(r.pictures) + ") " + why);
}

// Counts `reads` more reads against the rules; false when the run is refused.
bool Afford(std::uint64_t reads) {
    Replayer& r = *replayer;
    r.waitingReads += reads;
    r.work += reads;
    if (r.waitingReads > kMostReadsWaiting) {
        Impossible(
            "%llu reads come with neither a picture nor a step of the counter: more "
            "than a screen waiting a day for a key makes",
            r.waitingReads);
    } else if (r.work > r.allowance) {
        Impossible(
            "the run asks for more reads and pictures than a file of its size may "
            "(%llu work units against %llu)",
            r.work, r.allowance);
    }
    return r.stop == Stop::No;
}

// The counter moved on by `step` ms: from which places in its cycle it can.
bool StepFrom(std::uint64_t phase, std::uint64_t step, std::uint64_t* to) {
    const auto at = [phase](std::uint64_t steps) {
        return (phase + steps) * kCycleMilliseconds / kCycleSteps -
               phase * kCycleMilliseconds / kCycleSteps;
    };
    const std::uint64_t guess = step * kCycleSteps / kCycleMilliseconds;
    for (std::uint64_t steps = guess > 0 ? guess - 1 : 0; steps <= guess + 2; ++steps) {
        if (steps >= 1 && at(steps) == step) {
            *to = (phase + steps) % kCycleSteps;
            return true;
        }
    }
    return false;
}

// A step of the counter in the file (its first reading when `phases` is 0).
bool CounterStep(std::uint32_t step) {
    Replayer& r = *replayer;
    r.waitingReads = 0;
    ++r.work;
    if (r.phases == 0) {
        // Any reading: the machine may have run for any time, its counter
        // wrapped any number of times.
        r.phases = 0xFF;
        r.first = step;
        return true;
    }
    if (step > kLongestStep) {
        Impossible("the counter goes back by %llu ms", 0x100000000ull - step);
        return false;
    }
    std::uint8_t next = 0;
    for (std::uint64_t phase = 0; phase < kCycleSteps; ++phase) {
        std::uint64_t to;
        if ((r.phases >> phase & 1) != 0 && StepFrom(phase, step, &to)) next |= 1 << to;
    }
    if (next == 0) {
        Impossible(
            "the counter moves on by %llu ms, which its 1/64 s steps (15 or 16 ms each, "
            "125 ms in eight) cannot give after its readings before",
            step);
        return false;
    }
    r.phases = next;
    r.elapsed += step;
    return true;
}

// Takes the reads the stream has before its next other event.
void TakeReads() {
    Replayer& r = *replayer;
    while (r.readsLeft == 0 && r.stop == Stop::No) {
        const runfile::Event* event = r.stream.Peek();
        if (event == nullptr || event->kind != runfile::Event::Reads) return;
        if (!Afford(event->value)) return;
        r.readsLeft = event->value;
        r.stream.Pop();
    }
}

// True when the next read goes as the last of its kind went (or the replay
// has stopped); otherwise the stream's next event answers it.
bool Expected() {
    Replayer& r = *replayer;
    TakeReads();
    if (r.stop != Stop::No) return true;
    if (r.readsLeft > 0) {
        --r.readsLeft;
        return true;
    }
    if (r.stream.Peek() != nullptr) {
        ++r.work;
        return false;
    }
    // The file stops here: the reads that led to its last picture follow.
    if (r.readsAfterCut < 0) r.readsAfterCut = 0;
    if (++r.readsAfterCut > kReadsAfterCut) StopReplay(Stop::Cut);
    return true;
}

// A read (slot -1: the counter, -2: the messages, else a key's) that the
// recording answers otherwise: the replay has parted from it, or it ended.
void Unexpected(int slot) {
    Replayer& r = *replayer;
    const runfile::Event& event = *r.stream.Peek();
    if (event.kind == runfile::Event::End) {
        // The system ended the recorded program on a close request it left
        // unanswered; the replay ends there too.
        if (standin::windowState.closePending) {
            StopReplay(Stop::End);
            return;
        }
        StopReplay(Stop::Parted, Where() + " the game reads " + ReadName(slot) +
                                     " where the recorded run had ended");
        return;
    }
    static const char* const kKinds[] = {"reads",           "the counter",   "a key",
                                         "a close request", "a level's end", "the run's end"};
    StopReplay(Stop::Parted, Where() + " the game reads " + ReadName(slot) +
                                 " where the recording has " + kKinds[event.kind]);
}

void Pace(std::uint32_t milliseconds) {
    Replayer& r = *replayer;
    if (r.verify) return;
    const std::uint64_t now = standin::activeClock.microseconds();
    if (!r.paceStarted) {
        r.paceStarted = true;
        r.paceStart = now;
        return;
    }
    if (milliseconds > kLongestShownPause) {
        std::fprintf(
            Complaints(), "vornackle: %s: a pause of %.1f s at picture %ld is shown as %.1f s\n",
            r.path.c_str(), milliseconds / 1000.0, r.pictures, kLongestShownPause / 1000.0);
        milliseconds = kLongestShownPause;
    }
    r.paceMilliseconds += milliseconds;
    const std::uint64_t due = r.paceStart + r.paceMilliseconds * 1000;
    // Behind by more than a moment (a slow machine, a stop in a debugger):
    // the pace picks up from here rather than hurrying.
    if (now > due + 100000) r.paceStart += now - due;
    if (now < due) standin::activeClock.sleepUntil(due);
}

void PrintAttempt(runfile::Outcome outcome, int level, int seconds, int total) {
    Replayer& r = *replayer;
    static const char* const kOutcomes[] = {"failed", "complete", "complete"};
    std::fprintf(Lines(), "level %d  %-8s  %2d s", level, kOutcomes[static_cast<int>(outcome)],
                 seconds);
    if (outcome == runfile::Outcome::GameComplete) {
        std::fprintf(Lines(), "  game complete: total %d s", total);
        if (r.fastest < 0 || total < r.fastest) r.fastest = total;
    }
    std::fprintf(Lines(), "\n");
}

}  // namespace

// --- starting and finishing ---------------------------------------------------------

void ReadGameWith(bool (*read)(GameRecord*)) {
    readGame = read;
}

bool Record(const char* path, const char* programVersion, const char* commandLine) {
    Forget();
    recorder = new Recorder;
    recorder->path = path;
    // A run already there stays until a whole new one replaces it; a device
    // or a pipe (not a file to replace) is written straight.
    struct stat target;
    if (stat(path, &target) != 0 || S_ISREG(target.st_mode)) {
        recorder->partial = std::string(path) + ".partial";
    }
    const std::string& file = recorder->partial.empty() ? recorder->path : recorder->partial;
    if (!recorder->writer.Open(file.c_str(), programVersion, SheetHash(), commandLine)) {
        std::fprintf(Complaints(),
                     "vornackle: cannot record to %s: %s; playing without recording\n",
                     file.c_str(), std::strerror(errno));
        Forget();
        return false;
    }
    TellWriteFailure();
    mode = Mode::Recording;
    static bool atExit = false;
    if (!atExit) atExit = std::atexit(RecordAtExit) == 0;
    return true;
}

bool Replay(const char* path, bool verify, char* commandLine) {
    Forget();
    refusal = kRefused;
    runfile::Status status = runfile::Status::Missing;
    bool memory = true;
    try {
        replayer = new Replayer;
        status = replayer->stream.Open(path, &replayer->header);
    } catch (const std::bad_alloc&) {
        memory = false;
    }
    if (!memory) {
        std::fprintf(Complaints(),
                     "vornackle: %s: this machine could not carry out the replay: out of memory "
                     "reading the file\n",
                     path);
        Forget();
        refusal = kUnable;
        return false;
    }
    if (runfile::Readable(status) && replayer->header.sheetHash != SheetHash()) {
        status = runfile::Status::OtherSheet;
    }
    if (!runfile::Readable(status)) {
        std::fprintf(Complaints(), "vornackle: %s %s\n", path, runfile::Describe(status));
        Forget();
        return false;
    }
    if (commandLine != nullptr) {
        std::snprintf(commandLine, kCommandLineSize, "%s", replayer->header.commandLine.c_str());
    }
    Replayer& r = *replayer;
    r.path = path;
    r.verify = verify;
    r.allowance = kFreeWork + kWorkPerByte * r.stream.FileSize();
    r.started = std::chrono::steady_clock::now();
    interrupted = 0;
    // Unpaced: a clock that stands still, so that no wait of the core waits.
    if (verify)
        standin::UseClock(
            standin::Clock{[] { return std::uint64_t{0}; }, [](std::uint64_t) {}, [](int) {}});
    mode = Mode::Replaying;
    return true;
}

int RefusalCode() {
    return refusal;
}

void CatchInterrupts() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

int Finish(int exitCode) {
    if (mode == Mode::Recording) {
        EndRecording(exitCode);
        Forget();
        return exitCode;
    }
    if (mode != Mode::Replaying) return exitCode;
    Replayer& r = *replayer;
    int result = exitCode;
    if (r.stop == Stop::No) {
        TakeReads();
        const runfile::Event* next = r.stream.Peek();
        if (r.stop != Stop::No) {
            // refused while taking the last reads
        } else if (next != nullptr && next->kind == runfile::Event::End && r.readsLeft == 0) {
            r.stop = Stop::End;
            result = static_cast<int>(next->value);
        } else if (next == nullptr && !r.header.complete) {
            r.stop = Stop::Cut;
        } else if (exitCode != 0) {
            // The game could not go on here (a display it could not open,
            // presenting that failed), which its recording went past.
            r.stop = Stop::Unable;
            r.said = Where() + " the game stopped with exit code " + std::to_string(exitCode) +
                     " before the recorded run's end";
        } else {
            r.stop = Stop::Parted;
            r.said = Where() + " the game ended before the recorded run did";
        }
    }
    if (r.verify) {
        if (r.fastest >= 0) {
            std::fprintf(Lines(), "fastest total: %d s\n", r.fastest);
        } else {
            std::fprintf(Lines(), "fastest total: none (no game completed)\n");
        }
        // Where the counter started and how far it went: a hall of fame checks these
        // against the start it gave and the time the run took to reach it.
        std::fprintf(Lines(), "counter: first reading %lu, %llu ms to the last\n",
                     static_cast<unsigned long>(r.first),
                     static_cast<unsigned long long>(r.elapsed));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - r.started).count();
        std::fprintf(Lines(),
                     "%ld pictures in %.2f s: %.0f pictures per second (the game's own pace: 32)\n",
                     r.pictures, seconds, seconds > 0 ? r.pictures / seconds : 0.0);
        result = kMatched;
    }
    std::fflush(Lines());
    const char* path = r.path.c_str();
    switch (r.stop) {
        case Stop::No:
        case Stop::End:
            break;
        case Stop::Parted:
            std::fprintf(Complaints(), "vornackle: %s: the replay differs from the recording: %s\n",
                         path, r.said.c_str());
            result = kDiffers;
            break;
        case Stop::Cut:
            std::fprintf(Complaints(), "vornackle: %s %s (replayed to the cut, %ld pictures)\n",
                         path, runfile::Describe(runfile::Status::Cut), r.pictures);
            result = kRefused;
            break;
        case Stop::Refused:
            std::fprintf(Complaints(),
                         "vornackle: %s is not a run this program could have recorded: %s\n", path,
                         r.said.c_str());
            result = kRefused;
            break;
        case Stop::Interrupted:
            std::fprintf(Complaints(), "vornackle: %s: the replay was interrupted at picture %ld\n",
                         path, r.pictures);
            result = kInterrupted;
            break;
        case Stop::Unable:
            std::fprintf(Complaints(),
                         "vornackle: %s: this machine could not carry out the replay: %s\n", path,
                         r.said.c_str());
            result = kUnable;
            break;
    }
    Forget();
    return result;
}

void SetOutput(std::FILE* replayLines, std::FILE* oneLineComplaints) {
    lines = replayLines;
    complaints = oneLineComplaints;
}

void Forget() {
    delete recorder;
    recorder = nullptr;
    delete replayer;
    replayer = nullptr;
    mode = Mode::Off;
}

// --- the reads ------------------------------------------------------------------------

// A close request the recording has before this read is made now; a signal
// that came stops the replay.
static void BeforeRead() {
    Replayer& r = *replayer;
    if (interrupted != 0) LiveEscape();
    while (r.stop == Stop::No) {
        TakeReads();
        const runfile::Event* event = r.stream.Peek();
        if (r.stop != Stop::No || r.readsLeft != 0 || event == nullptr ||
            event->kind != runfile::Event::Close) {
            return;
        }
        // The window takes one close request until the game answers it, and
        // none before it exists or after it is gone.
        if (!standin::windowState.exists || standin::windowState.closePending) {
            Impossible(standin::windowState.exists
                           ? "a close request comes while one is still unanswered"
                           : "a close request comes with no window to close");
            return;
        }
        r.stream.Pop();
        standin::RequestClose();
    }
}

DWORD Tick(DWORD live) {
    if (mode == Mode::Recording) {
        Recorder& r = *recorder;
        if (live == r.tick) {
            r.writer.ExpectedRead();
        } else {
            r.writer.Tick(live - r.tick);
            r.tick = live;
        }
        return live;
    }
    if (mode != Mode::Replaying) return live;
    Replayer& r = *replayer;
    BeforeRead();
    if (r.stop == Stop::No) {
        if (Expected()) {
            if (r.stop == Stop::No) {
                if (r.phases == 0) r.phases = 0xFF;  // the first reading: 0
                return r.tick;
            }
        } else {
            const runfile::Event& event = *r.stream.Peek();
            if (event.kind == runfile::Event::Tick) {
                if (CounterStep(event.value)) {
                    r.stream.Pop();
                    r.tick += event.value;
                    Pace(event.value);
                    return r.tick;
                }
            } else {
                Unexpected(-1);
            }
        }
    }
    r.tick += 16;  // the clock runs on while the game ends
    return r.tick;
}

bool Key(int vk, bool live) {
    const int slot = runfile::KeySlot(vk);
    if (mode == Mode::Recording) {
        Recorder& r = *recorder;
        if (live == r.keys[slot]) {
            r.writer.ExpectedRead();
        } else {
            r.writer.Key(slot);
            r.keys[slot] = live;
        }
        return live;
    }
    if (mode != Mode::Replaying) return live;
    Replayer& r = *replayer;
    BeforeRead();
    if (r.stop == Stop::No && !Expected()) {
        const runfile::Event& event = *r.stream.Peek();
        if (event.kind == runfile::Event::Key && event.a == slot) {
            r.stream.Pop();
            r.keys[slot] = !r.keys[slot];
        } else {
            Unexpected(slot);
        }
    }
    return r.keys[slot];
}

void MessageRead() {
    if (mode == Mode::Recording) {
        recorder->writer.ExpectedRead();
    } else if (mode == Mode::Replaying) {
        BeforeRead();
        if (replayer->stop == Stop::No && !Expected()) Unexpected(-2);
    }
}

// --- what else the core sees --------------------------------------------------------

void NoteCloseRequest() {
    if (mode == Mode::Recording) recorder->writer.CloseRequest();
}

void NotePicture() {
    if (mode == Mode::Recording) {
        Recorder& r = *recorder;
        if (++r.pictures % 64 == 0) r.writer.Checkpoint();
        r.writer.Flush();
        TellWriteFailure();
    } else if (mode == Mode::Replaying) {
        Replayer& r = *replayer;
        if (r.stop != Stop::No) return;
        ++r.pictures;
        r.waitingReads = 0;
        r.work += kPictureWork;
        if (static_cast<std::uint64_t>(r.pictures) > kPicturesBeforeTime + r.elapsed) {
            Impossible("%llu pictures in %llu ms of the run's time: more than any display shows",
                       static_cast<unsigned long long>(r.pictures), r.elapsed);
        } else if (r.work > r.allowance) {
            Afford(0);
        } else if (r.readsAfterCut >= 0) {
            StopReplay(Stop::Cut);
        }
    }
}

void NoteBeep(UINT type) {
    runfile::Outcome outcome;
    if (mode == Mode::Off || !OutcomeOf(type, &outcome)) return;
    // The attempt as the game keeps it.
    const GameRecord game = ReadGame();
    const int level = game.level & 0xFF;
    const int seconds = (kLevelSeconds - game.secondsLeft) & 0xFF;
    const std::uint32_t checksum = ScreenChecksum();
    if (mode == Mode::Recording) {
        recorder->writer.LevelEnd(outcome, level, seconds, checksum);
        recorder->writer.Checkpoint();
        return;
    }
    Replayer& r = *replayer;
    if (r.stop != Stop::No) return;
    // A close request that came with the outcome's picture (the window's
    // events are taken as it is shown) was recorded before the level's end.
    BeforeRead();
    if (r.stop != Stop::No) return;
    const runfile::Event* next = r.stream.Peek();
    if (r.readsLeft != 0 || next == nullptr || next->kind != runfile::Event::LevelEnd) {
        // A cut file ends with what it has: nothing to compare.
        if (next == nullptr && !r.header.complete) return;
        StopReplay(Stop::Parted, Where() + " a level ends where the recording has none");
        return;
    }
    const runfile::Event end = *next;
    r.stream.Pop();
    if (end.a != static_cast<std::uint8_t>(outcome) || end.b != level || end.c != seconds ||
        end.value != checksum) {
        char what[160];
        std::snprintf(what, sizeof what,
                      " level %d ends %s after %d s with picture %08x, recorded: level %d, "
                      "%s after %d s, picture %08x",
                      level, outcome == runfile::Outcome::Failed ? "failed" : "complete", seconds,
                      checksum, end.b, end.a == 0 ? "failed" : "complete", end.c, end.value);
        StopReplay(Stop::Parted, Where() + what);
        return;
    }
    if (r.verify) PrintAttempt(outcome, level, seconds, game.totalSeconds);
}

void LiveEscape() {
    if (mode == Mode::Replaying) StopReplay(Stop::Interrupted);
}

bool Unseen() {
    return mode == Mode::Replaying && replayer->verify;
}

}  // namespace runs
