// Recorded runs in the core: the recorder beside every read the game makes,
// and the replay that answers those reads from a file (run.h).
//
// One file of about 550 lines on purpose: each read's hook records and
// replays in a few lines side by side, so that a reader sees at once that the
// two agree; the file's bytes are run_file.cpp's.
#include "platform/core/run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/core/core.h"
#include "platform/core/ddraw_objects.h"
#include "platform/core/run_file.h"

// Every key the core lets the game poll has its place in the file.
static_assert(sizeof standin::kKeys / sizeof standin::kKeys[0] == runfile::kKeyCount);

namespace runs {

Mode mode = Mode::Off;

namespace {

constexpr int kLevelSeconds = 30;
// After a cut file's last read, the reads still go as expected until the
// picture they led to is shown; past this many without one the replay stops.
constexpr long kReadsAfterCut = 1000000;

enum class Stop { No, End, Cut, Parted, Escape };

// What the screen showed, read from the texts drawn on it: the head-up
// line's level and seconds left, and whether the title was shown (a game
// begun from there starts its total afresh).
struct Screen {
    int level = 0, secondsLeft = kLevelSeconds;  // of the picture being drawn
    int shownLevel = 0, shownSecondsLeft = kLevelSeconds;
    bool titleDrawn = false, titleShown = false;
};

struct Recorder {
    runfile::Writer writer;
    std::string path;
    DWORD tick = 0;
    bool keys[runfile::kKeyCount] = {};
    long pictures = 0;
    bool toldFailure = false;
};

struct Replayer {
    runfile::Run run;
    std::string path;
    bool verify = false;
    std::size_t next = 0;
    std::uint32_t readsLeft = 0;
    DWORD tick = 0;
    bool keys[runfile::kKeyCount] = {};
    Stop stop = Stop::No;
    std::string parted;       // how the replay parted from the recording
    long readsAfterCut = -1;  // >= 0 once the file's events ran out
    long pictures = 0;
    // Pace: the recorded milliseconds since the first read of the counter
    // fall due this long after the replay's start.
    bool paceStarted = false;
    std::uint64_t paceStart = 0;
    std::uint64_t paceMilliseconds = 0;
    // The verification's account.
    int gameTotal = 0;
    bool gameOpen = false;
    int fastest = -1;
    std::chrono::steady_clock::time_point started;
};

Screen screen;
Recorder* recorder = nullptr;
Replayer* replayer = nullptr;
std::FILE* lines = nullptr;       // null: stdout
std::FILE* complaints = nullptr;  // null: stderr

std::FILE* Lines() {
    return lines != nullptr ? lines : stdout;
}
std::FILE* Complaints() {
    return complaints != nullptr ? complaints : stderr;
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

// Remembers what the picture being drawn says: the head-up line ("Level 3
// ... Time Remaining: 17") and whether it is the title.
void ReadText(const char* text, int length) {
    char line[96];
    const int n = length < static_cast<int>(sizeof line) - 1 ? length : sizeof line - 1;
    std::memcpy(line, text, n);
    line[n] = '\0';
    if (std::strncmp(line, "Level ", 6) == 0) {
        const char* remaining = std::strstr(line, "Time Remaining: ");
        if (remaining != nullptr) {
            screen.level = std::atoi(line + 6);
            screen.secondsLeft = std::atoi(remaining + 16);
        }
    } else if (std::strcmp(line, "PRESS ESC TO EXIT") == 0) {
        screen.titleDrawn = true;
    }
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

// --- recording ------------------------------------------------------------------

void TellWriteFailure() {
    Recorder& r = *recorder;
    if (!r.writer.Failed() || r.toldFailure) return;
    r.toldFailure = true;
    std::fprintf(Complaints(),
                 "vornackle: recording to %s stopped: %s; the run up to here stays readable\n",
                 r.path.c_str(), std::strerror(r.writer.Error()));
}

void EndRecording(int exitCode) {
    if (recorder == nullptr) return;
    recorder->writer.End(exitCode);
    TellWriteFailure();
}

void RecordAtExit() {
    // The system ended a program that left a close request unanswered.
    if (mode == Mode::Recording) EndRecording(0);
}

// --- replaying ------------------------------------------------------------------

void StopReplay(Stop why, const std::string& parted = {}) {
    Replayer& r = *replayer;
    if (r.stop != Stop::No) return;
    r.stop = why;
    r.parted = parted;
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

// True when the next read goes as the last of its kind went; otherwise
// `next` is the event that answers it.
bool Expected() {
    Replayer& r = *replayer;
    const std::vector<runfile::Event>& events = r.run.events;
    while (r.readsLeft == 0 && r.next < events.size() &&
           events[r.next].kind == runfile::Event::Reads) {
        r.readsLeft = events[r.next++].value;
    }
    if (r.readsLeft > 0) {
        --r.readsLeft;
        return true;
    }
    if (r.next < events.size()) return false;
    // The file stops here: the reads that led to its last picture follow.
    if (r.readsAfterCut < 0) r.readsAfterCut = 0;
    if (++r.readsAfterCut > kReadsAfterCut) StopReplay(Stop::Cut);
    return true;
}

// A read (slot -1: the counter, -2: the messages, else a key's) that the
// recording answers otherwise: the replay has parted from it, or it ended.
void Unexpected(int slot) {
    Replayer& r = *replayer;
    const runfile::Event& event = r.run.events[r.next];
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
    r.paceMilliseconds += milliseconds;
    const std::uint64_t due = r.paceStart + r.paceMilliseconds * 1000;
    // Behind by more than a moment (a slow machine, a stop in a debugger):
    // the pace picks up from here rather than hurrying.
    if (now > due + 100000) r.paceStart += now - due;
    if (now < due) standin::activeClock.sleepUntil(due);
}

void PrintAttempt(runfile::Outcome outcome, int level, int seconds) {
    Replayer& r = *replayer;
    static const char* const kOutcomes[] = {"failed", "complete", "complete"};
    std::fprintf(Lines(), "level %d  %-8s  %2d s", level, kOutcomes[static_cast<int>(outcome)],
                 seconds);
    if (!r.gameOpen || screen.titleShown) {
        r.gameOpen = true;
        r.gameTotal = 0;
        screen.titleShown = false;
    }
    r.gameTotal += seconds;
    if (outcome == runfile::Outcome::GameComplete) {
        std::fprintf(Lines(), "  game complete: total %d s", r.gameTotal);
        if (r.fastest < 0 || r.gameTotal < r.fastest) r.fastest = r.gameTotal;
        r.gameOpen = false;
    }
    std::fprintf(Lines(), "\n");
}

}  // namespace

// --- starting and finishing ---------------------------------------------------------

bool Record(const char* path, const char* programVersion, const char* commandLine) {
    Forget();
    recorder = new Recorder;
    recorder->path = path;
    if (!recorder->writer.Open(path, programVersion, SheetHash(), commandLine)) {
        std::fprintf(Complaints(),
                     "vornackle: cannot record to %s: %s; playing without recording\n", path,
                     std::strerror(errno));
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
    runfile::Run run;
    runfile::Status status = runfile::ReadFile(path, &run);
    if (runfile::Readable(status) && run.sheetHash != SheetHash()) {
        status = runfile::Status::OtherSheet;
    }
    if (!runfile::Readable(status)) {
        std::fprintf(Complaints(), "vornackle: %s %s\n", path, runfile::Describe(status));
        return false;
    }
    if (commandLine != nullptr) {
        std::snprintf(commandLine, kCommandLineSize, "%s", run.commandLine.c_str());
    }
    replayer = new Replayer;
    replayer->run = std::move(run);
    replayer->path = path;
    replayer->verify = verify;
    replayer->started = std::chrono::steady_clock::now();
    // Unpaced: a clock that stands still, so that no wait of the core waits.
    if (verify)
        standin::UseClock(
            standin::Clock{[] { return std::uint64_t{0}; }, [](std::uint64_t) {}, [](int) {}});
    mode = Mode::Replaying;
    return true;
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
        const std::vector<runfile::Event>& events = r.run.events;
        while (r.readsLeft == 0 && r.next < events.size() &&
               events[r.next].kind == runfile::Event::Reads) {
            r.readsLeft = events[r.next++].value;
        }
        if (r.next < events.size() && events[r.next].kind == runfile::Event::End &&
            r.readsLeft == 0) {
            r.stop = Stop::End;
            result = static_cast<int>(events[r.next].value);
        } else if (r.next >= events.size() && !r.run.complete) {
            r.stop = Stop::Cut;
        } else {
            r.stop = Stop::Parted;
            r.parted = Where() + " the game ended before the recorded run did";
        }
    }
    if (r.verify) {
        if (r.fastest >= 0) {
            std::fprintf(Lines(), "fastest total: %d s\n", r.fastest);
        } else {
            std::fprintf(Lines(), "fastest total: none (no game completed)\n");
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - r.started).count();
        std::fprintf(Lines(),
                     "%ld pictures in %.2f s: %.0f pictures per second (the game's own pace: 32)\n",
                     r.pictures, seconds, seconds > 0 ? r.pictures / seconds : 0.0);
        result = 0;
    }
    if (r.stop == Stop::Parted) {
        std::fprintf(Complaints(), "vornackle: %s: the replay differs from the recording: %s\n",
                     r.path.c_str(), r.parted.c_str());
        result = 1;
    } else if (r.stop == Stop::Cut) {
        std::fprintf(Complaints(), "vornackle: %s %s (replayed to the cut, %ld pictures)\n",
                     r.path.c_str(), runfile::Describe(runfile::Status::Cut), r.pictures);
        result = 2;
    } else if (r.stop == Stop::Escape) {
        result = 0;
    }
    std::fflush(Lines());
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
    screen = Screen{};
}

// --- the reads ------------------------------------------------------------------------

// A close request the recording has before this read is made now.
static void BeforeRead() {
    Replayer& r = *replayer;
    const std::vector<runfile::Event>& events = r.run.events;
    while (r.stop == Stop::No) {
        while (r.readsLeft == 0 && r.next < events.size() &&
               events[r.next].kind == runfile::Event::Reads) {
            r.readsLeft = events[r.next++].value;
        }
        if (r.readsLeft != 0 || r.next >= events.size() ||
            events[r.next].kind != runfile::Event::Close) {
            return;
        }
        ++r.next;
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
        if (Expected()) return r.tick;
        const runfile::Event& event = r.run.events[r.next];
        if (event.kind == runfile::Event::Tick) {
            ++r.next;
            r.tick += event.value;
            Pace(event.value);
            return r.tick;
        }
        Unexpected(-1);
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
        const runfile::Event& event = r.run.events[r.next];
        if (event.kind == runfile::Event::Key && event.a == slot) {
            ++r.next;
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
    screen.shownLevel = screen.level;
    screen.shownSecondsLeft = screen.secondsLeft;
    if (screen.titleDrawn) screen.titleShown = true;
    screen.titleDrawn = false;
    if (mode == Mode::Recording) {
        Recorder& r = *recorder;
        if (++r.pictures % 64 == 0) r.writer.Checkpoint();
        r.writer.Flush();
        TellWriteFailure();
    } else if (mode == Mode::Replaying) {
        Replayer& r = *replayer;
        if (r.stop != Stop::No) return;
        ++r.pictures;
        if (r.readsAfterCut >= 0) StopReplay(Stop::Cut);
    }
}

void NoteBeep(UINT type) {
    runfile::Outcome outcome;
    if (mode == Mode::Off || !OutcomeOf(type, &outcome)) return;
    const int level = screen.shownLevel & 0xFF;
    const int seconds = (kLevelSeconds - screen.shownSecondsLeft) & 0xFF;
    const std::uint32_t checksum = ScreenChecksum();
    if (mode == Mode::Recording) {
        recorder->writer.LevelEnd(outcome, level, seconds, checksum);
        recorder->writer.Checkpoint();
        return;
    }
    Replayer& r = *replayer;
    if (r.stop != Stop::No) return;
    const std::vector<runfile::Event>& events = r.run.events;
    while (r.readsLeft == 0 && r.next < events.size() &&
           events[r.next].kind == runfile::Event::Reads) {
        r.readsLeft = events[r.next++].value;
    }
    if (r.readsLeft != 0 || r.next >= events.size() ||
        events[r.next].kind != runfile::Event::LevelEnd) {
        // A cut file ends with what it has: nothing to compare.
        if (r.next >= events.size() && !r.run.complete) return;
        StopReplay(Stop::Parted, Where() + " a level ends where the recording has none");
        return;
    }
    const runfile::Event& end = events[r.next++];
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
    if (r.verify) PrintAttempt(outcome, level, seconds);
}

void NoteText(const char* text, int length) {
    if (text != nullptr && length > 0) ReadText(text, length);
}

void LiveEscape() {
    if (mode == Mode::Replaying) StopReplay(Stop::Escape);
}

}  // namespace runs
