// The board's HTTP front, over libmicrohttpd.
//
//   GET  /                 the two boards as a page (no script), with a form to submit a run
//   GET  /board.json?n=N   the best N of each board (default the page's size, at most 1000)
//   POST /challenges       a counter start for a live game, and the board's time
//   POST /runs?initials=X  the body is a run file; 202 with its id, verified in the background
//   POST /upload           the page's form (multipart: initials, run); 303 to the run's page
//   GET  /runs/ID          one run's status
//   GET  /runs/ID.html     the same as a page, for the form's submitters
//   GET  /runs/ID.vnr      the run's file
//   GET  /site/...         the web build, when --site names its folder
//   OPTIONS any            the answer to a browser's preflight
//
// Every answer's body is JSON or HTML built by pages.cpp; an error is {"error": "..."} with
// a 4xx or 5xx that says which (an HTML page for the form). Every answer may be read by a
// page of any origin: nothing here depends on who asks, and no cookie is ever set. Nothing
// about a run lives here: it is all in the store.
#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "server/pages.h"
#include "server/service.h"
#include "server/sha256.h"

namespace board {

struct Front::Impl {
    Store &store;
    Limits limits;
    Doorbell &bell;
    std::string site;
    RateLimit rate, challenge_rate;
    MHD_Daemon *daemon = nullptr;
    Impl(Store &s, const Limits &l, Doorbell &b, const std::string &site_dir)
        : store(s),
          limits(l),
          bell(b),
          site(site_dir),
          rate(l.rate_per_minute, l.burst),
          challenge_rate(l.rate_per_minute, l.burst) {}
};

namespace {

const char kMagic[] = "VNKRUN\x1a\n";

// The page's form, multipart: its two fields as they arrive.
const char kFormPath[] = "/upload";
constexpr size_t kFormEnvelope = 16 * 1024;  // the form's bytes around the file, at most

struct Request {
    std::string body;
    bool too_large = false;
    size_t received = 0;
    MHD_PostProcessor *form = nullptr;
    std::string initials, file;
    size_t file_limit = 0;
    bool bad_form = false;  // not multipart/form-data, or not readable as such
    ~Request() {
        if (form != nullptr) MHD_destroy_post_processor(form);
    }
};

struct Answer {
    Answer(unsigned s, std::string b, const char *t = "application/json")
        : status(s), body(std::move(b)), type(t) {}
    unsigned status;
    std::string body;
    const char *type;
    std::vector<std::pair<std::string, std::string>> headers;
};

Answer Error(unsigned status, const std::string &line) {
    return Answer(status, "{\"error\":" + json_string(line) + "}\n");
}

MHD_Result Send(MHD_Connection *c, const Answer &a) {
    MHD_Response *r = MHD_create_response_from_buffer(
        a.body.size(), const_cast<char *>(a.body.data()), MHD_RESPMEM_MUST_COPY);
    if (r == nullptr) return MHD_NO;
    MHD_add_response_header(r, "Content-Type", a.type);
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "Cache-Control", "no-store");
    MHD_add_response_header(r, "Access-Control-Allow-Origin", "*");
    for (const auto &h : a.headers) MHD_add_response_header(r, h.first.c_str(), h.second.c_str());
    const MHD_Result result = MHD_queue_response(c, a.status, r);
    MHD_destroy_response(r);
    return result;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The board's own time, whole seconds: when a challenge was issued, when a run arrived.
int64_t BoardNow(const Front::Impl &f) {
    return static_cast<int64_t>(Now()) + f.limits.clock_offset;
}

std::string Address(MHD_Connection *c, const Limits &limits) {
    if (limits.behind_proxy) {
        const char *list = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "X-Forwarded-For");
        if (list != nullptr) {
            // The proxy appends the address it saw: the last one is the only one to trust.
            std::string all = list;
            const size_t comma = all.rfind(',');
            std::string last = comma == std::string::npos ? all : all.substr(comma + 1);
            last.erase(0, last.find_first_not_of(' '));
            if (!last.empty() && last.size() < 64) return last;
        }
    }
    const MHD_ConnectionInfo *info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = "?";
    if (info != nullptr && info->client_addr != nullptr) {
        const sockaddr *sa = info->client_addr;
        if (sa->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr, text,
                      sizeof text);
        } else if (sa->sa_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, text,
                      sizeof text);
        }
    }
    return text;
}

