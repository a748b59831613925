// The desktop's HTTP on Windows: WinHTTP, which every Windows has, so the
// program needs no library of its own for it. Bounded as backend.h asks: a
// timer closes the request when its seconds are up, whatever the other side
// does (closing cancels a call blocked on it), and the answer is read up to
// its size; http and https only, no redirect followed, no cookies.
#include "platform/win32/win32_backend.h"
// clang-format off
#include <winhttp.h>
// clang-format on

#include <algorithm>

#include "platform/desktop/http.h"

namespace {

// The request, closed by the timer when time is up and by the caller
// otherwise, but never by both.
struct Watch {
    HINTERNET request = nullptr;
    bool closed = false;
};

VOID CALLBACK TimeUp(PVOID context, BOOLEAN) {
    auto* watch = static_cast<Watch*>(context);
    WinHttpCloseHandle(watch->request);
    watch->closed = true;
}

std::string Why(DWORD code, bool timedOut) {
    if (timedOut || code == ERROR_WINHTTP_TIMEOUT) return "timed out";
    switch (code) {
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return "cannot connect";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return "no such host";
        case ERROR_WINHTTP_SECURE_FAILURE:
            return "its certificate is not trusted";
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return "the connection broke";
        default:
            return "WinHTTP error " + std::to_string(code);
    }
}

}  // namespace

namespace desktop {

bool HttpRequest(const char* method, const std::string& url, const std::string& body, int seconds,
                 std::size_t limit, backend::HttpAnswer* answer, std::string* error) {
    answer->status = 0;
    answer->body.clear();
    std::wstring wide;
    for (const char c : url) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            *error = "not a URL";
            return false;
        }
        wide.push_back(static_cast<wchar_t>(c));
    }
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        *error = "not an http or https URL";
        return false;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    const std::wstring verb(method, method + std::char_traits<char>::length(method));

    const int milliseconds = seconds * 1000;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    HINTERNET session = WinHttpOpen(L"vornackle", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection =
        session != nullptr ? WinHttpConnect(session, host.c_str(), parts.nPort, 0) : nullptr;
    Watch watch;
    watch.request =
        connection != nullptr
            ? WinHttpOpenRequest(connection, verb.c_str(), path.c_str(), nullptr,
                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                 parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
            : nullptr;
    HANDLE timer = nullptr;
    bool done = false;
    std::string tooLarge;
    DWORD code = 0;
    if (watch.request != nullptr) {
        DWORD features = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
        WinHttpSetOption(watch.request, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
        WinHttpSetTimeouts(watch.request, milliseconds, milliseconds, milliseconds, milliseconds);
        if (!CreateTimerQueueTimer(&timer, nullptr, TimeUp, &watch,
                                   static_cast<DWORD>(milliseconds), 0, WT_EXECUTEONLYONCE)) {
            timer = nullptr;
        }
        const bool post = verb == L"POST";
        const DWORD size = static_cast<DWORD>(body.size());
        DWORD status = 0, statusSize = sizeof status;
        if (WinHttpSendRequest(watch.request,
                               post ? L"Content-Type: application/octet-stream" : nullptr,
                               post ? static_cast<DWORD>(-1) : 0,
                               post ? const_cast<char*>(body.data()) : nullptr, size, size, 0) &&
            WinHttpReceiveResponse(watch.request, nullptr) &&
            WinHttpQueryHeaders(
                watch.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
            answer->status = static_cast<int>(status);
            char chunk[8192];
            for (;;) {
                // Only what has come is read, and each wait is no longer
                // than the time left, so that a board dripping its answer is
                // left on time even where closing does not cancel a read.
                const ULONGLONG now = GetTickCount64();
                if (now >= deadline) break;
                DWORD left = static_cast<DWORD>(deadline - now), come = 0, got = 0;
                WinHttpSetOption(watch.request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &left, sizeof left);
                if (!WinHttpQueryDataAvailable(watch.request, &come)) break;
                if (come == 0) {
                    done = true;
                    break;
                }
                if (!WinHttpReadData(watch.request, chunk, std::min<DWORD>(come, sizeof chunk),
                                     &got)) {
                    break;
                }
                if (answer->body.size() + got > limit) {
                    tooLarge = "an answer over " + std::to_string(limit) + " bytes";
                    break;
                }
                answer->body.append(chunk, got);
            }
        }
        code = GetLastError();
    } else {
        code = GetLastError();
    }
    // The timer's call, if it began, has ended once its timer is deleted.
    if (timer != nullptr) DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    if (watch.request != nullptr && !watch.closed) WinHttpCloseHandle(watch.request);
    if (connection != nullptr) WinHttpCloseHandle(connection);
    if (session != nullptr) WinHttpCloseHandle(session);
    if (!done) {
        *error =
            !tooLarge.empty() ? tooLarge : Why(code, watch.closed || GetTickCount64() >= deadline);
        answer->status = 0;
        return false;
    }
    return true;
}

}  // namespace desktop

namespace {
// The core speaks to a hall of fame through this (platform/backend.h); set
// before main, as this object is linked into every program of the backend.
[[maybe_unused]] const bool kSpoken = (backend::httpRequest = desktop::HttpRequest, true);
}  // namespace
