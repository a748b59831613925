// The board's JSON and its page.
#include "server/pages.h"

#include <cstdio>
#include <ctime>

namespace board {

std::string json_string(const std::string &s) {
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20 || ch == '<' || ch == '>' || ch == '&' || ch == '\'' || ch == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", ch);
            out += code;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

std::string html_escape(const std::string &s) {
    std::string out;
    for (char ch : s) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

std::string iso_date(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool valid_initials(const std::string &s) {
    if (s.size() != 3) return false;
    for (char ch : s) {
        if (!((ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9'))) return false;
    }
    return true;
}

namespace {

std::string Levels(const std::vector<int> &levels) {
    std::string out = "[";
    for (size_t i = 0; i < levels.size(); ++i) {
        if (i > 0) out += ',';
        out += std::to_string(levels[i]);
    }
    return out + "]";
}

std::string FileLink(int64_t id) {
    return "/runs/" + std::to_string(id) + ".vnr";
}

}  // namespace

namespace {

std::string Entries(const std::vector<Run> &runs) {
    std::string out = "[";
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run &r = runs[i];
        if (i > 0) out += ',';
        out += "{\"rank\":" + std::to_string(i + 1) + ",\"id\":" + std::to_string(r.id) +
               ",\"initials\":" + json_string(r.initials) +
               ",\"total\":" + std::to_string(r.verdict.total) +
               ",\"levels\":" + Levels(r.verdict.levels) +
               ",\"date\":" + json_string(iso_date(r.submitted)) +
               ",\"version\":" + json_string(r.verdict.version) +
               ",\"file\":" + json_string(FileLink(r.id)) + "}";
    }
    return out + "]";
}

const char kHead[] =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
const char kStyle[] =
    "<style>"
    "body{font-family:sans-serif;background:#101018;color:#eee;margin:2em auto;"
    "max-width:46em}table{border-collapse:collapse;width:100%}"
    "th,td{padding:.3em .6em;text-align:right}td.i,th.i{text-align:left}"
    "tr:nth-child(even){background:#1c1c2a}a{color:#9cf}</style></head><body>\n";

std::string WatchLink(const std::string &site, int64_t id) {
    return "<a href=\"" + html_escape(site + "?watch=" + FileLink(id)) + "\">watch</a>";
}

std::string Table(const std::vector<Run> &runs, const std::string &site) {
    if (runs.empty()) return "<p>No games on this board yet.</p>\n";
    std::string out =
        "<table>\n<tr><th>#</th><th class=\"i\">Player</th><th>Total</th>"
        "<th>1</th><th>2</th><th>3</th><th>4</th><th>5</th><th class=\"i\">Date</th>"
        "<th class=\"i\">Run</th></tr>\n";
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run &r = runs[i];
        out += "<tr><td>" + std::to_string(i + 1) + "</td><td class=\"i\">" +
               html_escape(r.initials) + "</td><td>" + std::to_string(r.verdict.total) + " s</td>";
        for (size_t l = 0; l < 5; ++l) {
            out += "<td>" +
                   (l < r.verdict.levels.size() ? std::to_string(r.verdict.levels[l]) : "") +
                   "</td>";
        }
        out += "<td class=\"i\">" + html_escape(iso_date(r.submitted).substr(0, 10)) +
               "</td><td class=\"i\"><a href=\"" + html_escape(FileLink(r.id)) + "\">file</a>";
        if (!site.empty()) out += " " + WatchLink(site, r.id);
        out += "</td></tr>\n";
    }
    return out + "</table>\n";
}

}  // namespace

std::string board_json(const std::vector<Run> &live, const std::vector<Run> &replay_verified) {
    return "{\"live\":" + Entries(live) + ",\"replay_verified\":" + Entries(replay_verified) +
           "}\n";
}

std::string run_json(const Run &r) {
    // A run being verified is still waiting, as far as its player is concerned.
    const State shown = r.state == State::verifying ? State::waiting : r.state;
    std::string out =
        "{\"id\":" + std::to_string(r.id) + ",\"initials\":" + json_string(r.initials) +
        ",\"status\":" + json_string(state_name(shown)) +
        ",\"date\":" + json_string(iso_date(r.submitted)) + ",\"size\":" + std::to_string(r.size) +
        ",\"sha256\":" + json_string(r.hash) + ",\"file\":" + json_string(FileLink(r.id));
    if (shown != State::waiting) {
        out += ",\"checked\":" + json_string(iso_date(r.finished)) +
               ",\"version\":" + json_string(r.verdict.version);
    }
    if (shown == State::verified) {
        out += ",\"ranked\":" + std::string(r.verdict.total >= 0 ? "true" : "false");
        if (r.verdict.total >= 0) {
            out += ",\"total\":" + std::to_string(r.verdict.total) +
                   ",\"levels\":" + Levels(r.verdict.levels);
        }
        if (!r.board.empty()) out += ",\"board\":" + json_string(r.board);
        if (!r.board.empty() && r.board != kLive) {
            out += ",\"live_reason\":" + json_string(r.live_reason);
        }
    } else if (shown != State::waiting) {
        out += ",\"line\":" + json_string(r.verdict.line);
    }
    return out + "}\n";
}

std::string challenge_json(uint32_t counter, int64_t issued, int64_t expires, int64_t now) {
    return "{\"counter\":" + std::to_string(counter) +
           ",\"issued\":" + json_string(iso_date(issued)) +
           ",\"expires\":" + json_string(iso_date(expires)) +
           ",\"now\":" + json_string(iso_date(now)) + "}\n";
}

std::string board_html(const std::vector<Run> &live, const std::vector<Run> &replay_verified,
                       const std::string &site) {
    std::string out = std::string(kHead) + "<title>Vornackle hall of fame</title>" + kStyle +
                      "<h1>Hall of fame</h1>\n<p>The fastest whole games, each proven by "
                      "replaying its run on this board.</p>\n"
                      "<h2>Live</h2>\n<p>Games started from a challenge of this board and sent "
                      "no sooner than they took to play.</p>\n" +
                      Table(live, site) +
                      "<h2>Replay-verified</h2>\n<p>Every other game whose run replays to its "
                      "times.</p>\n" +
                      Table(replay_verified, site);
    out +=
        "<h2>Submit a run</h2>\n"
        "<form method=\"post\" action=\"/upload\" enctype=\"multipart/form-data\">\n"
        "<p><label>Initials <input name=\"initials\" required maxlength=\"3\" size=\"3\" "
        "pattern=\"[A-Za-z0-9]{3}\"></label>\n"
        "<label>Run file <input type=\"file\" name=\"run\" required accept=\".vnr\"></label>\n"
        "<button type=\"submit\">Submit</button></p>\n"
        "<p>Sent: the run's file (the keys pressed and the counter's readings, as recorded) "
        "and the three initials.</p>\n</form>\n";
    return out + "</body></html>\n";
}

std::string run_html(const Run &r, const std::string &site) {
    const State shown = r.state == State::verifying ? State::waiting : r.state;
    const std::string name = "Run " + std::to_string(r.id);
    std::string out = kHead;
    // While it waits the page asks again every two seconds; no script needed.
    if (shown == State::waiting) out += "<meta http-equiv=\"refresh\" content=\"2\">";
    out += "<title>" + name + "</title>" + kStyle + "<h1>" + name + " by " +
           html_escape(r.initials) + "</h1>\n<p>";
    if (shown == State::waiting) {
        out += "Waiting to be verified; this page reloads itself.";
    } else if (shown == State::verified && r.verdict.total >= 0) {
        out += "Verified: a whole game in " + std::to_string(r.verdict.total) + " s (levels " +
               levels_text(r.verdict.levels) + "), on the " +
               (r.board == kLive ? std::string("live board.")
                                 : "replay-verified board: " + html_escape(r.live_reason) + ".");
    } else if (shown == State::verified) {
        out += "Verified, but it holds no completed game, so it is not ranked.";
    } else {
        out += std::string(shown == State::refused ? "Refused" : "Not ranked") + ": " +
               html_escape(r.verdict.line) + ".";
    }
    out += "</p>\n<p><a href=\"" + html_escape(FileLink(r.id)) + "\">The run's file</a>";
    if (!site.empty()) out += " &middot; " + WatchLink(site, r.id) + " it";
    return out + " &middot; <a href=\"/\">the board</a></p>\n</body></html>\n";
}

std::string error_html(const std::string &line) {
    return std::string(kHead) + "<title>Not submitted</title>" + kStyle +
           "<h1>Not submitted</h1>\n<p>" + html_escape(line) +
           "</p>\n<p><a href=\"/\">Back to the board</a></p>\n</body></html>\n";
}

}  // namespace board