// A run id as the URL gives it: decimal digits only, no sign, no leading zero games.
bool ParseId(const std::string &text, int64_t *id) {
    if (text.empty() || text.size() > 18) return false;
    int64_t v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return false;
        v = v * 10 + (ch - '0');
    }
    *id = v;
    return v > 0;
}

// Why a run was not stored: the status, the line, and for 429 and 503 when to try again.
struct Refusal {
    unsigned status = 0;
    std::string line;
    int retry = 0;
};

Answer ErrorFor(const Refusal &no) {
    Answer a = Error(no.status, no.line);
    if (no.retry > 0) a.headers.push_back({"Retry-After", std::to_string(no.retry)});
    return a;
}

// Stores a run as POST /runs and the form both do. False with the refusal when it is not.
bool StoreRun(Front::Impl &f, MHD_Connection *c, const std::string &initials,
              const std::string &bytes, int64_t *id, bool *added, Refusal *no) {
    if (!valid_initials(initials)) {
        *no = {MHD_HTTP_BAD_REQUEST, "initials must be three of A-Z and 0-9, as in ABC", 0};
    } else if (bytes.empty()) {
        *no = {MHD_HTTP_BAD_REQUEST, "the run file is empty: send a run file", 0};
    } else if (bytes.compare(0, 8, kMagic, 8) != 0) {
        *no = {MHD_HTTP_BAD_REQUEST, "the file is not a recorded run of this game", 0};
    }
    if (no->status != 0) return false;
    int retry = 0;
    if (!f.rate.take(Address(c, f.limits), Now(), &retry)) {
        *no = {MHD_HTTP_TOO_MANY_REQUESTS,
               "too many runs from this address: wait " + std::to_string(retry) + " s", retry};
        return false;
    }
    const Submitted s =
        f.store.submit(initials, sha256_hex(bytes), bytes, BoardNow(f), f.limits.max_waiting, id);
    if (s == Submitted::queue_full) {
        *no = {MHD_HTTP_SERVICE_UNAVAILABLE, "too many runs wait to be verified", 30};
        return false;
    }
    *added = s == Submitted::added;
    if (*added) f.bell.ring();
    return true;
}

Answer Submit(Front::Impl &f, MHD_Connection *c, const Request &req) {
    const char *initials = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "initials");
    if (initials == nullptr || !valid_initials(initials)) {
        return Error(MHD_HTTP_BAD_REQUEST,
                     "initials must be three of A-Z and 0-9, as in /runs?initials=ABC");
    }
    int64_t id = 0;
    bool added = false;
    Refusal no;
    if (!StoreRun(f, c, initials, req.body, &id, &added, &no)) return ErrorFor(no);
    Run run;
    if (!f.store.run(id, &run)) return Error(MHD_HTTP_INTERNAL_SERVER_ERROR, "the run vanished");
    Answer a(added ? MHD_HTTP_ACCEPTED : MHD_HTTP_OK, run_json(run));
    if (!added) a.body.insert(a.body.size() - 2, ",\"duplicate\":true");
    a.headers.push_back({"Location", "/runs/" + std::to_string(id)});
    return a;
}

// The form's submission: the run's page (303), or a page that says why not.
Answer Upload(Front::Impl &f, MHD_Connection *c, Request &req) {
    std::string initials = req.initials;
    for (char &ch : initials) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    int64_t id = 0;
    bool added = false;
    Refusal no;
    if (req.form != nullptr) {
        MHD_destroy_post_processor(req.form);  // hands over what it still held back
        req.form = nullptr;
    }
    if (req.bad_form) {
        no = {MHD_HTTP_BAD_REQUEST, "send the page's form (multipart/form-data)", 0};
    } else if (req.too_large) {
        no = {MHD_HTTP_CONTENT_TOO_LARGE,
              "a run file is at most " + std::to_string(f.limits.max_body) + " bytes", 0};
    }
    if (no.status != 0 || !StoreRun(f, c, initials, req.file, &id, &added, &no)) {
        Answer a(no.status, error_html(no.line), "text/html; charset=utf-8");
        if (no.retry > 0) a.headers.push_back({"Retry-After", std::to_string(no.retry)});
        return a;
    }
    const std::string page = "/runs/" + std::to_string(id) + ".html";
    Answer a(MHD_HTTP_SEE_OTHER,
             "<!DOCTYPE html>\n<p><a href=\"" + page + "\">The run's page</a></p>\n",
             "text/html; charset=utf-8");
    a.headers.push_back({"Location", page});
    return a;
}

