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
// The PNG is RGBA, each row filtered against the one above (an enlarged
// frame repeats every row several times), compressed by a small deflate of
// its own: one block of fixed Huffman codes over greedy matches. The icons go
// into packages and web pages, where a 512 x 512 icon stored raw would weigh a
// megabyte; this way it is a few kilobytes, with no library needed.

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

// Deflate's bit stream: values go in from their least significant bit.
struct Bits {
    std::vector<unsigned char> out;
    std::uint32_t buffer = 0;
    int count = 0;
    void Put(std::uint32_t value, int bits) {
        buffer |= value << count;
        count += bits;
        for (; count >= 8; count -= 8, buffer >>= 8) out.push_back(buffer & 0xFF);
    }
    // A Huffman code goes in from its most significant bit.
    void PutCode(std::uint32_t code, int bits) {
        std::uint32_t reversed = 0;
        for (int i = 0; i < bits; ++i) reversed |= ((code >> i) & 1) << (bits - 1 - i);
        Put(reversed, bits);
    }
    void Flush() {
        if (count > 0) out.push_back(buffer & 0xFF);
        buffer = 0;
        count = 0;
    }
};

// The fixed literal/length code of deflate (RFC 1951, 3.2.6).
void PutSymbol(Bits& bits, int symbol) {
    if (symbol < 144)
        bits.PutCode(0x30 + symbol, 8);
    else if (symbol < 256)
        bits.PutCode(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        bits.PutCode(symbol - 256, 7);
    else
        bits.PutCode(0xC0 + symbol - 280, 8);
}

// A length of 3 to 258 and a distance of 1 to 32768, with their extra bits.
void PutMatch(Bits& bits, int length, int distance) {
    static const int kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int code = 28;
    while (kLengthBase[code] > length) --code;
    PutSymbol(bits, 257 + code);
    bits.Put(length - kLengthBase[code], kLengthExtra[code]);
    int d = 0, base = 1, extra = 0;  // distance codes: two per number of extra bits
    while (base + (1 << extra) <= distance) {
        base += 1 << extra;
        ++d;
        extra = d < 2 ? 0 : d / 2 - 1;
    }
    bits.PutCode(d, 5);
    bits.Put(distance - base, extra);
}

// A zlib stream of one fixed-code deflate block around `raw`.
std::vector<unsigned char> Zlib(const std::vector<unsigned char>& raw) {
    constexpr int kWindow = 32768, kMaxMatch = 258, kHashSize = 1 << 15;
    Bits bits;
    bits.out = {0x78, 0x01};
    bits.Put(1, 1);                         // the last block
    bits.Put(1, 2);                         // fixed codes
    std::vector<long> head(kHashSize, -1);  // the latest place of each three bytes' hash
    const size_t n = raw.size();
    for (size_t at = 0; at < n;) {
        int length = 0;
        size_t from = 0;
        if (at + 3 <= n) {
            const unsigned hash =
                (raw[at] * 2654435761u ^ raw[at + 1] * 40503u ^ raw[at + 2]) % kHashSize;
            const long candidate = head[hash];
            head[hash] = static_cast<long>(at);
            if (candidate >= 0 && at - candidate <= kWindow) {
                from = static_cast<size_t>(candidate);
                while (length < kMaxMatch && at + length < n &&
                       raw[from + length] == raw[at + length])
                    ++length;
            }
        }
        if (length >= 3) {
            PutMatch(bits, length, static_cast<int>(at - from));
            at += length;
        } else {
            PutSymbol(bits, raw[at]);
            ++at;
        }
    }
    PutSymbol(bits, 256);  // end of block
    bits.Flush();
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(bits.out, b << 16 | a);
    return bits.out;
}

bool WritePng(const std::string& path, int size, const std::vector<unsigned char>& rgba) {
    std::vector<unsigned char> raw;  // each row: filter type 2 (up), then the differences
    const size_t stride = static_cast<size_t>(size) * 4;
    for (size_t y = 0; y < static_cast<size_t>(size); ++y) {
        raw.push_back(2);
        for (size_t i = 0; i < stride; ++i) {
            const unsigned char above = y > 0 ? rgba[(y - 1) * stride + i] : 0;
            raw.push_back(static_cast<unsigned char>(rgba[y * stride + i] - above));
        }
    }
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    PutBe32(header, size);
    PutBe32(header, size);
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", Zlib(raw));
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
