// The desktop's HTTP on Linux and the other systems SDL serves: libcurl,
// the system's library for it. Bounded as backend.h asks: the whole
// exchange within its seconds, the answer within its size, http and https
// only, no redirect followed.
#include "platform/desktop/http.h"

#include <curl/curl.h>

#include <mutex>

namespace {

struct Received {
    std::string* body;
    std::size_t limit;
    bool tooLarge = false;
};

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto* received = static_cast<Received*>(user);
    const std::size_t bytes = size * count;
    if (received->body->size() + bytes > received->limit) {
        received->tooLarge = true;
        return 0;  // curl stops here
    }
    received->body->append(data, bytes);
    return bytes;
}

}  // namespace

namespace desktop {

bool HttpRequest(const char* method, const std::string& url, const std::string& body, int seconds,
                 std::size_t limit, backend::HttpAnswer* answer, std::string* error) {
    static std::once_flag started;
    std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        *error = "no HTTP on this machine";
        return false;
    }
    answer->status = 0;
    answer->body.clear();
    Received received{&answer->body, limit};
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/octet-stream");
    // A body is sent at once, not after a wait for the server's leave.
    headers = curl_slist_append(headers, "Expect:");
    const long milliseconds = static_cast<long>(seconds) * 1000;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, milliseconds);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, milliseconds);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "vornackle");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    if (std::string(method) == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) {
        *error = received.tooLarge || code == CURLE_FILESIZE_EXCEEDED
                     ? "an answer over " + std::to_string(limit) + " bytes"
                     : curl_easy_strerror(code);
        return false;
    }
    answer->status = static_cast<int>(status);
    return true;
}

}  // namespace desktop

namespace {
// The core speaks to a hall of fame through this (platform/backend.h); set
// before main, as this object is linked into every program of the backend.
[[maybe_unused]] const bool kSpoken = (backend::httpRequest = desktop::HttpRequest, true);
}  // namespace
