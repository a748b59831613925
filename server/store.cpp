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
