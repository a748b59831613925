// What the desktop backends share of input: the queue of events waiting for
// the core, and who holds which key.
//
// A controller plays like the keyboard: the d-pad and the left stick are
// Left and Right, A is the screen's advance key (Enter or Space, whichever
// the screen waits for), B is Backspace and Back is Esc. Several things may
// hold one key at once (the Left arrow, the d-pad, the stick): the key goes
// down with the first and up with the last.
#pragma once

#include <cstdint>

#include "platform/backend.h"

namespace desktop {

// A controller's parts the game knows; every other part does nothing.
enum class Pad { DpadLeft, DpadRight, A, B, Back, Other };

// Who holds a key: a keyboard key (the backend's own code for it, below
// 2^31) or a controller's part.
using Source = std::uint32_t;
Source ControllerPart(int controller, Pad part);

// `source` pressed or let go of `key` (a virtual-key code, kAdvanceKey, or 0
// for a key the game does not use).
void Press(Source source, int key, bool down);
void PressPad(int controller, Pad part, bool down);
// The controller's left stick across, -32768 (left) to 32767: past half way
// it holds Left or Right, back inside a quarter it lets go, so that a stick
// resting near the edge does not flicker.
void Stick(int controller, int value);
// Everything the controller holds goes up with it (it was unplugged).
void LetGo(int controller);
// Keys held now will not be reported released (the window lost the focus):
// nothing is held any more, and the core lets go of every key.
void FocusLost();

void Queue(backend::Event event);
// The first event waiting; false when none is.
bool TakeEvent(backend::Event* event);
bool EventWaiting();

}  // namespace desktop
