// Graphics: the display device, the drawing primitives and the sprite sheet.
//
// Everything the game draws goes through the one process-wide `display`
// record: an exclusive 640 x 480 x 8 mode with a primary surface and one back
// buffer, a 256-entry palette and a clipper holding drawing to the screen.
#pragma once

#include "platform/winapi.h"

// The display objects and mode, for the whole run. All drawing goes to
// `back`; PresentFrame flips `primary`.
struct Display {
    IDirectDraw7* device;
    IDirectDrawSurface7* primary;
    IDirectDrawSurface7* back;
    IDirectDrawPalette* palette;
    IDirectDrawClipper* clipper;
    int screenWidth;
    int screenHeight;
    int screenBpp;
};

extern Display display;

// The program's own copy of the 256 palette colours, kept in step with the
// display palette. Text colours are looked up here, not on the display.
extern PALETTEENTRY PaletteTable[256];

// --- display device -----------------------------------------------------
int DisplayOpen();
int DisplayClose();
IDirectDrawClipper* AttachClipList(RECT rect);
int ClearSurface(IDirectDrawSurface7* surface);

// --- drawing primitives (all on `back`) ---------------------------------
int FillRect(int left, int top, int right, int bottom, int colour);  // inclusive corners
int DrawLabel(const char* text, int colour, int x, int y);
int BlitFrame(IDirectDrawSurface7* surface, int left, int top);  // 0 without a frame
// Flips until the flip returns exactly 0; gives up after a bounded number of
// attempts so that a display taken from us cannot hang the game.
int PresentFrame();
// How the last PresentFrame went: 1 shown; 0 dropped while the display is
// there (every flip failed, or the surfaces came back too late for it); -1
// dropped while the display is away (the system does not give it back yet).
int LastPresentShown();

// After the system took the display away (Alt+Tab, a locked screen) every
// surface is lost: get them back and put back what the program cannot simply
// redraw, the palette entries and the frame surfaces' pixels. 1 when the
// surfaces are back, 0 while the system still refuses them.
int RestoreDisplay();

// --- the sprite sheet ---------------------------------------------------
#pragma pack(push, 1)
struct BitmapFileHeader {  // 14 bytes as stored
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
struct BitmapInfoHeader {  // 40 bytes as stored
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)

// One BMP file in memory: headers, colour table as PALETTEENTRY values, and
// the pixel rows top row first. The pixel buffer belongs to the record.
struct BitmapFile {
    BitmapFileHeader fileHeader;
    BitmapInfoHeader infoHeader;
    PALETTEENTRY paletteEntries[256];
    BYTE* pixels;
};

// Takes over and closes `file`. Refuses (0) a file that ends early, or whose
// stated pixel bytes do not cover its rows, or whose sizes are absurd; such a
// refusal leaves the record (headers, colour table, pixels) as it was.
int ReadBitmapFile(BitmapFile* bitmap, HFILE file);
int FlipRows(int rowBytes, BYTE* image, int rowCount);
IDirectDrawSurface7* MakeFrameSurface();
// Always 1. Writes only under a successful Lock; a cell that does not lie
// inside the sheet leaves the frame all index 0 (transparent).
int CopyFrameCell(BitmapFile* bitmap, IDirectDrawSurface7* surface, int cellX);
// CopyFrameCell keeps a copy of what it wrote, since the sheet's pixels are
// freed after start-up; these put the copies back, or forget them when a new
// display (with new surfaces) is opened.
void RestoreFrameCells();
void ForgetFrameCells();
