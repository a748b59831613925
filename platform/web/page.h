// What the web backend's files (platform/web/) share.
#pragma once

namespace web {

// Whether the program runs in a page: under node nothing is shown or heard,
// and the waits keep time on the spot.
bool OnPage();

// Hands control to the browser for a moment when the program has run for a
// while without waiting, so that the page still draws and takes input.
void YieldIfBusy();

// Starts taking the page's keys, buttons and controllers (input.cpp); once.
void AttachInput();

}  // namespace web
