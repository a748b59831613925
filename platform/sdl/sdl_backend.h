// What the SDL2 backend's files share: SDL's video start-up and the window.
#pragma once

#include <SDL.h>

namespace sdl {

// SDL's video and events started; false when there is no display to show on.
bool EnsureVideo();
SDL_Window* Window();
// The window's picture was lost (uncovered, resized, moved to another
// screen): the last picture is drawn again at once, since the game may be
// waiting for a key and present nothing new for a long while.
void RedrawPicture();
// Between full screen and a window, keeping the picture (Alt+Enter, F11).
void ToggleFullScreen();
// Controllers are updated by the backend's event polling (input.cpp), not
// by SDL's own gathering of events; set before SDL's controllers start.
void TakeOverControllerUpdates();

}  // namespace sdl
