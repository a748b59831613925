// A minimal PNG writer for the game's 8-bit pictures: one palette, one
// index per pixel, the rows compressed with zlib.
#pragma once

#include <string>

#include "platform/winapi.h"

namespace replay {

// Writes a width x height picture of palette indices (rows `pitch` bytes
// apart) with the 256 colours of `palette`. Returns false if the file could
// not be written.
bool WritePalettePng(const std::string& path, const BYTE* pixels, int width, int height, int pitch,
                     const PALETTEENTRY* palette);

}  // namespace replay
