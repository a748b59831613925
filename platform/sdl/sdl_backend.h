// What the SDL2 backend's files share: SDL's video start-up and the window.
#pragma once

#include <SDL.h>

namespace sdl {

// SDL's video and events started; false when there is no display to show on.
bool EnsureVideo();
SDL_Window* Window();
// The window's picture must be drawn again whole (it was uncovered, resized
// or moved to another screen).
void InvalidatePicture();

}  // namespace sdl