// Takes the form's fields as they come; anything past their bounds marks it too large.
MHD_Result FormField(void *cls, MHD_ValueKind, const char *key, const char *, const char *,
                     const char *, const char *data, uint64_t, size_t size) {
    Request &req = *static_cast<Request *>(cls);
    std::string *into = std::strcmp(key, "initials") == 0 ? &req.initials
                        : std::strcmp(key, "run") == 0    ? &req.file
                                                          : nullptr;
    if (into == nullptr || size == 0) return MHD_YES;
    if (into == &req.initials && into->size() + size > 3) {
        *into = "too long";  // refused as initials, not as a file too large
        return MHD_YES;
    }
    if (into == &req.file && into->size() + size > req.file_limit) {
        req.too_large = true;
        return MHD_NO;
    }
    into->append(data, size);
    return MHD_YES;
}

// A challenge: a counter start from the machine's random source, none near an unexpired
// one (drawn again when it is), stored before it is told.
Answer IssueChallenge(Front::Impl &f, MHD_Connection *c) {
    int retry = 0;
    if (!f.challenge_rate.take(Address(c, f.limits), Now(), &retry)) {
        return ErrorFor(
            {MHD_HTTP_TOO_MANY_REQUESTS,
             "too many challenges for this address: wait " + std::to_string(retry) + " s", retry});
    }
    const int64_t now = BoardNow(f);
    const int64_t expires = now + f.limits.challenge_ttl;
    // Near ones are rare while the board has fewer than a few thousand unexpired (each
    // keeps 1/200,000 of the counter's range to itself); a few draws are plenty.
    for (int draw = 0; draw < 16; ++draw) {
        uint32_t counter = 0;
        if (getrandom(&counter, sizeof counter, 0) != sizeof counter) break;
        const Issued issued = f.store.add_challenge(counter, now, expires, f.limits.max_challenges);
        if (issued == Issued::full) break;
        if (issued == Issued::added) {
            return Answer(MHD_HTTP_CREATED, challenge_json(counter, now, expires, now));
        }
    }
    return ErrorFor({MHD_HTTP_SERVICE_UNAVAILABLE, "too many challenges are open: try later", 60});
}

const char *TypeOf(const std::string &path) {
    static const std::pair<const char *, const char *> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript"},
        {".wasm", "application/wasm"},
        {".json", "application/json"},
        {".webmanifest", "application/manifest+json"},
        {".png", "image/png"},
        {".bmp", "image/bmp"},
        {".css", "text/css"},
        {".svg", "image/svg+xml"}};
    for (const auto &t : kTypes) {
        const size_t n = std::strlen(t.first);
        if (path.size() >= n && path.compare(path.size() - n, n, t.first) == 0) return t.second;
    }
    return "application/octet-stream";
}

// A file of the web build. Only plain names under the folder: no "..", no hidden files.
MHD_Result SiteFile(Front::Impl &f, MHD_Connection *c, std::string path) {
    if (path.empty() || path.back() == '/') path += "index.html";
    for (size_t i = 0; i < path.size(); ++i) {
        const char ch = path[i];
        const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                           (ch >= '0' && ch <= '9') || ch == '-' || ch == '_' || ch == '/' ||
                           (ch == '.' && i > 0 && path[i - 1] != '/' && path[i - 1] != '.');
        if (!plain || path[0] == '.') return Send(c, Error(MHD_HTTP_NOT_FOUND, "no such file"));
    }
    const int fd = open((f.site + "/" + path).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        return Send(c, Error(MHD_HTTP_NOT_FOUND, "no such file"));
    }
    MHD_Response *r = MHD_create_response_from_fd(static_cast<size_t>(st.st_size), fd);
    if (r == nullptr) {
        close(fd);
        return MHD_NO;
    }
    MHD_add_response_header(r, "Content-Type", TypeOf(path));
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "Access-Control-Allow-Origin", "*");
    const MHD_Result result = MHD_queue_response(c, MHD_HTTP_OK, r);
    MHD_destroy_response(r);
    return result;
}

