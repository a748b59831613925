// The device context's default font: DejaVu Sans Bold at 12 pixels through
// SDL2_ttf, solid (no antialiasing, so every pixel is one palette index).
// Rendered characters are cached, so the labels that a screen draws every
// frame cost no rendering and no allocation once their characters were seen.
#include <SDL_ttf.h>

#include "platform/standin_internal.h"

namespace standin {

TextLog textsSinceFlip;
TextLog textsOfLastPresent;

void TextLog::Add(int x, int y, const char* text, int length, COLORREF colour, BYTE index) {
    if (count == records.size()) records.emplace_back();
    TextRecord& record = records[count++];
    record.x = x;
    record.y = y;
    record.text.assign(text, static_cast<size_t>(length));
    record.colour = colour;
    record.index = index;
}

namespace {

constexpr const char* kFontFile = "DejaVuSans-Bold.ttf";
constexpr const char* kPackageFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr int kFontPixels = 12;

struct Font {
    bool tried = false;
    TTF_Font* font = nullptr;
} font;

// One rendered character: a mask of its ink, one byte per pixel, as SDL_ttf
// renders the character alone. A glyph reaching left of its pen position
// (negative minx) is drawn shifted right by `overhang` in that rendering.
struct Glyph {
    bool rendered = false;
    int width = 0, height = 0;
    int overhang = 0;
    int advance = 0;
    std::vector<BYTE> mask;
};

// Texts are put together from cached characters: the head-up display's
// numbers change every second, and a cache of whole texts would render
// (and allocate) anew each time. Without kerning, characters placed at
// their advances give exactly SDL_ttf's rendering of the whole text.
Glyph glyphs[256];

const Glyph& GlyphOf(TTF_Font* face, BYTE code);

TTF_Font* OpenFont() {
    if (font.tried) return font.font;
    font.tried = true;
    if (TTF_WasInit() == 0 && TTF_Init() != 0) return nullptr;
    // Next to the program first (the build copies it there), then the
    // package's own place.
    if (char* base = SDL_GetBasePath()) {
        std::string path = std::string(base) + kFontFile;
        SDL_free(base);
        font.font = TTF_OpenFont(path.c_str(), kFontPixels);
    }
    if (font.font == nullptr) font.font = TTF_OpenFont(kPackageFont, kFontPixels);
    if (font.font == nullptr) return nullptr;
    // GDI's TextOut does not kern either.
    TTF_SetFontKerning(font.font, 0);
    // The printable ASCII characters are rendered up front, so that a first
    // score digit in the middle of play costs no rendering.
    for (int code = ' '; code <= '~'; ++code) GlyphOf(font.font, static_cast<BYTE>(code));
    return font.font;
}

const Glyph& GlyphOf(TTF_Font* face, BYTE code) {
    Glyph& glyph = glyphs[code];
    if (glyph.rendered) return glyph;
    glyph.rendered = true;
    // Latin-1 codes are the first 256 Unicode code points.
    int minx = 0, maxx = 0, miny = 0, maxy = 0;
    if (TTF_GlyphMetrics(face, code, &minx, &maxx, &miny, &maxy, &glyph.advance) != 0) return glyph;
    glyph.overhang = minx < 0 ? -minx : 0;
    char text[2] = {static_cast<char>(code), 0};
    SDL_Color ink{255, 255, 255, 255};
    SDL_Surface* rendered = TTF_RenderText_Solid(face, text, ink);
    if (rendered == nullptr) return glyph;
    glyph.width = rendered->w;
    glyph.height = rendered->h;
    glyph.mask.assign(static_cast<size_t>(rendered->w) * rendered->h, 0);
    SDL_LockSurface(rendered);
    // A solid rendering is 8-bit: index 0 is the background, others are ink.
    for (int y = 0; y < rendered->h; ++y) {
        const BYTE* row = static_cast<const BYTE*>(rendered->pixels) + y * rendered->pitch;
        for (int x = 0; x < rendered->w; ++x) {
            glyph.mask[static_cast<size_t>(y) * rendered->w + x] = row[x] != 0 ? 1 : 0;
        }
    }
    SDL_UnlockSurface(rendered);
    SDL_FreeSurface(rendered);
    return glyph;
}

}  // namespace

bool FontReady() {
    return OpenFont() != nullptr;
}

void DrawText(BYTE* pixels, int width, int height, int pitch, int x, int y, const char* text,
              int length, BYTE index) {
    TTF_Font* face = OpenFont();
    if (length <= 0 || face == nullptr) return;
    // The whole text starts far enough right for its first character's
    // overhang, as SDL_ttf lays out a text.
    int pen = x + GlyphOf(face, static_cast<BYTE>(text[0])).overhang;
    for (int i = 0; i < length; ++i) {
        const Glyph& glyph = GlyphOf(face, static_cast<BYTE>(text[i]));
        int left = pen - glyph.overhang;
        for (int row = 0; row < glyph.height; ++row) {
            int ty = y + row;
            if (ty < 0 || ty >= height) continue;
            const BYTE* mask = glyph.mask.data() + static_cast<size_t>(row) * glyph.width;
            BYTE* out = pixels + static_cast<size_t>(ty) * pitch;
            for (int column = 0; column < glyph.width; ++column) {
                int tx = left + column;
                if (mask[column] != 0 && tx >= 0 && tx < width) out[tx] = index;
            }
        }
        pen += glyph.advance;
    }
}

void ForgetTexts() {
    textsSinceFlip = TextLog{};
    textsOfLastPresent = TextLog{};
}

}  // namespace standin
