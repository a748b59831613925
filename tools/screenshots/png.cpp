// PNG writer: signature, IHDR (8-bit, colour type 3), PLTE, one IDAT, IEND.
#include "tools/screenshots/png.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

namespace replay {
namespace {

void Put32(std::vector<unsigned char>& out, unsigned long value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xFF));
    }
}

// Length, type, data and the CRC over type and data.
void PutChunk(std::vector<unsigned char>& out, const char* type,
              const std::vector<unsigned char>& data) {
    Put32(out, data.size());
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, crc32(0L, body.data(), static_cast<uInt>(body.size())));
}

}  // namespace

bool WritePalettePng(const std::string& path, const BYTE* pixels, int width, int height, int pitch,
                     const PALETTEENTRY* palette) {
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    std::vector<unsigned char> header;
    Put32(header, static_cast<unsigned long>(width));
    Put32(header, static_cast<unsigned long>(height));
    header.insert(header.end(),
                  {8, 3, 0, 0, 0});  // depth 8, palette, deflate, no filter, no interlace
    PutChunk(png, "IHDR", header);

    std::vector<unsigned char> colours;
    for (int i = 0; i < 256; ++i) {
        colours.insert(colours.end(), {palette[i].peRed, palette[i].peGreen, palette[i].peBlue});
    }
    PutChunk(png, "PLTE", colours);

    // Every row starts with filter type 0 (none).
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>((width + 1) * height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), pixels + y * pitch, pixels + y * pitch + width);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) !=
        Z_OK) {
        return false;
    }
    packed.resize(packedSize);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", {});

    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace replay
