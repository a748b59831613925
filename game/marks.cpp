// Jewel marks: a small shape inside each jewel, one per kind, so that a
// player who cannot tell the colours apart can still tell the jewels apart.
// Off unless asked for (--marks on the command line); the M key switches
// them on the briefing and in play. With marks off nothing is drawn here.
#include <cstring>

#include "game/game_data.h"

namespace {

// A mark is 7 x 7 pixels inside the 11 x 11 square, two pixels in from each
// side so that a ring of the jewel's own colour stays around it. Each row is
// a mask, bit 6 the leftmost column. The shapes differ in outline, not only
// in size, so that they stay apart at one picture pixel per screen pixel.
constexpr int kMarkSize = 7;
constexpr int kMarkInset = 2;

struct Mark {
    int kind;
    int colour;  // palette index: 0 (black) on light jewels, 70 (white) on dark
    unsigned char rows[kMarkSize];
};

const Mark kMarks[kJewelKinds] = {
    {Red, 0, {0x41, 0x22, 0x14, 0x08, 0x14, 0x22, 0x41}},      // X
    {Green, 0, {0x08, 0x08, 0x08, 0x7F, 0x08, 0x08, 0x08}},    // plus
    {Blue, 70, {0x7F, 0x41, 0x41, 0x41, 0x41, 0x41, 0x7F}},    // hollow square
    {Orange, 0, {0x08, 0x08, 0x1C, 0x1C, 0x3E, 0x3E, 0x7F}},   // triangle
    {Yellow, 0, {0x7F, 0x00, 0x00, 0x7F, 0x00, 0x00, 0x7F}},   // three bars
    {Purple, 70, {0x08, 0x14, 0x22, 0x41, 0x22, 0x14, 0x08}},  // diamond
    {White, 0, {0x00, 0x00, 0x1C, 0x1C, 0x1C, 0x00, 0x00}},    // dot
};

const Mark* MarkOf(int kind) {
    for (const Mark& mark : kMarks) {
        if (mark.kind == kind) return &mark;
    }
    return nullptr;
}

}  // namespace

// Each run of a row is one fill, clipped like the jewel's own square; the
// mark's lowest row is the square's ninth, so a jewel at y 470 (whose tenth
// and eleventh rows fall below the screen) keeps its whole mark.
void DrawJewelMark(int x, int y, int kind) {
    const Mark* mark = MarkOf(kind);
    if (mark == nullptr) return;
    for (int row = 0; row < kMarkSize; ++row) {
        const unsigned bits = mark->rows[row];
        int column = 0;
        while (column < kMarkSize) {
            if ((bits >> (kMarkSize - 1 - column) & 1u) == 0) {
                ++column;
                continue;
            }
            const int start = column;
            while (column < kMarkSize && (bits >> (kMarkSize - 1 - column) & 1u) != 0) ++column;
            const int left = x + kMarkInset + start, top = y + kMarkInset + row;
            FillRect(left, top, x + kMarkInset + column - 1, top, mark->colour);
        }
    }
}

void DrawJewel(int x, int y, int kind) {
    FillRect(x, y, x + 10, y + 10, kind);
    if (gameData.marksShown != 0) DrawJewelMark(x, y, kind);
}

// Switches on the key's going down only: holding it does not flicker.
void PollMarksKey() {
    const bool held = IsKeyHeld(kMarksKey);
    if (held && gameData.marksKeyHeld == 0) gameData.marksShown = gameData.marksShown ? 0 : 1;
    gameData.marksKeyHeld = held ? 1 : 0;
}

// Words are separated by blanks; the only option the game itself takes is
// --marks (the platform's own options never reach it).
int TakeCommandLine(const char* commandLine, char* unknown, int unknownSize) {
    if (unknownSize > 0) unknown[0] = '\0';
    if (commandLine == nullptr) return 1;
    const char* at = commandLine;
    for (;;) {
        while (*at == ' ' || *at == '\t') ++at;
        if (*at == '\0') return 1;
        const char* end = at;
        while (*end != '\0' && *end != ' ' && *end != '\t') ++end;
        const size_t length = static_cast<size_t>(end - at);
        if (length == 7 && std::strncmp(at, "--marks", 7) == 0) {
            gameData.marksShown = 1;
        } else {
            if (unknownSize > 0) {
                const size_t kept =
                    length < static_cast<size_t>(unknownSize - 1) ? length : unknownSize - 1;
                std::memcpy(unknown, at, kept);
                unknown[kept] = '\0';
            }
            return 0;
        }
        at = end;
    }
}
