// The recorded run's bytes: the header, the stream's tokens and their check
// values, parsed and written. docs/RUNS.md describes the same layout.
#include "platform/core/run_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace runfile {

namespace {

constexpr std::uint8_t kMagic[8] = {'V', 'N', 'K', 'R', 'U', 'N', 0x1A, 0x0A};
constexpr std::size_t kHeaderFixed = 8 + 2 + 1;  // magic, format version, version length

// Tokens of the stream. A byte below 0x80 is the common case, a step of the
// counter: bit 6 says 15 ms (0) or 16 ms (1), bits 0-5 how many reads went
// as expected before it.
constexpr std::uint8_t kReads = 0x80;       // varint n >= 1
constexpr std::uint8_t kTick = 0x81;        // varint ms
constexpr std::uint8_t kKey = 0x88;         // + slot
constexpr std::uint8_t kClose = 0x90;       //
constexpr std::uint8_t kLevelEnd = 0xA0;    // outcome, level, seconds, u32 checksum
constexpr std::uint8_t kCheckpoint = 0xC0;  // u32 CRC-32 of the stream before this byte
constexpr std::uint8_t kEnd = 0xEE;         // varint exit code; a checkpoint follows
constexpr std::uint32_t kShortReads = 63;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// CRC-32 (as zlib's) carried on over more bytes: start from 0.
std::uint32_t Crc(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// Reads the stream's bytes; each Take fails at the end of the input.
struct Cursor {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
    bool Byte(std::uint8_t* out) {
        if (at >= size) return false;
        *out = data[at++];
        return true;
    }
    bool Word(std::uint32_t* out) {
        if (size - at < 4) return false;
        *out = U32(data + at);
        at += 4;
        return true;
    }
    // Little-endian base-128; `*bad` when it cannot be a 32-bit value.
    bool Varint(std::uint32_t* out, bool* bad) {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            std::uint8_t byte;
            if (!Byte(&byte)) return false;
            value |= std::uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) {
                *bad = value > 0xFFFFFFFFu;
                *out = static_cast<std::uint32_t>(value);
                return true;
            }
        }
        *bad = true;
        return true;
    }
};

// A header's text: printable ASCII only.
bool Printable(const std::uint8_t* bytes, std::size_t count, std::string* out) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
        *out += static_cast<char>(bytes[i]);
    }
    return true;
}

// Puts `text` (at most `limit` bytes, anything unprintable as '?') after its
// length; returns the position after it.
std::size_t PutText(std::uint8_t* header, std::size_t at, const char* text, std::size_t limit) {
    const std::size_t length = std::min<std::size_t>(std::strlen(text), limit);
    header[at++] = static_cast<std::uint8_t>(length);
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        header[at++] = static_cast<std::uint8_t>(c >= 0x20 && c <= 0x7E ? c : '?');
    }
    return at;
}

enum class Step { Ok, Cut, Bad };

// The events of one token: at most two (a short step's expected reads, then
// the step).
struct Token {
    Event events[2];
    int count = 0;
    void Add(Event::Kind kind, std::uint32_t value, std::uint8_t a = 0, std::uint8_t b = 0,
             std::uint8_t c = 0) {
        events[count++] = Event{kind, a, b, c, value};
    }
};

// One token at the cursor into `out`; `crc` is the stream's check value up
// to the token (null: the token was checked before). An End is complete only
// with the checkpoint after it.
Step ParseToken(Cursor& in, const std::uint32_t* crc, Token* out, bool* ended) {
    std::uint8_t token;
    if (!in.Byte(&token)) return Step::Cut;
    // After the end only its check value may come.
    if (*ended && token != kCheckpoint) return Step::Bad;
    bool bad = false;
    std::uint32_t value = 0;
    if (token < 0x80) {
        if ((token & kShortReads) != 0) out->Add(Event::Reads, token & kShortReads);
        out->Add(Event::Tick, (token & 0x40) != 0 ? 16u : 15u);
        return Step::Ok;
    }
    switch (token) {
        case kReads:
            if (!in.Varint(&value, &bad)) return Step::Cut;
            if (bad || value == 0) return Step::Bad;
            out->Add(Event::Reads, value);
            return Step::Ok;
        case kTick:
            if (!in.Varint(&value, &bad)) return Step::Cut;
            if (bad) return Step::Bad;
            out->Add(Event::Tick, value);
            return Step::Ok;
        case kClose:
            out->Add(Event::Close, 0);
            return Step::Ok;
        case kLevelEnd: {
            std::uint8_t outcome, level, seconds;
            if (!in.Byte(&outcome) || !in.Byte(&level) || !in.Byte(&seconds) || !in.Word(&value)) {
                return Step::Cut;
            }
            if (outcome > static_cast<std::uint8_t>(Outcome::GameComplete)) return Step::Bad;
            out->Add(Event::LevelEnd, value, outcome, level, seconds);
            return Step::Ok;
        }
        case kCheckpoint:
            if (!in.Word(&value)) return Step::Cut;
            if (crc != nullptr && value != *crc) return Step::Bad;
            return Step::Ok;
        case kEnd:
            if (!in.Varint(&value, &bad)) return Step::Cut;
            if (bad) return Step::Bad;
            *ended = true;
            out->Add(Event::End, value);
            return Step::Ok;
        default:
            if (token >= kKey && token < kKey + kKeyCount) {
                out->Add(Event::Key, 0, static_cast<std::uint8_t>(token - kKey));
                return Step::Ok;
            }
            return Step::Bad;
    }
}

