// The desktop program's side of a hall of fame (board.h): a challenge before
// the game, and a run sent, waited for and placed.
#include "platform/core/board.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/core/core.h"
#include "platform/core/run_file.h"

#ifdef _WIN32
#include <io.h>
#define VN_ISATTY(fd) _isatty(fd)
#define VN_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define VN_ISATTY(fd) isatty(fd)
#define VN_FILENO(f) fileno(f)
#endif

namespace board {

namespace json {

namespace {

constexpr int kMaxDepth = 16;

void Space(std::string_view s, std::size_t& at) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\n' || s[at] == '\r')) ++at;
}

// `at` on the opening quote; past the closing one.
bool SkipString(std::string_view s, std::size_t& at) {
    for (++at; at < s.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(s[at]);
        if (c < 0x20) return false;
        if (c == '\\') {
            ++at;
        } else if (c == '"') {
            ++at;
            return true;
        }
    }
    return false;
}

// Each step takes at least one character, and nesting is bounded: a hostile
// answer costs its length and no more.
bool SkipValue(std::string_view s, std::size_t& at, int depth) {
    Space(s, at);
    if (at >= s.size()) return false;
    const char open = s[at];
    if (open == '"') return SkipString(s, at);
    if (open == '{' || open == '[') {
        if (depth >= kMaxDepth) return false;
        const char close = open == '{' ? '}' : ']';
        ++at;
        Space(s, at);
        if (at < s.size() && s[at] == close) {
            ++at;
            return true;
        }
        for (;;) {
            if (open == '{') {
                Space(s, at);
                if (at >= s.size() || s[at] != '"' || !SkipString(s, at)) return false;
                Space(s, at);
                if (at >= s.size() || s[at] != ':') return false;
                ++at;
            }
            if (!SkipValue(s, at, depth + 1)) return false;
            Space(s, at);
            if (at >= s.size()) return false;
            if (s[at] == close) {
                ++at;
                return true;
            }
            if (s[at] != ',') return false;
            ++at;
        }
    }
    // A number, true, false or null.
    const std::size_t start = at;
    while (at < s.size() && (std::isalnum(static_cast<unsigned char>(s[at])) || s[at] == '-' ||
                             s[at] == '+' || s[at] == '.')) {
        ++at;
    }
    return at > start;
}

std::string_view Trimmed(std::string_view s) {
    std::size_t at = 0;
    Space(s, at);
    s.remove_prefix(at);
    while (!s.empty() && std::strchr(" \t\r\n", s.back()) != nullptr) s.remove_suffix(1);
    return s;
}

// Calls `each` with every member's key (as written, quotes off) and value,
// or every element; false when `s` is not one whole object or array.
template <typename Each>
bool Walk(std::string_view s, char open, Each each) {
    s = Trimmed(s);
    std::size_t whole = 0;
    if (s.empty() || s[0] != open || !SkipValue(s, whole, 0) || whole != s.size()) return false;
    std::size_t at = 1;
    for (;;) {
        Space(s, at);
        if (s[at] == (open == '{' ? '}' : ']')) return true;
        std::string_view key;
        if (open == '{') {
            const std::size_t keyAt = at;
            SkipString(s, at);
            key = s.substr(keyAt + 1, at - keyAt - 2);
            Space(s, at);
            ++at;  // the colon
        }
        Space(s, at);
        const std::size_t valueAt = at;
        SkipValue(s, at, 1);
        each(key, s.substr(valueAt, at - valueAt));
        Space(s, at);
        if (s[at] == ',') ++at;
    }
}

}  // namespace

bool Member(std::string_view object, const char* key, std::string_view* value) {
    bool found = false;
    const bool whole = Walk(object, '{', [&](std::string_view name, std::string_view v) {
        if (!found && name == key) {
            *value = v;
            found = true;
        }
    });
    return whole && found;
}

bool Elements(std::string_view array, std::vector<std::string_view>* elements) {
    elements->clear();
    return Walk(array, '[', [&](std::string_view, std::string_view v) { elements->push_back(v); });
}

bool String(std::string_view value, std::string* text) {
    value = Trimmed(value);
    std::size_t end = 0;
    if (value.empty() || value[0] != '"' || !SkipString(value, end) || end != value.size()) {
        return false;
    }
    text->clear();
    for (std::size_t at = 1; at + 1 < value.size(); ++at) {
        char c = value[at];
        if (c == '\\') {
            const char e = value[++at];
            if (e == 'u') {
                if (at + 4 >= value.size()) return false;
                unsigned code = 0;
                for (int i = 1; i <= 4; ++i) {
                    const char h = value[at + i];
                    if (!std::isxdigit(static_cast<unsigned char>(h))) return false;
                    code = code * 16 +
                           static_cast<unsigned>(std::isdigit(h) ? h - '0' : (h | 0x20) - 'a' + 10);
                }
                at += 4;
                c = code < 0x80 ? static_cast<char>(code) : '?';
            } else {
                const char* from = "\"\\/bfnrt";
                const char* to = "\"\\/\b\f\n\r\t";
                const char* which = std::strchr(from, e);
                if (e == '\0' || which == nullptr) return false;
                c = to[which - from];
            }
        }
        text->push_back(c);
    }
    return true;
}

bool Number(std::string_view value, std::uint64_t* number) {
    value = Trimmed(value);
    if (value.empty() || value.size() > 19) return false;  // below 10^19: no overflow
    std::uint64_t n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    *number = n;
    return true;
}

}  // namespace json

