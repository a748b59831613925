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

std::string board_json(const std::vector<Run> &runs) {
    std::string out = "{\"board\":[";
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
    return out + "]}\n";
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
    } else if (shown != State::waiting) {
        out += ",\"line\":" + json_string(r.verdict.line);
    }
    return out + "}\n";
}

std::string board_html(const std::vector<Run> &runs, const std::string &site) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>Vornackle hall of fame</title><style>"
        "body{font-family:sans-serif;background:#101018;color:#eee;margin:2em auto;"
        "max-width:46em}table{border-collapse:collapse;width:100%}"
        "th,td{padding:.3em .6em;text-align:right}td.i,th.i{text-align:left}"
        "tr:nth-child(even){background:#1c1c2a}a{color:#9cf}</style></head><body>\n"
        "<h1>Hall of fame</h1>\n<p>The fastest whole games, each proven by replaying its run "
        "on this board.</p>\n";
    if (runs.empty()) return out + "<p>No games on the board yet.</p>\n</body></html>\n";
    out +=
        "<table>\n<tr><th>#</th><th class=\"i\">Player</th><th>Total</th>"
        "<th>1</th><th>2</th><th>3</th><th>4</th><th>5</th><th class=\"i\">Date</th>"
        "<th class=\"i\">Run</th></tr>\n";
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run &r = runs[i];
        const std::string file = FileLink(r.id);
        out += "<tr><td>" + std::to_string(i + 1) + "</td><td class=\"i\">" +
               html_escape(r.initials) + "</td><td>" + std::to_string(r.verdict.total) + " s</td>";
        for (size_t l = 0; l < 5; ++l) {
            out += "<td>" +
                   (l < r.verdict.levels.size() ? std::to_string(r.verdict.levels[l]) : "") +
                   "</td>";
        }
        out += "<td class=\"i\">" + html_escape(iso_date(r.submitted).substr(0, 10)) +
               "</td><td class=\"i\"><a href=\"" + html_escape(file) + "\">file</a>";
        if (!site.empty()) {
            out += " <a href=\"" + html_escape(site + "?watch=" + file) + "\">watch</a>";
        }
        out += "</td></tr>\n";
    }
    return out + "</table>\n</body></html>\n";
}

}  // namespace board
