// The one way a test harness reaches into the core (the tests' own is
// platform/headless/seam.cpp). The program installs none, and then the core
// runs exactly the lines the player runs: these five calls, and the clock
// record a harness may put in the backend's place (core.h: UseClock), are the
// only places where a harness can change what happens.
#pragma once

#include "platform/core/entries.h"
#include "platform/winapi.h"

namespace standin {

class Harness {
  public:
    // An entry began (after nothing but its own name was known).
    virtual void Entered(Entry entry) = 0;
    // An entry reached the point where the platform may fail it (its
    // arguments passed the checks): true makes it fail with `*result`, which
    // holds the entry's usual failure code on the way in.
    virtual bool Fails(Entry entry, HRESULT* result) = 0;
    // Text was drawn on the back buffer, in palette entry `index`.
    virtual void DrewText(int x, int y, const char* text, int length, COLORREF colour,
                          BYTE index) = 0;
    // A picture was presented (a successful Flip, at its end).
    virtual void Flipped() = 0;
    // The tick counter when the harness keeps a virtual one: true with its
    // value, which moves on by a step when `read` (GetTickCount) and stays
    // when only looked at (a message's time).
    virtual bool VirtualTick(bool read, DWORD* tick) = 0;

  protected:
    ~Harness() = default;
};

// Null in the program.
extern Harness* harness;

}  // namespace standin
