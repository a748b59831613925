// What both stores share: the state names and the choice of store from --db.
#include "server/store.h"

#include <cstring>

namespace board {

const char *state_name(State s) {
    switch (s) {
        case State::waiting:
            return "waiting";
        case State::verifying:
            return "verifying";
        case State::verified:
            return "verified";
        case State::refused:
            return "refused";
        case State::incompatible:
            return "incompatible";
    }
    return "refused";
}

bool state_from_name(const std::string &name, State *s) {
    for (State each :
         {State::waiting, State::verifying, State::verified, State::refused, State::incompatible}) {
        if (name == state_name(each)) {
            *s = each;
            return true;
        }
    }
    return false;
}

std::string levels_text(const std::vector<int> &levels) {
    std::string text;
    for (size_t i = 0; i < levels.size(); ++i) {
        if (i > 0) text += ',';
        text += std::to_string(levels[i]);
    }
    return text;
}

std::vector<int> levels_from_text(const std::string &text) {
    std::vector<int> levels;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        levels.push_back(std::atoi(text.substr(at, end - at).c_str()));
        at = end + 1;
    }
    return levels;
}

std::string live_reason(bool found, const Challenge &c, int64_t id, int64_t arrived,
                        uint64_t length_ms) {
    if (!found) return "its counter starts from no challenge of this board";
    if (arrived > c.expires) return "its challenge had expired when it arrived";
    if (c.run != 0 && c.run != id) {
        return "its challenge was already taken by run " + std::to_string(c.run);
    }
    // The run's own length in whole seconds, a part of one counting whole: it cannot have
    // been played in less time than that since its counter started.
    const uint64_t length = (length_ms + 999) / 1000;
    const int64_t after = arrived - c.issued;
    if (after < 0 || static_cast<uint64_t>(after) < length) {
        return "it arrived " + std::to_string(after) + " s after its challenge, sooner than its " +
               "own length of " + std::to_string(length) + " s";
    }
    return "";
}

#ifndef BOARD_WITH_POSTGRES
std::unique_ptr<Store> open_postgres_store(const std::string &) {
    throw StoreError("this board was built without PostgreSQL (libpq-dev was missing)");
}
#endif

std::unique_ptr<Store> open_store(const std::string &database) {
    if (database.rfind("sqlite:", 0) == 0 && database.size() > 7)
        return open_sqlite_store(database.substr(7));
    if (database.rfind("postgresql:", 0) == 0) return open_postgres_store(database.substr(11));
    throw StoreError("--db takes sqlite:PATH or postgresql:CONNINFO, not '" + database + "'");
}

}  // namespace board
