// The system's HTTP, which each desktop backend provides (libcurl in
// platform/sdl/http.cpp, WinHTTP in platform/win32/http.cpp) and the options
// hand to the core as backend::httpRequest (platform/backend.h says what it
// does).
#pragma once

#include <cstddef>
#include <string>

#include "platform/backend.h"

namespace desktop {

bool HttpRequest(const char* method, const std::string& url, const std::string& body, int seconds,
                 std::size_t limit, backend::HttpAnswer* answer, std::string* error);

}  // namespace desktop