Answer Get(Front::Impl &f, MHD_Connection *c, const std::string &url) {
    const std::string site = f.site.empty() ? "" : "/site/";
    if (url == "/") {
        return Answer(MHD_HTTP_OK,
                      board_html(f.store.best(kLive, f.limits.board_size),
                                 f.store.best(kReplayVerified, f.limits.board_size), site),
                      "text/html; charset=utf-8");
    }
    if (url == "/board.json") {
        int n = f.limits.board_size;
        if (const char *text = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "n")) {
            int64_t asked = 0;
            if (!ParseId(text, &asked) || asked > 1000) {
                return Error(MHD_HTTP_BAD_REQUEST, "n is a count from 1 to 1000");
            }
            n = static_cast<int>(asked);
        }
        return Answer(MHD_HTTP_OK,
                      board_json(f.store.best(kLive, n), f.store.best(kReplayVerified, n)));
    }
    if (url.rfind("/runs/", 0) == 0) {
        std::string rest = url.substr(6);
        const bool file = rest.size() > 4 && rest.compare(rest.size() - 4, 4, ".vnr") == 0;
        const bool page = rest.size() > 5 && rest.compare(rest.size() - 5, 5, ".html") == 0;
        if (file || page) rest.resize(rest.size() - (file ? 4 : 5));
        int64_t id = 0;
        if (!ParseId(rest, &id)) return Error(MHD_HTTP_BAD_REQUEST, "a run's id is a number");
        if (file) {
            Answer a(MHD_HTTP_OK, "", "application/octet-stream");
            if (!f.store.run_bytes(id, &a.body)) return Error(MHD_HTTP_NOT_FOUND, "no such run");
            a.headers.push_back({"Content-Disposition", "attachment; filename=\"vornackle-run-" +
                                                            std::to_string(id) + ".vnr\""});
            return a;
        }
        Run run;
        if (!f.store.run(id, &run)) return Error(MHD_HTTP_NOT_FOUND, "no such run");
        if (page) return Answer(MHD_HTTP_OK, run_html(run, site), "text/html; charset=utf-8");
        return Answer(MHD_HTTP_OK, run_json(run));
    }
    return Error(MHD_HTTP_NOT_FOUND, "no such page");
}