namespace {

void Said(const char* text, bool problem) {
    if (problem) {
        backend::Say(text, true);
    } else {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
}

void (*say)(const char*, bool) = Said;

// One line from the program; `problem` lines go where complaints go.
void Line(bool problem, const std::string& text) {
    say(("vornackle: " + text + "\n").c_str(), problem);
}

// What the board said, fit to print: printable ASCII only, and not a page long.
std::string Shown(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        if (shown.size() >= 300) return shown + "...";
        shown.push_back(c >= 0x20 && c < 0x7F ? c : '?');
    }
    return shown;
}

// The board's URL without the slashes it may end in: paths are added to it.
std::string Base(const std::string& url) {
    std::string base = url;
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

std::string StringMember(const std::string& body, const char* key) {
    std::string_view value;
    std::string text;
    if (!json::Member(body, key, &value) || !json::String(value, &text)) return "";
    return Shown(text);
}

bool NumberMember(const std::string& body, const char* key, std::uint64_t* number) {
    std::string_view value;
    return json::Member(body, key, &value) && json::Number(value, number);
}

std::uint64_t Now() {
    return standin::activeClock.microseconds();
}

// A board's rank of run `id` on the board named `list` in its board.json
// ("live", "replay_verified", or "board" on a board that has only one);
// 0 when it is not among the first 1000 or the board did not say.
std::uint64_t RankOf(const std::string& base, std::uint64_t id, const char* list,
                     std::size_t* entries) {
    backend::HttpAnswer answer;
    std::string error;
    std::string_view array;
    std::vector<std::string_view> items;
    if (!backend::httpRequest("GET", base + "/board.json?n=1000", "", kPollSeconds, kAnswerLimit,
                              &answer, &error) ||
        answer.status != 200 || !json::Member(answer.body, list, &array) ||
        !json::Elements(array, &items)) {
        return 0;
    }
    *entries = items.size();
    for (const std::string_view item : items) {
        std::uint64_t itemId = 0, rank = 0;
        std::string_view value;
        if (json::Member(item, "id", &value) && json::Number(value, &itemId) && itemId == id &&
            json::Member(item, "rank", &value) && json::Number(value, &rank)) {
            return rank;
        }
    }
    return 0;
}

// The verdict in a run's answer, said; the exit code, or -1 while it waits
// and -2 for an answer that makes no sense.
int Verdict(const std::string& base, const std::string& body, std::uint64_t id) {
    const std::string status = StringMember(body, "status");
    const std::string run = "run " + std::to_string(id);
    if (status == "waiting") return -1;
    if (status == "refused" || status == "incompatible") {
        const std::string line = StringMember(body, "line");
        Line(true,
             std::string(status == "refused" ? "the board refused " : "the board cannot rank ") +
                 run + ": " + (line.empty() ? "it gave no reason" : line));
        return kRefused;
    }
    if (status != "verified") return -2;
    std::uint64_t total = 0;
    if (!NumberMember(body, "total", &total)) {
        Line(false, run + " is verified, but it holds no whole game, so it is not ranked");
        return kVerified;
    }
    // A board that knows live runs names the board the run is on; an older
    // one has a single board.
    const std::string which = StringMember(body, "board");
    const char* list = which == "live"              ? "live"
                       : which == "replay-verified" ? "replay_verified"
                                                    : "board";
    const std::string named = which == "live"              ? "the live board"
                              : which == "replay-verified" ? "the replay-verified board"
                                                           : "the board";
    std::size_t entries = 0;
    const std::uint64_t rank = RankOf(base, id, list, &entries);
    std::string place =
        rank == 0 ? "on " + named + " (" + base + "/)"
        : entries < 1000 && rank <= entries
            ? "rank " + std::to_string(rank) + " of " + std::to_string(entries) + " on " + named
            : "rank " + std::to_string(rank) + " on " + named;
    const std::string reason = StringMember(body, "live_reason");
    if (which == "replay-verified" && !reason.empty()) place += ", not live: " + reason;
    Line(false, run + " is verified: total " + std::to_string(total) + " s, " + place);
    return kVerified;
}

}  // namespace

void Tell(const std::string& text) {
    Line(false, text);
}

void SayWith(void (*with)(const char*, bool)) {
    say = with != nullptr ? with : Said;
}

bool ValidUrl(const std::string& url) {
    std::size_t host = 0;
    if (url.compare(0, 7, "http://") == 0) host = 7;
    if (url.compare(0, 8, "https://") == 0) host = 8;
    if (host == 0 || url.size() <= host || url.size() > 2000 || url[host] == '/') return false;
    for (const char c : url) {
        if (c <= 0x20 || c >= 0x7F || c == '?' || c == '#') return false;
    }
    return true;
}

bool TakeInitials(const std::string& text, std::string* initials) {
    if (text.size() != 3) return false;
    std::string taken;
    for (const char c : text) {
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if (!((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9'))) return false;
        taken.push_back(upper);
    }
    *initials = taken;
    return true;
}

bool AskInitials(std::string* initials) {
    if (!VN_ISATTY(VN_FILENO(stdin))) return false;
    for (int tries = 0; tries < 3; ++tries) {
        std::fputs("Your initials on the board (three of A-Z, 0-9): ", stderr);
        std::fflush(stderr);
        char line[64];
        if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (TakeInitials(text, initials)) return true;
    }
    return false;
}

bool AskChallenge(const std::string& url, DWORD* counter) {
    backend::HttpAnswer answer;
    std::string error;
    std::uint64_t start = 0;
    const std::string base = Base(url);
    if (!backend::httpRequest("POST", base + "/challenges", "", kChallengeSeconds, kAnswerLimit,
                              &answer, &error)) {
        error = Shown(error);
    } else if (answer.status != 201 && answer.status != 200) {
        error = "it answered " + std::to_string(answer.status);
        const std::string why = StringMember(answer.body, "error");
        if (!why.empty()) error += ": " + why;
    } else if (!NumberMember(answer.body, "counter", &start) || start > 0xFFFFFFFFu) {
        error = "its answer holds no counter";
    } else {
        *counter = static_cast<DWORD>(start);
        const std::string expires = StringMember(answer.body, "expires");
        Line(false,
             "a challenge from " + base + ": the counter starts at " + std::to_string(start) +
                 (expires.empty() ? "" : "; the run can be live if it arrives by " + expires));
        return true;
    }
    Line(true, "no challenge from " + base + " (" + error +
                   "); the game plays without one, and its run can be ranked replay-verified "
                   "at most");
    return false;
}

int Submit(const std::string& url, const char* path, const std::string& initials) {
    std::vector<std::uint8_t> bytes;
    runfile::Status status = runfile::ReadBytes(path, &bytes);
    runfile::Run run;
    if (status == runfile::Status::Complete)
        status = runfile::Parse(bytes.data(), bytes.size(), &run);
    if (!runfile::Readable(status)) {
        Line(true, std::string(path) + " " + runfile::Describe(status));
        return kBadRequest;
    }
    const std::string base = Base(url);
    backend::HttpAnswer answer;
    std::string error;
    if (!backend::httpRequest("POST", base + "/runs?initials=" + initials,
                              std::string(bytes.begin(), bytes.end()), kSendSeconds, kAnswerLimit,
                              &answer, &error)) {
        Line(true, "cannot reach the board at " + base + ": " + Shown(error));
        return kUnreachable;
    }
    std::uint64_t id = 0;
    if (answer.status != 202 && answer.status != 200) {
        const std::string why = StringMember(answer.body, "error");
        const std::string said = "the board at " + base + " answered " +
                                 std::to_string(answer.status) + (why.empty() ? "" : ": " + why);
        // Too many at once, or a board in trouble: another time may do.
        if (answer.status == 429 || answer.status >= 500 || answer.status < 400) {
            Line(true, said + "; try again later");
            return kUnreachable;
        }
        Line(true, said);
        return kRefused;
    }
    if (!NumberMember(answer.body, "id", &id)) {
        Line(true, "the board at " + base + " took the run but its answer makes no sense");
        return kUnreachable;
    }
    const std::string where = base + "/runs/" + std::to_string(id);
    Line(false,
         std::string(answer.status == 200 ? "sent before" : "sent") + " as run " +
             std::to_string(id) + " (" + where + ")" +
             (StringMember(answer.body, "status") == "waiting" ? "; waiting for the board's verdict"
                                                               : ""));
    // Polled at 0.25, 0.5, 1, 2, 2... s, within the wait; the count bounds the
    // loop whatever the clock does.
    const std::uint64_t deadline = Now() + kVerdictSeconds * 1000000ull;
    std::uint64_t pause = 250000;
    for (int polls = 0;; ++polls) {
        const int verdict = Verdict(base, answer.body, id);
        if (verdict == -2) {
            Line(true, "the board's answer about run " + std::to_string(id) + " makes no sense");
            return kUnreachable;
        }
        if (verdict >= 0) return verdict;
        const std::uint64_t now = Now();
        if (now >= deadline || polls >= 4 * kVerdictSeconds) {
            Line(true, "run " + std::to_string(id) + " still waits for the board's verdict after " +
                           std::to_string(kVerdictSeconds) + " s; it will be at " + where);
            return kNoVerdict;
        }
        standin::activeClock.sleepUntil(std::min(now + pause, deadline));
        pause = std::min<std::uint64_t>(pause * 2, 2000000);
        // A board that does not answer a poll may answer the next.
        backend::HttpAnswer next;
        if (backend::httpRequest("GET", where, "", kPollSeconds, kAnswerLimit, &next, &error) &&
            next.status == 200) {
            answer = next;
        }
    }
}

}  // namespace board