// Checks `size` bytes; the header goes to `*run`, and the events too when
// `keep`. `*streamAt` and `*streamEnd` bound the tokens a replay reads (a cut
// file's last token, and an end without its check value, left out).
Status Scan(const std::uint8_t* data, std::size_t size, Run* run, bool keep, std::size_t* streamAt,
            std::size_t* streamEnd) {
    if (size == 0) return Status::Empty;
    if (size > static_cast<std::size_t>(kMaxFileBytes)) return Status::TooLarge;
    if (std::memcmp(data, kMagic, std::min(size, sizeof kMagic)) != 0) return Status::Foreign;
    if (size < kHeaderFixed) return Status::HeaderCut;
    const unsigned format = data[8] | (data[9] << 8);
    if (format > kFormatVersion) return Status::Newer;
    const std::size_t versionLength = data[10];
    if (format == 0 || versionLength > kMaxVersionLength) return Status::Damaged;
    // The command line's length follows the version.
    const std::size_t lineAt = kHeaderFixed + versionLength;
    if (size <= lineAt) return Status::HeaderCut;
    const std::size_t lineLength = data[lineAt];
    if (lineLength > kMaxCommandLineLength) return Status::Damaged;
    const std::size_t headerSize = lineAt + 1 + lineLength + 8 + 4;
    if (size < headerSize) return Status::HeaderCut;
    if (Crc(0, data, headerSize - 4) != U32(data + headerSize - 4)) return Status::Damaged;

    Run parsed;
    if (!Printable(data + kHeaderFixed, versionLength, &parsed.programVersion) ||
        !Printable(data + lineAt + 1, lineLength, &parsed.commandLine)) {
        return Status::Damaged;
    }
    const std::uint8_t* hash = data + lineAt + 1 + lineLength;
    parsed.sheetHash = U32(hash) | (std::uint64_t{U32(hash + 4)} << 32);

    Cursor in{data, size, headerSize};
    std::uint32_t crc = 0;
    bool ended = false;
    std::size_t end = headerSize, endAt = 0;
    for (;;) {
        const std::size_t start = in.at;
        Token token;
        const bool wasEnded = ended;
        const Step step = ParseToken(in, &crc, &token, &ended);
        if (step == Step::Bad) return Status::Damaged;
        if (step == Step::Cut) {
            // A token the cut went through is left out; so is an end whose
            // check value did not make it.
            if (ended) {
                end = endAt;
                if (keep) parsed.events.pop_back();
            }
            break;
        }
        if (ended && !wasEnded) endAt = start;
        crc = Crc(crc, data + start, in.at - start);
        end = in.at;
        if (keep)
            parsed.events.insert(parsed.events.end(), token.events, token.events + token.count);
        if (ended && data[start] == kCheckpoint) {
            if (in.at != size) return Status::Damaged;
            parsed.complete = true;
            break;
        }
    }
    *streamAt = headerSize;
    *streamEnd = end;
    *run = std::move(parsed);
    return run->complete ? Status::Complete : Status::Cut;
}

}  // namespace

Status ReadBytes(const char* path, std::vector<std::uint8_t>* bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return Status::Missing;
    std::uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes->size() + got > static_cast<std::size_t>(kMaxFileBytes)) {
            std::fclose(file);
            return Status::TooLarge;
        }
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? Status::Missing : Status::Complete;
}

int KeySlot(int vk) {
    for (int i = 0; i < kKeyCount; ++i) {
        if (kKeys[i] == vk) return i;
    }
    return -1;
}

const char* Describe(Status status) {
    switch (status) {
        case Status::Complete:
            return "a whole run";
        case Status::Cut:
            return "cut short: it stops before the run's end";
        case Status::Missing:
            return "cannot be opened";
        case Status::Empty:
            return "is empty";
        case Status::TooLarge:
            return "is too large to be a recorded run";
        case Status::Foreign:
            return "is not a recorded run of this game";
        case Status::Newer:
            return "was recorded in a newer format than this program reads";
        case Status::HeaderCut:
            return "is cut short inside its header";
        case Status::Damaged:
            return "is damaged: its check values or its contents are wrong";
        case Status::OtherSheet:
            return "was played with another sprite sheet than this program's";
    }
    return "?";
}

