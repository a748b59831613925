// The one switch between the real platform and our stand-in.
//
// Game code (shell/, graphics/, game/) includes this header and nothing
// platform-specific: on Windows it gets the real Win32 and DirectDraw 7
// headers, everywhere else the stand-in under platform/, which declares
// exactly the subset the game calls.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <ddraw.h>
#include <windows.h>
#else
#include "platform/standin_ddraw.h"
#include "platform/standin_windows.h"
#endif
