// What the board answers with, as text: its JSON and its HTML page. Pure functions of what
// the store gave, so the front stays a thin layer over them.
#pragma once

#include <string>
#include <vector>

#include "server/store.h"

namespace board {

// A JSON string with its quotes; <, >, & and ' as \u escapes too, so that no answer can be
// read as markup wherever it lands.
std::string json_string(const std::string &s);
// Text for an HTML element or attribute.
std::string html_escape(const std::string &s);
// "2026-12-08T04:34:53Z"
std::string iso_date(int64_t seconds);
// A player's initials as the board keeps them: exactly three of A-Z and 0-9.
bool valid_initials(const std::string &s);

// {"board":[{"rank":1,"id":..,"initials":..,"total":..,"levels":[..],"date":..,
//   "version":..,"file":"/runs/ID.vnr"},...]}
std::string board_json(const std::vector<Run> &runs);
// One run's status: {"id":..,"status":"waiting"|"verified"|"refused"|"incompatible",...}
std::string run_json(const Run &run);
// The board as a page: a plain table, no script; each entry links to its run file and to
// watching it in the web build (when `site` is served, at that path).
std::string board_html(const std::vector<Run> &runs, const std::string &site);

}  // namespace board
