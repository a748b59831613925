// The board's HTTP front, over libmicrohttpd.
//
//   GET  /                 the board as a page (no script)
//   GET  /board.json?n=N   the best N (default the page's size, at most 1000)
//   POST /runs?initials=X  the body is a run file; 202 with its id, verified in the background
//   GET  /runs/ID          one run's status
//   GET  /runs/ID.vnr      the run's file
//   GET  /site/...         the web build, when --site names its folder
//
// Every answer's body is JSON or HTML built by pages.cpp; an error is {"error": "..."} with
// a 4xx or 5xx that says which. Nothing about a run lives here: it is all in the store.
#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
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
    RateLimit rate;
    MHD_Daemon *daemon = nullptr;
    Impl(Store &s, const Limits &l, Doorbell &b, const std::string &site_dir)
        : store(s), limits(l), bell(b), site(site_dir), rate(l.rate_per_minute, l.burst) {}
};

namespace {

const char kMagic[] = "VNKRUN\x1a\n";

struct Request {
    std::string body;
    bool too_large = false;
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
    for (const auto &h : a.headers) MHD_add_response_header(r, h.first.c_str(), h.second.c_str());
    const MHD_Result result = MHD_queue_response(c, a.status, r);
    MHD_destroy_response(r);
    return result;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
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

Answer Submit(Front::Impl &f, MHD_Connection *c, const Request &req) {
    const char *initials = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "initials");
    if (initials == nullptr || !valid_initials(initials)) {
        return Error(MHD_HTTP_BAD_REQUEST,
                     "initials must be three of A-Z and 0-9, as in /runs?initials=ABC");
    }
    if (req.body.empty()) return Error(MHD_HTTP_BAD_REQUEST, "the body is empty: send a run file");
    if (req.body.compare(0, 8, kMagic, 8) != 0) {
        return Error(MHD_HTTP_BAD_REQUEST, "the body is not a recorded run of this game");
    }
    int retry = 0;
    if (!f.rate.take(Address(c, f.limits), Now(), &retry)) {
        Answer a = Error(MHD_HTTP_TOO_MANY_REQUESTS,
                         "too many runs from this address: wait " + std::to_string(retry) + " s");
        a.headers.push_back({"Retry-After", std::to_string(retry)});
        return a;
    }
    int64_t id = 0;
    const Submitted s = f.store.submit(initials, sha256_hex(req.body), req.body,
                                       static_cast<int64_t>(Now()), f.limits.max_waiting, &id);
    if (s == Submitted::queue_full) {
        Answer a = Error(MHD_HTTP_SERVICE_UNAVAILABLE, "too many runs wait to be verified");
        a.headers.push_back({"Retry-After", "30"});
        return a;
    }
    if (s == Submitted::added) f.bell.ring();
    Run run;
    if (!f.store.run(id, &run)) return Error(MHD_HTTP_INTERNAL_SERVER_ERROR, "the run vanished");
    Answer a(s == Submitted::added ? MHD_HTTP_ACCEPTED : MHD_HTTP_OK, run_json(run));
    if (s == Submitted::duplicate) a.body.insert(a.body.size() - 2, ",\"duplicate\":true");
    a.headers.push_back({"Location", "/runs/" + std::to_string(id)});
    return a;
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
    const MHD_Result result = MHD_queue_response(c, MHD_HTTP_OK, r);
    MHD_destroy_response(r);
    return result;
}

Answer Get(Front::Impl &f, MHD_Connection *c, const std::string &url) {
    if (url == "/") {
        return Answer(MHD_HTTP_OK,
                      board_html(f.store.best(f.limits.board_size), f.site.empty() ? "" : "/site/"),
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
        return Answer(MHD_HTTP_OK, board_json(f.store.best(n)));
    }
    if (url.rfind("/runs/", 0) == 0) {
        std::string rest = url.substr(6);
        const bool file = rest.size() > 4 && rest.compare(rest.size() - 4, 4, ".vnr") == 0;
        if (file) rest.resize(rest.size() - 4);
        int64_t id = 0;
        if (!ParseId(rest, &id)) return Error(MHD_HTTP_BAD_REQUEST, "a run's id is a number");
        if (file) {
            Answer a(MHD_HTTP_OK, "", "application/octet-stream");
            if (!f.store.run_bytes(id, &a.body)) return Error(MHD_HTTP_NOT_FOUND, "no such run");
            a.headers.push_back({"Content-Disposition", "attachment; filename=\"vornackle-run-" +
                                                            std::to_string(id) + ".vnr\""});
            a.headers.push_back({"Access-Control-Allow-Origin", "*"});
            return a;
        }
        Run run;
        if (!f.store.run(id, &run)) return Error(MHD_HTTP_NOT_FOUND, "no such run");
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
    if (*context == nullptr) {
        auto *req = new Request;
        *context = req;
        if (post) {
            // A body announced too large is refused before a byte of it is read.
            const char *length =
                MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (length != nullptr && std::strtoll(length, nullptr, 10) > f.limits.max_body) {
                req->too_large = true;
            }
        }
        if (!req->too_large) return MHD_YES;
    }
    auto *req = static_cast<Request *>(*context);
    if (*upload_size > 0) {
        if (!req->too_large && req->body.size() + *upload_size <= size_t(f.limits.max_body)) {
            req->body.append(upload, *upload_size);
        } else {
            req->too_large = true;
            req->body.clear();
        }
        *upload_size = 0;
        return MHD_YES;
    }
    try {
        if (post && url == "/runs") {
            if (req->too_large) {
                return Send(c, Error(MHD_HTTP_CONTENT_TOO_LARGE,
                                     "a run file is at most " + std::to_string(f.limits.max_body) +
                                         " bytes"));
            }
            return Send(c, Submit(f, c, *req));
        }
        if (get && !f.site.empty() && url.rfind("/site/", 0) == 0) {
            return SiteFile(f, c, url.substr(6));
        }
        if (get) return Send(c, Get(f, c, url));
        Answer a = Error(MHD_HTTP_METHOD_NOT_ALLOWED, "not a method of this board");
        a.headers.push_back({"Allow", url == "/runs" ? "POST" : "GET, HEAD"});
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
