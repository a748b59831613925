// One fixed session of the whole game, as the fault sweep plays it: the
// story, the title, all five levels played by the bot with the first attempt
// at level 2 thrown and retried, the game-complete screen, the title again
// and Esc. Optionally with one injected failure; afterwards, what the run
// left behind.
#pragma once

#include <string>
#include <vector>

#include "platform/seam.h"

namespace sweep {

// A kind of failure the sweep injects: a platform call, malloc, or the
// display taken away before a given picture (with `call` other than Count:
// and that call failing from its first use after, once or for good).
struct Kind {
    const char* name;
    enum Source { PlatformCall, Malloc, LostDisplay } source;
    seam::Call call;
    std::vector<HRESULT> results;  // 0: the call's usual failure code
    // A single failure may end the game (with a one-line reason): nothing
    // can be shown without what it makes.
    bool mayEndGame = false;
};
const std::vector<Kind>& Kinds();
const Kind* FindKind(const std::string& name);
std::string ResultName(HRESULT result);

struct Fault {
    const Kind* kind = nullptr;  // none: the session as it should go
    long use = 0;                // 1 = the first use in the session
    bool forever = false;        // that use and every later one fail
    HRESULT result = 0;
};

struct Report {
    int exitCode = -1;
    bool completed = false;      // five levels, the complete screen, its time on the title
    int totalSeconds = -1;       // on the game-complete screen
    bool quitWhileAway = false;  // the display never came back: Esc unseen
    std::string problems;        // what the run left behind or lost; empty when sound
    std::vector<long> uses;      // per kind, in Kinds() order
};

Report RunSession(const Fault& fault);

}  // namespace sweep
