// The desktop's HTTP on Linux (libcurl, platform/sdl/http.cpp) against a
// server of the test's own on loopback that answers well, too much, too
// slowly or not at all: a hostile board can neither hang the program nor
// fill its memory, and is never followed elsewhere.
#include "platform/desktop/http.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

// One connection on 127.0.0.1: the request (head and body) is kept, then
// `answer` writes to the socket; held open until the client hangs up, 20 s
// at most, with `each` every 0.1 s.
class Server {
  public:
    Server(std::string answer, std::function<void(int)> each = {}) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        thread_ = std::thread([this, answer, each] {
            const int client = accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            char chunk[4096];
            for (ssize_t got; request_.find("\r\n\r\n") == std::string::npos ||
                              request_.size() < request_.find("\r\n\r\n") + 4 + Length();) {
                if ((got = recv(client, chunk, sizeof chunk, 0)) <= 0) break;
                request_.append(chunk, static_cast<std::size_t>(got));
            }
            (void)send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            for (int i = 0; i < 200 && recv(client, chunk, 1, MSG_DONTWAIT) != 0; ++i) {
                if (each) each(client);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            close(client);
        });
    }
    ~Server() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::size_t Length() const {
        const std::size_t at = request_.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(request_.substr(at + 16));
    }
    std::string url_, request_;

  private:
    int listener_ = -1;
    std::thread thread_;
};

backend::HttpAnswer answer;
std::string error;

TEST(DesktopHttp, SendsTheBodyAndReadsTheWholeAnswerNotRedirected) {
    const std::string run(5000, '\x01');
    Server server(
        "HTTP/1.1 202 Accepted\r\nContent-Length: 8\r\nConnection: close\r\n\r\n{\"id\":7}");
    ASSERT_TRUE(desktop::HttpRequest("POST", server.url_ + "/runs?initials=ABC", run, 5, 1024,
                                     &answer, &error))
        << error;
    EXPECT_EQ(202, answer.status);
    EXPECT_EQ("{\"id\":7}", answer.body);
    EXPECT_EQ(0u, server.request_.find("POST /runs?initials=ABC HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, server.request_.find("Content-Type: application/octet-stream"));
    EXPECT_EQ(run, server.request_.substr(server.request_.size() - run.size()));
    // A redirect is an answer, not followed; only http and https are spoken.
    Server redirect(
        "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(desktop::HttpRequest("GET", redirect.url_ + "/", "", 5, 1024, &answer, &error));
    EXPECT_EQ(302, answer.status);
    EXPECT_FALSE(
        desktop::HttpRequest("GET", "file:///etc/passwd", "", 5, 1 << 20, &answer, &error));
    EXPECT_TRUE(answer.body.empty());
}

// Too much (said in advance or not), nothing, or a byte at a time: each is
// left, the slow ones when their second is up (measured generously: the
// bound is what matters, not its precision).
TEST(DesktopHttp, AHostileAnswerIsLeftWithinItsBounds) {
    const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    for (const std::string& large :
         {head + "\r\n" + std::string(4096, 'x'),
          head + "Content-Length: 4096\r\n\r\n" + std::string(4096, 'x')}) {
        Server server(large);
        EXPECT_FALSE(
            desktop::HttpRequest("GET", server.url_ + "/board.json", "", 5, 1000, &answer, &error));
        EXPECT_EQ("an answer over 1000 bytes", error);
    }
    for (const bool drip : {false, true}) {
        Server server(drip ? head + "Content-Length: 1000\r\n\r\n" : "",
                      [drip](int client) { (void)(drip && send(client, "x", 1, MSG_NOSIGNAL)); });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(
            desktop::HttpRequest("GET", server.url_ + "/runs/1", "", 1, 1 << 20, &answer, &error));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
            << "drip: " << drip;
    }
}

}  // namespace
