// The device context's default font: DejaVu Sans Bold at 12 pixels through
// SDL2_ttf, solid (no antialiasing, so every pixel is one palette index).
// Rendered texts are kept in a small cache, so the labels that a screen draws
// every frame cost no rendering and no allocation once seen.
#include <SDL_ttf.h>

#include <cstring>

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

// One rendered text: a mask of the glyph pixels, one byte per pixel.
struct CachedText {
    std::string text;
    int width = 0, height = 0;
    std::vector<BYTE> mask;
    unsigned lastUse = 0;
};

// A screen draws up to a dozen different labels; 64 covers every screen's
// texts with room for the changing numbers of the head-up display.
constexpr int kCacheSize = 64;
CachedText cache[kCacheSize];
unsigned useClock = 0;
std::string scratch;  // the text with its terminating zero, for SDL_ttf

TTF_Font* OpenFont() {
    if (font.tried) return font.font;
    font.tried = true;
    if (TTF_WasInit() == 0 && TTF_Init() != 0) return nullptr;
    // Where the sprite sheet is looked for (the build copies the font next
    // to the program, an install puts it with the sheet), then the font
    // package's own place.
    std::vector<std::string> paths = DataFileCandidates(kFontFile);
    paths.push_back(kPackageFont);
    for (const std::string& path : paths) {
        font.font = TTF_OpenFont(path.c_str(), kFontPixels);
        if (font.font != nullptr) break;
    }
    return font.font;
}

// Finds or renders `text`; null when it cannot be rendered.
const CachedText* Rendered(const char* text, int length) {
    CachedText* slot = &cache[0];
    for (CachedText& entry : cache) {
        if (entry.lastUse != 0 && entry.text.size() == static_cast<size_t>(length) &&
            std::memcmp(entry.text.data(), text, length) == 0) {
            entry.lastUse = ++useClock;
            return &entry;
        }
        if (entry.lastUse < slot->lastUse) slot = &entry;
    }
    TTF_Font* face = OpenFont();
    if (face == nullptr) return nullptr;
    scratch.assign(text, static_cast<size_t>(length));
    // TTF_RenderText takes the bytes as Latin-1, the game's 8-bit text.
    SDL_Color ink{255, 255, 255, 255};
    SDL_Surface* rendered = TTF_RenderText_Solid(face, scratch.c_str(), ink);
    if (rendered == nullptr) return nullptr;
    slot->text.assign(text, static_cast<size_t>(length));
    slot->width = rendered->w;
    slot->height = rendered->h;
    slot->mask.assign(static_cast<size_t>(rendered->w) * rendered->h, 0);
    SDL_LockSurface(rendered);
    // A solid rendering is 8-bit: index 0 is the background, others are ink.
    for (int y = 0; y < rendered->h; ++y) {
        const BYTE* row = static_cast<const BYTE*>(rendered->pixels) + y * rendered->pitch;
        for (int x = 0; x < rendered->w; ++x) {
            slot->mask[static_cast<size_t>(y) * rendered->w + x] = row[x] != 0 ? 1 : 0;
        }
    }
    SDL_UnlockSurface(rendered);
    SDL_FreeSurface(rendered);
    slot->lastUse = ++useClock;
    return slot;
}

}  // namespace

bool FontReady() {
    return OpenFont() != nullptr;
}

void DrawText(BYTE* pixels, int width, int height, int pitch, int x, int y, const char* text,
              int length, BYTE index) {
    if (length <= 0) return;
    const CachedText* rendered = Rendered(text, length);
    if (rendered == nullptr) return;
    for (int row = 0; row < rendered->height; ++row) {
        int ty = y + row;
        if (ty < 0 || ty >= height) continue;
        const BYTE* mask = rendered->mask.data() + static_cast<size_t>(row) * rendered->width;
        BYTE* out = pixels + static_cast<size_t>(ty) * pitch;
        for (int column = 0; column < rendered->width; ++column) {
            int tx = x + column;
            if (mask[column] != 0 && tx >= 0 && tx < width) out[tx] = index;
        }
    }
}

void ForgetTextCache() {
    for (CachedText& entry : cache) entry = CachedText{};
    useClock = 0;
    textsSinceFlip = TextLog{};
    textsOfLastPresent = TextLog{};
}

}  // namespace standin