MHD_Result Handle(void *cls, MHD_Connection *c, const char *url_text, const char *method,
                  const char *, const char *upload, size_t *upload_size, void **context) {
    Front::Impl &f = *static_cast<Front::Impl *>(cls);
    const std::string url = url_text;
    const bool post = std::strcmp(method, "POST") == 0;
    const bool get = std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
    const bool form = post && url == kFormPath;
    // The form's file is bounded as a run is; its envelope (boundaries, the initials) a
    // little more.
    const size_t most = size_t(f.limits.max_body) + (form ? kFormEnvelope : 0);
    if (*context == nullptr) {
        auto *req = new Request;
        *context = req;
        if (post) {
            // A body announced too large is refused before a byte of it is read.
            const char *length =
                MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (length != nullptr && std::strtoull(length, nullptr, 10) > most) {
                req->too_large = true;
            }
        }
        if (form) {
            req->file_limit = size_t(f.limits.max_body);
            req->form = MHD_create_post_processor(c, 8 * 1024, &FormField, req);
            req->bad_form = req->form == nullptr;
        }
        if (!req->too_large) return MHD_YES;
    }
    auto *req = static_cast<Request *>(*context);
    if (*upload_size > 0) {
        req->received += *upload_size;
        if (req->too_large || req->received > most) {
            req->too_large = true;
            req->body.clear();
            req->file.clear();
        } else if (req->form != nullptr) {
            if (MHD_post_process(req->form, upload, *upload_size) != MHD_YES && !req->too_large) {
                MHD_destroy_post_processor(req->form);
                req->form = nullptr;
                req->bad_form = true;
            }
        } else if (!form) {
            req->body.append(upload, *upload_size);
        }
        *upload_size = 0;
        return MHD_YES;
    }
    try {
        if (std::strcmp(method, "OPTIONS") == 0) {
            // A browser's preflight, before a page of another origin posts to the board.
            Answer a(MHD_HTTP_NO_CONTENT, "", "text/plain");
            a.headers.push_back({"Access-Control-Allow-Methods", "GET, POST, OPTIONS"});
            a.headers.push_back({"Access-Control-Allow-Headers", "Content-Type"});
            a.headers.push_back({"Access-Control-Max-Age", "86400"});
            return Send(c, a);
        }
        if (post && url == "/challenges") return Send(c, IssueChallenge(f, c));
        if (form) return Send(c, Upload(f, c, *req));
        if (post && url == "/runs") {
            if (req->too_large) {
                return Send(c, Error(MHD_HTTP_CONTENT_TOO_LARGE,
                                     "a run file is at most " + std::to_string(f.limits.max_body) +
                                         " bytes"));
            }
            return Send(c, Submit(f, c, *req));
        }
        if (get && url == "/site/hall-of-fame.json" && !f.site.empty()) {
            // The board's own copy of the page plays against this board, whatever the
            // folder's file says.
            return Send(c, Answer(MHD_HTTP_OK, "{\"board\": \"/\"}\n"));
        }
        if (get && !f.site.empty() && url.rfind("/site/", 0) == 0) {
            return SiteFile(f, c, url.substr(6));
        }
        if (get) return Send(c, Get(f, c, url));
        Answer a = Error(MHD_HTTP_METHOD_NOT_ALLOWED, "not a method of this board");
        const bool posted = url == "/runs" || url == "/challenges" || url == kFormPath;
        a.headers.push_back({"Allow", posted ? "POST, OPTIONS" : "GET, HEAD, OPTIONS"});
        return Send(c, a);
    } catch (const StoreError &e) {
        std::fprintf(stderr, "vornackle-board: %s\n", e.what());
        Answer a = Error(MHD_HTTP_SERVICE_UNAVAILABLE, "the board's database is not answering");
        a.headers.push_back({"Retry-After", "10"});
        return Send(c, a);
    }
}

void Completed(void *, MHD_Connection *, void **context, MHD_RequestTerminationCode) {
    delete static_cast<Request *>(*context);
    *context = nullptr;
}

}  // namespace

Front::Front(Store &store, const Limits &limits, Doorbell &bell, const std::string &site)
    : impl_(new Impl(store, limits, bell, site)) {}

Front::~Front() {
    if (impl_->daemon != nullptr) MHD_stop_daemon(impl_->daemon);
    delete impl_;
}

bool Front::start(const std::string &address, int port, int threads) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        std::fprintf(stderr, "vornackle-board: --listen takes an IPv4 address, not '%s'\n",
                     address.c_str());
        return false;
    }
    impl_->daemon =
        MHD_start_daemon(MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ERROR_LOG, 0, nullptr, nullptr,
                         &Handle, impl_, MHD_OPTION_SOCK_ADDR, &sa, MHD_OPTION_THREAD_POOL_SIZE,
                         static_cast<unsigned>(threads), MHD_OPTION_CONNECTION_LIMIT, 512u,
                         MHD_OPTION_PER_IP_CONNECTION_LIMIT, 64u, MHD_OPTION_CONNECTION_TIMEOUT,
                         15u, MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(64 * 1024),
                         MHD_OPTION_NOTIFY_COMPLETED, &Completed, nullptr, MHD_OPTION_END);
    if (impl_->daemon == nullptr) {
        std::fprintf(stderr, "vornackle-board: cannot listen on %s:%d\n", address.c_str(), port);
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(impl_->daemon, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info != nullptr ? info->port : port;
    return true;
}

}  // namespace board
