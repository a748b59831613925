// The program's entry and its one window: the window class, the full-screen
// window and the message loop that drives the game.
#pragma once

#include "platform/winapi.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine,
                   int showCommand);
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
