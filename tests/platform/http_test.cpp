// The desktop's HTTP on Linux (libcurl, platform/sdl/http.cpp) against a
// server of the test's own on loopback that answers well, too much, too
// slowly or not at all: a hostile board can neither hang the program nor
// fill its memory, and is never followed elsewhere.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/desktop/http.h"

namespace {

// One connection on 127.0.0.1, answered by `answer` with its socket once
// the request (head and body) has arrived; the request is kept.
class Server {
  public:
    explicit Server(std::function<void(int)> answer) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, answer] {
            const int client = accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            char chunk[4096];
            std::size_t length = 0;
            for (;;) {
                const std::size_t head = request_.find("\r\n\r\n");
                if (head != std::string::npos) {
                    const std::size_t at = request_.find("Content-Length: ");
                    if (at != std::string::npos) length = std::stoul(request_.substr(at + 16));
                    if (request_.size() >= head + 4 + length) break;
                }
                const ssize_t got = recv(client, chunk, sizeof chunk, 0);
                if (got <= 0) break;
                request_.append(chunk, static_cast<std::size_t>(got));
            }
            answer(client);
            close(client);
        });
    }
    ~Server() {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    const std::string& Request() const { return request_; }

  private:
    int listener_ = -1;
    int port_ = 0;
    std::string request_;
    std::thread thread_;
};

void Send(int client, const std::string& text) {
    (void)send(client, text.data(), text.size(), MSG_NOSIGNAL);
}

// Until the client hangs up (it gave up), at most `seconds`.
void HoldOpen(int client, int seconds, const std::function<void()>& each = {}) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (each) each();
        char byte;
        if (recv(client, &byte, 1, MSG_DONTWAIT) == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

double SecondsOf(const std::function<void()>& what) {
    const auto start = std::chrono::steady_clock::now();
    what();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

backend::HttpAnswer answer;
std::string error;

TEST(DesktopHttp, SendsTheBodyAndReadsTheWholeAnswer) {
    const std::string run(5000, '\x01');
    Server server([](int client) {
        Send(client,
             "HTTP/1.1 202 Accepted\r\nContent-Length: 13\r\nConnection: close\r\n\r\n"
             "{\"id\":7,\"a\":1}");
    });
    ASSERT_TRUE(desktop::HttpRequest("POST", server.Url("/runs?initials=ABC"), run, 5, 1024,
                                     &answer, &error))
        << error;
    EXPECT_EQ(202, answer.status);
    EXPECT_EQ("{\"id\":7,\"a\":1", answer.body);  // as long as it said
    EXPECT_EQ(0u, server.Request().find("POST /runs?initials=ABC HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, server.Request().find("Content-Type: application/octet-stream"));
    EXPECT_EQ(run, server.Request().substr(server.Request().size() - run.size()));
}

// An answer past the limit, said or not in advance, is refused.
TEST(DesktopHttp, AnAnswerOverItsLimitIsRefused) {
    for (const bool said : {true, false}) {
        Server server([said](int client) {
            Send(client, std::string("HTTP/1.1 200 OK\r\nConnection: close\r\n") +
                             (said ? "Content-Length: 4096\r\n" : "") + "\r\n" +
                             std::string(4096, 'x'));
        });
        EXPECT_FALSE(desktop::HttpRequest("GET", server.Url("/board.json"), "", 5, 1000, &answer,
                                          &error));
        EXPECT_EQ("an answer over 1000 bytes", error) << "said: " << said;
    }
}

// A board that says nothing, or a byte at a time, is left when the seconds
// are up (generously measured: the bound is what matters, not its precision).
TEST(DesktopHttp, ASlowBoardIsLeftWhenItsTimeIsUp) {
    {
        Server server([](int client) { HoldOpen(client, 20); });
        EXPECT_LT(SecondsOf([&] {
                      EXPECT_FALSE(desktop::HttpRequest("GET", server.Url("/runs/1"), "", 1,
                                                        1 << 20, &answer, &error));
                  }),
                  10);
    }
    {
        Server server([](int client) {
            Send(client, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
            HoldOpen(client, 20, [client] { Send(client, "x"); });
        });
        EXPECT_LT(SecondsOf([&] {
                      EXPECT_FALSE(desktop::HttpRequest("GET", server.Url("/runs/1"), "", 1,
                                                        1 << 20, &answer, &error));
                  }),
                  10);
    }
}

// A redirect is an answer, not followed; only http and https are spoken.
TEST(DesktopHttp, NeitherRedirectedNorOtherProtocols) {
    Server server([](int client) {
        Send(client,
             "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
    });
    ASSERT_TRUE(desktop::HttpRequest("GET", server.Url("/"), "", 5, 1024, &answer, &error));
    EXPECT_EQ(302, answer.status);
    EXPECT_FALSE(desktop::HttpRequest("GET", "file:///etc/passwd", "", 5, 1 << 20, &answer, &error));
    EXPECT_TRUE(answer.body.empty());
    EXPECT_FALSE(desktop::HttpRequest("GET", "http://127.0.0.1:1/", "", 5, 1024, &answer, &error));
}

}  // namespace
