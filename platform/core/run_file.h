// The recorded run's file (docs/RUNS.md): a header, then a stream of what
// the game read that could vary, written as the run goes. This file knows
// only the bytes; platform/core/run.cpp records and replays through it.
//
// The stream answers the game's reads in order. Most reads give what the last
// one of their kind gave (the counter unchanged, a key as it was, no new
// message), so only the others are written, each after the count of reads
// that went as expected before it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace runfile {

constexpr std::uint16_t kFormatVersion = 1;
constexpr int kMaxVersionLength = 63;
// The game's command line (WinMain's), which decides what it draws
// (--marks): a replay starts the game with the same one.
constexpr int kMaxCommandLineLength = 63;
// A session of a hundred whole games (about 9 KB each) or four hours on the
// title (250 KB an hour); keeps a foreign file from filling memory, and
// bounds a verification's work, which grows with the file (docs/RUNS.md).
constexpr long kMaxFileBytes = 1L << 20;

// The keys the game polls, in the file's order (their virtual-key codes):
// Left, Right, Enter, Space, Backspace, Esc, and M for the jewels' marks.
constexpr int kKeyCount = 7;
constexpr int kKeys[kKeyCount] = {0x25, 0x27, 0x0D, 0x20, 0x08, 0x1B, 0x4D};
int KeySlot(int vk);  // -1 when not one of them

enum class Outcome : std::uint8_t { Failed = 0, LevelComplete = 1, GameComplete = 2 };

// One step of the stream. `Reads`: that many reads went as expected. `Tick`:
// the next read is the counter, moved on by `value` ms. `Key`: the next read
// is key `a`, now the other way. `Close`: the user asked the window to
// close, before the next read. `LevelEnd`: an attempt ended with outcome `a`
// on level `b` after `c` seconds, the picture's checksum `value`. `End`: the
// program ended with exit code `value`.
struct Event {
    enum Kind : std::uint8_t { Reads, Tick, Key, Close, LevelEnd, End } kind;
    std::uint8_t a = 0, b = 0, c = 0;
    std::uint32_t value = 0;
};

struct Run {
    std::string programVersion;
    std::string commandLine;
    std::uint64_t sheetHash = 0;
    std::vector<Event> events;
    bool complete = false;  // false: cut short (no end was written)
};

enum class Status {
    Complete,    // read to its end
    Cut,         // readable up to where it stops (no end written)
    Missing,     // cannot be opened
    Empty,       // no bytes at all
    TooLarge,    // larger than any run
    Foreign,     // not a recorded run of this game
    Newer,       // a format newer than this program reads
    HeaderCut,   // stops inside the header
    Damaged,     // a check value or the stream is wrong
    OtherSheet,  // played with another sprite sheet (the caller compares)
};
// What went wrong in a few words ("cut short inside its header").
const char* Describe(Status status);
inline bool Readable(Status status) {
    return status == Status::Complete || status == Status::Cut;
}

// Parses `size` bytes into `*run`, which is changed only when the bytes are
// readable (Complete or Cut).
Status Parse(const std::uint8_t* data, std::size_t size, Run* run);
Status ReadFile(const char* path, Run* run);
// The file's bytes (Complete), refused past the cap before it is all read.
Status ReadBytes(const char* path, std::vector<std::uint8_t>* bytes);

// A run's stream read one event at a time from the file's own bytes, which
// are all it keeps: a hostile file's events never sit in memory at once
// (one byte may hold two of them).
class Stream {
  public:
    // Reads and checks the whole file; the header goes to `*run` (its
    // events stay empty), the stream waits here. As ReadFile otherwise.
    Status Open(const char* path, Run* run);
    // The next event, or null where the stream ends (`complete` says how).
    const Event* Peek();
    void Pop();
    // The byte offset in the file of the token the next event comes from
    // (the stream's end once it has none).
    std::size_t Offset();
    std::size_t FileSize() const { return bytes_.size(); }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t at_ = 0, end_ = 0, tokenAt_ = 0;
    Event queue_[2];
    int head_ = 0, count_ = 0;
};

// FNV-1a, 64 bits (the sprite sheet's hash).
std::uint64_t Hash64(const std::uint8_t* data, std::size_t size);

// Writes a run as it goes. It allocates nothing after Open: events gather in
// a fixed buffer that goes to the file at every Flush (once per picture) or
// when full. A write that fails stops the writer for good; what reached the
// file stays readable up to there.
class Writer {
  public:
    ~Writer() { Close(); }
    // False when the file cannot be made (errno says why).
    bool Open(const char* path, const char* programVersion, std::uint64_t sheetHash,
              const char* commandLine = "");
    bool IsOpen() const { return file_ != nullptr; }
    bool Failed() const { return failed_; }
    int Error() const { return error_; }  // errno of the failed write

    void ExpectedRead() { ++reads_; }
    void Tick(std::uint32_t delta);
    void Key(int slot);
    void CloseRequest();
    void LevelEnd(Outcome outcome, int level, int seconds, std::uint32_t checksum);
    void Checkpoint();  // a check value over everything since the header
    void Flush();
    // The end (exit code), a last check value, and the file closed.
    void End(int exitCode);
    void Close();

  private:
    void PutReads();
    void Put(std::uint8_t byte);
    void PutVarint(std::uint32_t value);
    void PutU32(std::uint32_t value);
    void Write(const std::uint8_t* bytes, std::size_t count);

    std::FILE* file_ = nullptr;
    bool failed_ = false;
    int error_ = 0;
    std::uint32_t reads_ = 0;  // expected reads not yet written
    std::uint32_t crc_ = 0;    // of the stream so far
    std::uint8_t buffer_[4096];
    std::size_t used_ = 0;
};

}  // namespace runfile
