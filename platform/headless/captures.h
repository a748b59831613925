// What the headless backend (backend.cpp) keeps for the test seam (seam.cpp):
// the pictures presented, the sounds started and where the program's files
// are. Empty when the tests run over another backend.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/seam.h"
#include "platform/winapi.h"

namespace headless {

struct Captures {
    bool textsOnly = false;              // keep neither checksums nor colours
    std::uint32_t checksum = 0;          // of the last presented picture's indices
    std::vector<std::uint32_t> argb;     // its colours; empty before the first
    std::vector<UINT> beeps;             // MessageBeep types, as their tones started
    std::string programDir;              // "" = the executable's own folder
    std::vector<backend::Event> events;  // the window's, not yet taken
    // The hall of fame's board, scripted (seam::ScriptHttp).
    std::function<bool(const seam::HttpExchange&, backend::HttpAnswer*, std::string*)> http;
};
extern Captures captures;

}  // namespace headless
