// The sprite sheet: reading a BMP file into a BitmapFile, turning its rows top
// row first, and cutting 72 x 80 cells of it into keyed frame surfaces.
//
// The file is the game's only input, so the reader checks what the headers
// claim against what the file delivers: a file that ends early, states fewer
// pixel bytes than its rows need, or has absurd sizes is refused before any
// buffer is sized from it.
#include <cstdlib>
#include <cstring>

#include "graphics/display.h"

// Far beyond any sheet the game needs, small enough that a hostile header
// cannot ask for a huge allocation.
static const LONG kMaxSide = 16384;
static const DWORD kMaxPixelBytes = 16u * 1024u * 1024u;

// The pixels each frame surface was given, for RestoreFrameCells. The game
// cuts two frames; a frame larger than a cell is not kept.
struct KeptFrame {
    IDirectDrawSurface7* surface;
    int width, height;
    BYTE pixels[72 * 80];
};
static KeptFrame keptFrames[4];

static void KeepFrameCell(IDirectDrawSurface7* surface, const BYTE* rows, long long pitch,
                          long long w, long long h) {
    if (w * h > static_cast<long long>(sizeof(keptFrames[0].pixels))) return;
    KeptFrame* slot = nullptr;
    for (KeptFrame& kept : keptFrames) {
        if (kept.surface == surface || (slot == nullptr && kept.surface == nullptr)) slot = &kept;
        if (kept.surface == surface) break;
    }
    if (slot == nullptr) return;
    slot->surface = surface;
    slot->width = static_cast<int>(w);
    slot->height = static_cast<int>(h);
    for (long long r = 0; r < h; ++r) memcpy(slot->pixels + r * w, rows + r * pitch, w);
}

void ForgetFrameCells() {
    memset(keptFrames, 0, sizeof(keptFrames));
}

void RestoreFrameCells() {
    for (const KeptFrame& kept : keptFrames) {
        if (kept.surface == nullptr) continue;
        DDSURFACEDESC2 desc;
        memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        if (kept.surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != 0) continue;
        BYTE* destination = static_cast<BYTE*>(desc.lpSurface);
        if (destination != nullptr && static_cast<int>(desc.dwWidth) == kept.width &&
            static_cast<int>(desc.dwHeight) == kept.height && desc.lPitch >= kept.width) {
            for (int r = 0; r < kept.height; ++r) {
                memcpy(destination + static_cast<long long>(r) * desc.lPitch,
                       kept.pixels + r * kept.width, kept.width);
            }
        }
        kept.surface->Unlock(nullptr);
    }
}

static bool ReadExactly(HFILE file, void* buffer, UINT count) {
    return _lread(file, buffer, count) == count;
}

static int Refuse(HFILE file) {
    _lclose(file);
    return 0;
}

// True when the headers describe rows that the stated pixel bytes cover and
// that stay within our size limits.
static bool SizesAgree(const BitmapInfoHeader& info) {
    if (info.biWidth <= 0 || info.biWidth > kMaxSide) return false;
    if (info.biHeight == 0 || info.biHeight > kMaxSide || info.biHeight < -kMaxSide) return false;
    const long long rows = info.biHeight < 0 ? -static_cast<long long>(info.biHeight)
                                             : static_cast<long long>(info.biHeight);
    const long long needed = static_cast<long long>(info.biWidth) * (info.biBitCount / 8) * rows;
    return info.biSizeImage >= needed && info.biSizeImage <= kMaxPixelBytes;
}

// Reads the whole file into a record of its own and hands it over only when
// every check passed: a refused file leaves the caller's record, headers,
// colour table and pixels alike, as it was, so its sizes always describe the
// buffer it holds.
int ReadBitmapFile(BitmapFile* bitmap, HFILE file) {
    if (bitmap == nullptr) return Refuse(file);
    BitmapFile read = *bitmap;  // a file without a colour table keeps the one there
    read.pixels = nullptr;
    if (!ReadExactly(file, &read.fileHeader, sizeof(BitmapFileHeader))) return Refuse(file);
    if (read.fileHeader.bfType != 0x4D42) return Refuse(file);  // "BM"
    if (!ReadExactly(file, &read.infoHeader, sizeof(BitmapInfoHeader))) return Refuse(file);

    const BitmapInfoHeader& info = read.infoHeader;
    if (info.biBitCount == 8) {
        // Stored as blue, green, red, reserved; kept as red, green, blue, flags.
        BYTE table[256 * 4];
        if (!ReadExactly(file, table, sizeof(table))) return Refuse(file);
        for (int i = 0; i < 256; ++i) {
            PALETTEENTRY& entry = read.paletteEntries[i];
            entry.peRed = table[4 * i + 2];
            entry.peGreen = table[4 * i + 1];
            entry.peBlue = table[4 * i];
            entry.peFlags = PC_NOCOLLAPSE;
        }
    }
    if (info.biBitCount != 8 && info.biBitCount != 16 && info.biBitCount != 24) {
        return Refuse(file);
    }
    if (!SizesAgree(info)) return Refuse(file);

    read.pixels = static_cast<BYTE*>(malloc(info.biSizeImage));
    if (read.pixels == nullptr) return Refuse(file);
    if (!ReadExactly(file, read.pixels, info.biSizeImage)) {
        free(read.pixels);
        return Refuse(file);
    }
    _lclose(file);

    // Rows are stored bottom row first; a negative height means top row first,
    // which FlipRows leaves alone. If the flip fails the rows stay as stored.
    FlipRows(info.biWidth * (info.biBitCount / 8), read.pixels, info.biHeight);
    free(bitmap->pixels);
    *bitmap = read;
    return 1;
}