std::uint64_t Hash64(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

Status Parse(const std::uint8_t* data, std::size_t size, Run* run) {
    std::size_t at, end;
    return Scan(data, size, run, true, &at, &end);
}

Status ReadFile(const char* path, Run* run) {
    std::vector<std::uint8_t> bytes;
    const Status status = ReadBytes(path, &bytes);
    return status != Status::Complete ? status : Parse(bytes.data(), bytes.size(), run);
}

Status Stream::Open(const char* path, Run* run) {
    bytes_.clear();
    at_ = end_ = tokenAt_ = 0;
    head_ = count_ = 0;
    Status status = ReadBytes(path, &bytes_);
    if (status != Status::Complete) return status;
    Run header;
    status = Scan(bytes_.data(), bytes_.size(), &header, false, &at_, &end_);
    if (!Readable(status)) return status;
    *run = std::move(header);
    tokenAt_ = at_;
    return status;
}

const Event* Stream::Peek() {
    while (count_ == 0 && at_ < end_) {
        tokenAt_ = at_;
        Cursor in{bytes_.data(), end_, at_};
        Token token;
        bool ended = false;
        // Checked whole by Open: every token here is whole and right.
        ParseToken(in, nullptr, &token, &ended);
        at_ = in.at;
        for (int i = 0; i < token.count; ++i) queue_[i] = token.events[i];
        head_ = 0;
        count_ = token.count;
    }
    if (count_ == 0) tokenAt_ = end_;
    return count_ > 0 ? &queue_[head_] : nullptr;
}

void Stream::Pop() {
    if (count_ == 0) return;
    ++head_;
    --count_;
}

std::size_t Stream::Offset() {
    Peek();
    return tokenAt_;
}

// --- writing -------------------------------------------------------------------

bool Writer::Open(const char* path, const char* programVersion, std::uint64_t sheetHash,
                  const char* commandLine) {
    Close();
    file_ = std::fopen(path, "wb");
    if (file_ == nullptr) return false;
    // Our own buffer only: the file's would be allocated at the first write.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    failed_ = false;
    reads_ = crc_ = 0;
    used_ = 0;
    std::uint8_t header[kHeaderFixed + kMaxVersionLength + 1 + kMaxCommandLineLength + 12];
    std::memcpy(header, kMagic, sizeof kMagic);
    header[8] = kFormatVersion & 0xFF;
    header[9] = kFormatVersion >> 8;
    std::size_t at = PutText(header, 10, programVersion, kMaxVersionLength);
    at = PutText(header, at, commandLine, kMaxCommandLineLength);
    for (int i = 0; i < 8; ++i) header[at++] = static_cast<std::uint8_t>(sheetHash >> (8 * i));
    const std::uint32_t crc = Crc(0, header, at);
    for (int i = 0; i < 4; ++i) header[at++] = static_cast<std::uint8_t>(crc >> (8 * i));
    Write(header, at);
    return true;
}

void Writer::Write(const std::uint8_t* bytes, std::size_t count) {
    if (file_ == nullptr || failed_ || count == 0) return;
    if (std::fwrite(bytes, 1, count, file_) != count) {
        failed_ = true;
        error_ = errno;
    }
}

void Writer::Put(std::uint8_t byte) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = byte;
    crc_ = Crc(crc_, &byte, 1);
}

void Writer::PutVarint(std::uint32_t value) {
    while (value >= 0x80) {
        Put(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    Put(static_cast<std::uint8_t>(value));
}

void Writer::PutU32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) Put(static_cast<std::uint8_t>(value >> (8 * i)));
}

void Writer::PutReads() {
    if (reads_ == 0) return;
    Put(kReads);
    PutVarint(reads_);
    reads_ = 0;
}

void Writer::Tick(std::uint32_t delta) {
    if (file_ == nullptr) return;
    if (delta == 15 || delta == 16) {
        if (reads_ > kShortReads) PutReads();
        Put(static_cast<std::uint8_t>((delta == 16 ? 0x40 : 0) | reads_));
        reads_ = 0;
        return;
    }
    PutReads();
    Put(kTick);
    PutVarint(delta);
}

void Writer::Key(int slot) {
    if (file_ == nullptr) return;
    PutReads();
    Put(static_cast<std::uint8_t>(kKey + slot));
}

void Writer::CloseRequest() {
    if (file_ == nullptr) return;
    PutReads();
    Put(kClose);
}

void Writer::LevelEnd(Outcome outcome, int level, int seconds, std::uint32_t checksum) {
    if (file_ == nullptr) return;
    PutReads();
    Put(kLevelEnd);
    Put(static_cast<std::uint8_t>(outcome));
    Put(static_cast<std::uint8_t>(level));
    Put(static_cast<std::uint8_t>(seconds));
    PutU32(checksum);
}

void Writer::Checkpoint() {
    if (file_ == nullptr) return;
    PutReads();
    const std::uint32_t crc = crc_;
    Put(kCheckpoint);
    PutU32(crc);
}

void Writer::Flush() {
    Write(buffer_, used_);
    used_ = 0;
}

void Writer::End(int exitCode) {
    if (file_ == nullptr) return;
    PutReads();
    Put(kEnd);
    PutVarint(static_cast<std::uint32_t>(exitCode));
    Checkpoint();
    Close();
}

void Writer::Close() {
    if (file_ == nullptr) return;
    Flush();
    if (std::fclose(file_) != 0 && !failed_) {
        failed_ = true;
        error_ = errno;
    }
    file_ = nullptr;
}

}  // namespace runfile
