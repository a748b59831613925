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

// {"live":[entry...],"replay_verified":[entry...]}, each entry
// {"rank":1,"id":..,"initials":..,"total":..,"levels":[..],"date":..,"version":..,
//  "file":"/runs/ID.vnr"}, ranks counted within its own board.
std::string board_json(const std::vector<Run> &live, const std::vector<Run> &replay_verified);
// One run's status: {"id":..,"status":"waiting"|"verified"|"refused"|"incompatible",...},
// with "board" once ranked and "live_reason" when that board is not the live one.
std::string run_json(const Run &run);
// A challenge: {"counter":N,"issued":..,"expires":..,"now":..}.
std::string challenge_json(uint32_t counter, int64_t issued, int64_t expires, int64_t now);
// The board as a page: the two boards as plain tables, no script; each entry links to its
// run file and to watching it in the web build (when `site` is served, at that path); below
// them a form that submits a run file.
std::string board_html(const std::vector<Run> &live, const std::vector<Run> &replay_verified,
                       const std::string &site);
// One run's page, for those who submitted it through the form: its status, where it landed
// and why, reloading itself while it waits.
std::string run_html(const Run &run, const std::string &site);
// A page that says what went wrong with a form's submission.
std::string error_html(const std::string &line);

}  // namespace board
