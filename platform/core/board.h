// A hall of fame's board, as the desktop program speaks to it: a challenge
// that chooses where the game's counter starts (--board), and a recorded run
// sent, checked and ranked (--submit). Only the few fields these need are
// read from the board's answers, and nothing it says is trusted: the HTTP is
// the backend's (backend::httpRequest, bounded in time and size), the JSON is
// read by a small reader that refuses what it does not understand, and what
// is printed from it is cut to printable ASCII.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winapi.h"

namespace board {

// The exit codes of --submit.
constexpr int kVerified = 0;     // verified by the board (ranked when it holds a whole game)
constexpr int kRefused = 1;      // refused by the board: the run, or the request
constexpr int kBadRequest = 2;   // the command line, or a FILE that is no run
constexpr int kNoVerdict = 3;    // sent, but no verdict within the wait
constexpr int kUnreachable = 4;  // no board answered, or it answered nonsense

// How long the program waits: a challenge is asked before the game starts,
// so briefly; a submission waits for its verdict.
constexpr int kChallengeSeconds = 5;
constexpr int kSendSeconds = 30;
constexpr int kPollSeconds = 10;
constexpr int kVerdictSeconds = 60;
constexpr std::size_t kAnswerLimit = 256 * 1024;

// An http:// or https:// URL with a host, printable and of a sane length.
bool ValidUrl(const std::string& url);
// Three of A-Z and 0-9 (small letters taken as capitals); false otherwise.
bool TakeInitials(const std::string& text, std::string* initials);
// Asks on the terminal for the initials when standard input is one; false
// when it is not, or no valid answer came.
bool AskInitials(std::string* initials);

// Asks the board at `url` for a challenge: true with the counter's start.
// Otherwise one line says why, and the game plays as it would without.
bool AskChallenge(const std::string& url, DWORD* counter);
// Sends the run in `path` with `initials`, waits for the board's verdict and
// says where the run landed; returns one of the exit codes above.
int Submit(const std::string& url, const char* path, const std::string& initials);

// One line for the player ("vornackle: " and `text`): on the standard
// output, which a program started with no terminal does not show.
void Tell(const std::string& text);
// Where the lines go: a problem through the backend's Say, the rest as Tell
// does, unless a test says otherwise.
void SayWith(void (*say)(const char* text, bool problem));

// The JSON reader: the text of member `key` of the object `object` (its
// own members only), of an array's elements, and of a string or a whole
// number. False for what is not well-formed.
namespace json {
bool Member(std::string_view object, const char* key, std::string_view* value);
bool Elements(std::string_view array, std::vector<std::string_view>* elements);
bool String(std::string_view value, std::string* text);
bool Number(std::string_view value, std::uint64_t* number);
}  // namespace json

}  // namespace board
