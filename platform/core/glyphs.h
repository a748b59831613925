// The device context's default font, drawn from data compiled into the
// program: DejaVu Sans Bold at 12 pixels, one palette index per pixel. The
// data is platform/core/glyph_atlas.inc, made by tools/glyph_atlas.
#pragma once

#include "platform/standin_windows.h"

namespace standin {

// Always true: the font is part of the program.
bool FontReady();

// Draws `length` bytes of text with its top-left at (x, y) in palette index
// `index` onto an 8-bit picture of `width` x `height` with `pitch` bytes a
// row, touching only ink pixels inside the picture. Characters are placed at
// their advances without kerning, the whole text shifted right by its first
// character's overhang. Codes outside printable ASCII draw nothing and take
// no room. Allocates nothing.
void DrawText(BYTE* pixels, int width, int height, int pitch, int x, int y, const char* text,
              int length, BYTE index);

}  // namespace standin