// Reverses the order of the rows in place, through a temporary copy.
int FlipRows(int rowBytes, BYTE* image, int rowCount) {
    if (rowCount < 0 || rowBytes < 0) return 0;
    if (rowCount == 0 || rowBytes == 0) return 1;
    if (image == nullptr) return 0;
    const size_t row = static_cast<size_t>(rowBytes);
    const size_t total = row * static_cast<size_t>(rowCount);
    BYTE* copy = static_cast<BYTE*>(malloc(total));
    if (copy == nullptr) return 0;
    memcpy(copy, image, total);
    for (int i = 0; i < rowCount; ++i) {
        memcpy(image + static_cast<size_t>(rowCount - 1 - i) * row, copy + i * row, row);
    }
    free(copy);
    return 1;
}

// A 72 x 80 off-screen surface in the display's 8-bit format with index 0 as
// its source colour key.
IDirectDrawSurface7* MakeFrameSurface() {
    if (display.device == nullptr) return nullptr;
    DDSURFACEDESC2 desc;
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.dwHeight = 80;
    desc.dwWidth = 72;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    IDirectDrawSurface7* surface = nullptr;
    if (display.device->CreateSurface(&desc, &surface, nullptr) < 0 || surface == nullptr) {
        return nullptr;
    }
    DDCOLORKEY key;
    key.dwColorSpaceLowValue = 0;
    key.dwColorSpaceHighValue = 0;
    surface->SetColorKey(DDCKEY_SRCBLT, &key);
    return surface;
}

// True when cell `cellX` of the surface's size lies wholly inside the sheet:
// columns cellX * (w + 1) + 1 onward and rows 1 to h, one byte per pixel with
// rows biWidth bytes apart, all within the pixel buffer.
static bool CellInsideSheet(const BitmapFile& bitmap, int cellX, long long w, long long h) {
    const BitmapInfoHeader& info = bitmap.infoHeader;
    if (bitmap.pixels == nullptr || cellX < 0 || w <= 0 || h <= 0) return false;
    if (info.biWidth <= 0 || info.biHeight == 0) return false;
    const long long width = info.biWidth;
    const long long rows = info.biHeight < 0 ? -static_cast<long long>(info.biHeight)
                                             : static_cast<long long>(info.biHeight);
    const long long firstColumn = static_cast<long long>(cellX) * (w + 1) + 1;
    if (firstColumn + w > width || 1 + h > rows) return false;
    return width * (1 + h) <= static_cast<long long>(info.biSizeImage);
}

// Copies the cell under a lock of the surface; nothing is written unless the
// lock succeeded. A cell that does not fit in the sheet leaves the frame all
// index 0 (transparent) rather than showing whatever the surface held.
int CopyFrameCell(BitmapFile* bitmap, IDirectDrawSurface7* surface, int cellX) {
    if (bitmap == nullptr || surface == nullptr) return 1;
    DDSURFACEDESC2 desc;
    memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != 0) return 1;

    const long long w = desc.dwWidth;
    const long long h = desc.dwHeight;
    const long long pitch = desc.lPitch;
    BYTE* destination = static_cast<BYTE*>(desc.lpSurface);
    if (destination != nullptr && w > 0 && h > 0 && pitch >= w) {
        if (CellInsideSheet(*bitmap, cellX, w, h)) {
            const BYTE* source = bitmap->pixels + bitmap->infoHeader.biWidth +
                                 static_cast<long long>(cellX) * (w + 1) + 1;
            for (long long r = 0; r < h; ++r) {
                memcpy(destination + r * pitch, source + r * bitmap->infoHeader.biWidth,
                       static_cast<size_t>(w));
            }
        } else {
            for (long long r = 0; r < h; ++r) {
                memset(destination + r * pitch, 0, static_cast<size_t>(w));
            }
        }
        KeepFrameCell(surface, destination, pitch, w, h);
    }
    surface->Unlock(nullptr);
    return 1;
}
