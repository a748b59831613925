// Text from the compiled-in glyph atlas: no font library, no allocation.
#include "platform/core/glyphs.h"

#include <cstddef>
#include <cstdint>

namespace standin {

namespace {

// One character's ink; see the comment at the top of glyph_atlas.inc.
struct AtlasGlyph {
    std::int8_t advance, overhang;
    std::int8_t left, top, width, height;
    std::uint16_t rows[16];
};

#include "platform/core/glyph_atlas.inc"

static_assert(kAtlasMaxRows <= 16, "glyph rows do not fit AtlasGlyph");

const AtlasGlyph* GlyphOf(char character) {
    int code = static_cast<unsigned char>(character);
    if (code < kAtlasFirst || code > kAtlasLast) return nullptr;
    return &kAtlas[code - kAtlasFirst];
}

}  // namespace

bool FontReady() {
    return true;
}

void DrawText(BYTE* pixels, int width, int height, int pitch, int x, int y, const char* text,
              int length, BYTE index) {
    if (length <= 0) return;
    // The whole text starts far enough right for its first character's
    // overhang.
    const AtlasGlyph* first = GlyphOf(text[0]);
    int pen = x + (first != nullptr ? first->overhang : 0);
    for (int i = 0; i < length; ++i) {
        const AtlasGlyph* glyph = GlyphOf(text[i]);
        if (glyph == nullptr) continue;
        int left = pen + glyph->left;
        for (int row = 0; row < glyph->height; ++row) {
            int ty = y + glyph->top + row;
            if (ty < 0 || ty >= height) continue;
            BYTE* out = pixels + static_cast<std::ptrdiff_t>(ty) * pitch;
            for (int column = 0; column < glyph->width; ++column) {
                int tx = left + column;
                if ((glyph->rows[row] & (0x8000u >> column)) != 0 && tx >= 0 && tx < width) {
                    out[tx] = index;
                }
            }
        }
        pen += glyph->advance;
    }
}

}  // namespace standin
