// Pictures made from the sprite sheet's basket frames, for packaging and for
// the screenshot checks.
//
//   vn_sheet_picture icon playersprite.bmp SIZE out.png
//     The desktop icon: frame 0 in the sheet's colours, centred on a
//     transparent square of SIZE, scaled up by whole steps (nearest
//     neighbour, so the pixel art stays crisp) as far as it fits.
//   vn_sheet_picture frame playersprite.bmp CELL out.ppm
//     Frame CELL (0 or 1) exactly as the game shows it over its black
//     background: the 71 x 79 pixels that reach the screen, in the game's
//     palette (the sheet's colours with the seven jewel colours), the
//     transparent index showing palette entry 0.
//
// The PNG is RGBA with stored (uncompressed) deflate blocks: an icon is a
// few tens of kilobytes, so a compressor is not worth a dependency.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The part of a frame that reaches the screen: the cell's first 71 columns
// and 79 rows, starting one pixel inside the grid lines.
constexpr int kFrameWidth = 71, kFrameHeight = 79;
constexpr int kBmpHeaderBytes = 54, kColourTableBytes = 1024;

std::uint32_t ReadLe32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

bool Fail(const std::string& why) {
    std::fprintf(stderr, "vn_sheet_picture: %s\n", why.c_str());
    return false;
}

std::uint32_t Crc32(const unsigned char* data, size_t size, std::uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PutBe32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char* type,
              const std::vector<unsigned char>& data) {
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, Crc32(&out[start], out.size() - start));
}

// A zlib stream of stored blocks (at most 65535 bytes each) around `raw`.
std::vector<unsigned char> StoredZlib(const std::vector<unsigned char>& raw) {
    std::vector<unsigned char> z = {0x78, 0x01};
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(raw.size() - at, 65535);
        bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(n & 0xFF);
        z.push_back(n >> 8);
        z.push_back(~n & 0xFF);
        z.push_back((~n >> 8) & 0xFF);
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(z, b << 16 | a);
    return z;
}

bool WritePng(const std::string& path, int size, const std::vector<unsigned char>& rgba) {
    std::vector<unsigned char> raw;  // each row starts with filter type 0
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba.begin() + y * size * 4, rgba.begin() + (y + 1) * size * 4);
    }
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    PutBe32(header, size);
    PutBe32(header, size);
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", StoredZlib(raw));
    PutChunk(png, "IEND", {});
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return out.good() || Fail("cannot write " + path);
}

struct Sheet {
    std::vector<unsigned char> bmp;
    std::int32_t width = 0, height = 0;
    std::uint32_t offBits = 0;
    unsigned char rgb[256][3] = {};  // the game's palette

    // Palette index at frame `cell`'s row y, column x (within 71 x 79).
    unsigned Index(int cell, int x, int y) const {
        // Sheet row y + 1 from the top; the file stores the bottom row first.
        size_t rowStart = offBits + static_cast<size_t>(height - 2 - y) * width;
        return bmp[rowStart + cell * (kFrameWidth + 2) + x + 1];
    }
};

bool LoadSheet(const std::string& path, Sheet& sheet) {
    std::ifstream in(path, std::ios::binary);
    sheet.bmp.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto& bmp = sheet.bmp;
    if (bmp.size() < kBmpHeaderBytes + kColourTableBytes || bmp[0] != 'B' || bmp[1] != 'M')
        return Fail(path + " is not a BMP file");
    sheet.width = static_cast<std::int32_t>(ReadLe32(bmp, 18));
    sheet.height = static_cast<std::int32_t>(ReadLe32(bmp, 22));
    sheet.offBits = ReadLe32(bmp, 10);
    unsigned bits = bmp[28] | bmp[29] << 8;
    // Two cells of 72 x 80 inside one-pixel grid lines.
    if (bits != 8 || sheet.width < 2 * (kFrameWidth + 2) || sheet.height < kFrameHeight + 2 ||
        sheet.width % 4 != 0 ||
        sheet.offBits + static_cast<std::uint64_t>(sheet.width) * sheet.height > bmp.size())
        return Fail(path + " is not an 8-bit sprite sheet");
    for (int i = 0; i < 256; ++i) {
        const unsigned char* bgrx = &bmp[kBmpHeaderBytes + i * 4];
        sheet.rgb[i][0] = bgrx[2];
        sheet.rgb[i][1] = bgrx[1];
        sheet.rgb[i][2] = bgrx[0];
    }
    // The game replaces these entries with its jewel colours at start-up.
    const unsigned char jewels[7][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},    {255, 165, 0},
                                        {255, 255, 0}, {205, 0, 205}, {255, 255, 255}};
    for (int k = 0; k < 7; ++k)
        for (int c = 0; c < 3; ++c) sheet.rgb[(k + 1) * 10][c] = jewels[k][c];
    return true;
}

bool MakeIcon(const Sheet& sheet, int size, const std::string& outPath) {
    int scale = size / std::max(kFrameWidth, kFrameHeight);
    if (scale < 1) return Fail("icon size too small for the frame");
    int left = (size - kFrameWidth * scale) / 2, top = (size - kFrameHeight * scale) / 2;

    std::vector<unsigned char> rgba(static_cast<size_t>(size) * size * 4, 0);
    for (int y = 0; y < kFrameHeight * scale; ++y) {
        for (int x = 0; x < kFrameWidth * scale; ++x) {
            unsigned index = sheet.Index(0, x / scale, y / scale);
            if (index == 0) continue;  // the transparent colour
            unsigned char* px = &rgba[(static_cast<size_t>(top + y) * size + left + x) * 4];
            std::copy(sheet.rgb[index], sheet.rgb[index] + 3, px);
            px[3] = 255;
        }
    }
    return WritePng(outPath, size, rgba);
}

bool MakeFrame(const Sheet& sheet, int cell, const std::string& outPath) {
    if (cell != 0 && cell != 1) return Fail("the basket frames are cells 0 and 1");
    std::string ppm =
        "P6\n" + std::to_string(kFrameWidth) + " " + std::to_string(kFrameHeight) + "\n255\n";
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x) {
            const unsigned char* rgb = sheet.rgb[sheet.Index(cell, x, y)];
            ppm.append(reinterpret_cast<const char*>(rgb), 3);
        }
    std::ofstream out(outPath, std::ios::binary);
    out << ppm;
    return out.good() || Fail("cannot write " + outPath);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || (std::string(argv[1]) != "icon" && std::string(argv[1]) != "frame")) {
        std::fprintf(stderr,
                     "usage: vn_sheet_picture icon playersprite.bmp SIZE out.png\n"
                     "       vn_sheet_picture frame playersprite.bmp CELL out.ppm\n");
        return 2;
    }
    Sheet sheet;
    if (!LoadSheet(argv[2], sheet)) return 1;
    bool icon = std::string(argv[1]) == "icon";
    return (icon ? MakeIcon(sheet, std::atoi(argv[3]), argv[4])
                 : MakeFrame(sheet, std::atoi(argv[3]), argv[4]))
               ? 0
               : 1;
}
