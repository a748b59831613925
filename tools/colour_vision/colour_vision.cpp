// How the seven jewels look to players with a colour-vision deficiency, and
// whether the marks tell them apart.
//
//     colour_vision [--table FILE] [--picture FILE]
//
// The game is played headless to a level-5 picture with the seven kinds in
// a row, once with marks and once without; the colours are the palette the
// display shows. Each colour is simulated for protanopia, deuteranopia and
// tritanopia with the model of Machado, Oliveira and Fernandes, "A
// Physiologically-based Model for Simulation of Color Vision Deficiency"
// (IEEE TVCG 15(6), 2009): their matrices for severity 1.0, applied to
// linear RGB and clamped. Two colours count as told apart when their
// CIEDE2000 difference (Sharma, Wu and Dalal's implementation notes, Color
// Research and Application 30(1), 2005; CIELAB under D65) is at least
// kApart. With marks, each jewel's pattern is the set of pixels of its
// square told apart from the jewel's own colour in the same vision; every
// pair of kinds must differ in that pattern, for each vision.
//
// Prints the table in Markdown (or writes it to --table), writes the
// picture of level 5's jewels as a deuteranope sees them (--picture), and
// exits 1 when a pair of kinds is not told apart with marks.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"
#include "tools/screenshots/png.h"

namespace {

// The difference below which two colours count as one. Between large
// patches side by side a difference of 1 to 2 is just seen; these are
// 11-pixel squares seen one at a time while they fall, so we ask for well
// above it: 10, about the difference between two greys of lightness
// (L*) 50 and 40.
constexpr double kApart = 10.0;

struct Rgb {
    double r, g, b;  // 0..1, sRGB-encoded
};
struct Lab {
    double l, a, b;
};

using Matrix = std::array<std::array<double, 3>, 3>;

struct Vision {
    const char* name;
    Matrix matrix;
};

// Machado et al. 2009, Table 1, severity 1.0.
const Vision kVisions[4] = {
    {"normal vision", {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}},
    {"protanopia",
     {{{0.152286, 1.052583, -0.204868},
       {0.114503, 0.786281, 0.099216},
       {-0.003882, -0.048116, 1.051998}}}},
    {"deuteranopia",
     {{{0.367322, 0.860646, -0.227968},
       {0.280085, 0.672501, 0.047413},
       {-0.011820, 0.042940, 0.968881}}}},
    {"tritanopia",
     {{{1.255528, -0.076749, -0.178779},
       {-0.078411, 0.930809, 0.147602},
       {0.004733, 0.691367, 0.303900}}}},
};

double ToLinear(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double ToEncoded(double c) {
    c = std::clamp(c, 0.0, 1.0);
    return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
}

Rgb Simulate(const Vision& vision, Rgb colour) {
    const double in[3] = {ToLinear(colour.r), ToLinear(colour.g), ToLinear(colour.b)};
    double out[3];
    for (int i = 0; i < 3; ++i) {
        const auto& row = vision.matrix[i];
        out[i] = ToEncoded(row[0] * in[0] + row[1] * in[1] + row[2] * in[2]);
    }
    return {out[0], out[1], out[2]};
}

Lab ToLab(Rgb colour) {
    const double r = ToLinear(colour.r), g = ToLinear(colour.g), b = ToLinear(colour.b);
    // sRGB to XYZ, relative to the D65 white.
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    auto f = [](double t) {
        return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116;
    };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

constexpr double kPi = 3.14159265358979323846;
double Degrees(double radians) {
    return radians * 180 / kPi;
}
double Radians(double degrees) {
    return degrees * kPi / 180;
}

// CIEDE2000 with kL = kC = kH = 1, as in Sharma, Wu and Dalal's notes.
double DeltaE2000(Lab one, Lab two) {
    const double c1 = std::hypot(one.a, one.b), c2 = std::hypot(two.a, two.b);
    const double meanC7 = std::pow((c1 + c2) / 2, 7);
    const double g = 0.5 * (1 - std::sqrt(meanC7 / (meanC7 + std::pow(25.0, 7))));
    const double a1 = (1 + g) * one.a, a2 = (1 + g) * two.a;
    const double cp1 = std::hypot(a1, one.b), cp2 = std::hypot(a2, two.b);
    auto hue = [](double b, double a) {
        if (a == 0 && b == 0) return 0.0;
        const double h = Degrees(std::atan2(b, a));
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(one.b, a1), h2 = hue(two.b, a2);

    const double dL = two.l - one.l, dC = cp2 - cp1;
    double dh = 0;
    if (cp1 * cp2 != 0) {
        dh = h2 - h1;
        if (dh > 180) dh -= 360;
        if (dh < -180) dh += 360;
    }
    const double dH = 2 * std::sqrt(cp1 * cp2) * std::sin(Radians(dh / 2));

    const double meanL = (one.l + two.l) / 2, meanCp = (cp1 + cp2) / 2;
    double meanH = h1 + h2;
    if (cp1 * cp2 != 0) {
        if (std::fabs(h1 - h2) <= 180) {
            meanH /= 2;
        } else {
            meanH = h1 + h2 < 360 ? (meanH + 360) / 2 : (meanH - 360) / 2;
        }
    }
    const double t = 1 - 0.17 * std::cos(Radians(meanH - 30)) +
                     0.24 * std::cos(Radians(2 * meanH)) + 0.32 * std::cos(Radians(3 * meanH + 6)) -
                     0.20 * std::cos(Radians(4 * meanH - 63));
    const double dTheta = 30 * std::exp(-std::pow((meanH - 275) / 25, 2));
    const double meanCp7 = std::pow(meanCp, 7);
    const double rc = 2 * std::sqrt(meanCp7 / (meanCp7 + std::pow(25.0, 7)));
    const double l50 = (meanL - 50) * (meanL - 50);
    const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    const double sc = 1 + 0.045 * meanCp, sh = 1 + 0.015 * meanCp * t;
    const double rt = -std::sin(Radians(2 * dTheta)) * rc;
    return std::sqrt(std::pow(dL / sl, 2) + std::pow(dC / sc, 2) + std::pow(dH / sh, 2) +
                     rt * (dC / sc) * (dH / sh));
}

// Pairs from Sharma, Wu and Dalal's Table 1: an implementation that misses
// any of them is not the formula.
bool DeltaEMatchesPublishedPairs() {
    const struct {
        Lab one, two;
        double expected;
    } pairs[] = {
        {{50, 2.6772, -79.7751}, {50, 0, -82.7485}, 2.0425},
        {{50, 3.1571, -77.2803}, {50, 0, -82.7485}, 2.8615},
        {{50, 2.8361, -74.0200}, {50, 0, -82.7485}, 3.4412},
        {{50, -1.3802, -84.2814}, {50, 0, -82.7485}, 1.0000},
        {{50, 2.5, 0}, {73, 25, -18}, 27.1492},
        {{50, 2.5, 0}, {61, -5, 29}, 22.8977},
        {{50, 2.5, 0}, {56, -27, -3}, 31.9030},
        {{50, 2.5, 0}, {58, 24, 15}, 19.4535},
        {{84.25, 5.74, 96}, {84.46, 8.88, 96.49}, 1.6743},
    };
    bool ok = true;
    for (const auto& pair : pairs) {
        const double got = DeltaE2000(pair.one, pair.two);
        if (std::fabs(got - pair.expected) > 0.0001 ||
            std::fabs(DeltaE2000(pair.two, pair.one) - got) > 1e-9) {
            std::fprintf(stderr, "colour_vision: CIEDE2000 gives %.4f, published %.4f\n", got,
                         pair.expected);
            ok = false;
        }
    }
    return ok;
}

constexpr int kKinds[kJewelKinds] = {Red, Green, Blue, Orange, Yellow, Purple, White};
const char* const kNames[kJewelKinds] = {"red",    "green",  "blue", "orange",
                                         "yellow", "purple", "white"};
constexpr int kRowX = 40, kRowStep = 30, kRowY = 200;

struct Shot {
    std::vector<BYTE> pixels;
    PALETTEENTRY palette[256];
};

// Level 5 in play, the seven kinds in a row at y 200, as presented.
bool PlayLevelFive(bool marks, Shot* shot) {
    bool taken = false;
    replay::RunScenario(
        5, 1,
        [marks] {
            gameData.marksShown = marks ? 1 : 0;
            for (int k = 0; k < kJewelKinds; ++k) {
                gameData.jewels[k] = {kRowX + kRowStep * k, kRowY - 2, 2, kKinds[k], 1};
            }
        },
        {},
        [&](const replay::FrameRecord&) {
            if (const BYTE* pixels = seam::PrimaryPixels()) {
                shot->pixels.assign(pixels, pixels + seam::kWidth * seam::kHeight);
                for (int i = 0; i < 256; ++i) shot->palette[i] = seam::DisplayPalette(i);
                taken = true;
            }
            return true;
        });
    return taken;
}

Rgb Colour(const Shot& shot, int index) {
    const PALETTEENTRY& entry = shot.palette[index];
    return {entry.peRed / 255.0, entry.peGreen / 255.0, entry.peBlue / 255.0};
}

double Difference(const Vision& vision, Rgb one, Rgb two) {
    return DeltaE2000(ToLab(Simulate(vision, one)), ToLab(Simulate(vision, two)));
}

// The pixels of kind k's square that `vision` tells apart from the jewel.
std::array<bool, 121> SeenPattern(const Vision& vision, const Shot& shot, int k) {
    std::array<bool, 121> seen{};
    const Rgb jewel = Colour(shot, kKinds[k]);
    for (int i = 0; i < 121; ++i) {
        const int x = kRowX + kRowStep * k + i % 11, y = kRowY + i / 11;
        const BYTE index = shot.pixels[static_cast<size_t>(y) * seam::kWidth + x];
        seen[i] = Difference(vision, Colour(shot, index), jewel) >= kApart;
    }
    return seen;
}

// Rows of the picture: normal vision without marks, then a deuteranope's
// view without and with marks; each 4 times the size, 8 grey rows between.
bool WritePicture(const std::string& path, const Shot& plain, const Shot& marked) {
    constexpr int kScale = 4, kLeft = kRowX - 10, kTop = kRowY - 10;
    constexpr int kWidth = kRowStep * (kJewelKinds - 1) + 11 + 20, kHeight = 31, kGap = 8;
    const Shot* shots[3] = {&plain, &plain, &marked};
    const Vision* visions[3] = {&kVisions[0], &kVisions[2], &kVisions[2]};
    // Each row takes its own eight colours (indices 0, 10 .. 70): row r's
    // index i becomes r * 8 + i / 10; 255 is the grey between rows.
    PALETTEENTRY palette[256] = {};
    palette[255] = {64, 64, 64, 0};
    const int width = kWidth * kScale, rowHeight = kHeight * kScale;
    const int height = 3 * rowHeight + 2 * kGap;
    std::vector<BYTE> pixels(static_cast<size_t>(width) * height, 255);
    for (int r = 0; r < 3; ++r) {
        for (int j = 0; j < 8; ++j) {
            const Rgb seen = Simulate(*visions[r], Colour(*shots[r], j * 10));
            palette[r * 8 + j] = {static_cast<BYTE>(std::lround(seen.r * 255)),
                                  static_cast<BYTE>(std::lround(seen.g * 255)),
                                  static_cast<BYTE>(std::lround(seen.b * 255)), 0};
        }
        for (int y = 0; y < rowHeight; ++y) {
            for (int x = 0; x < width; ++x) {
                const BYTE index =
                    shots[r]->pixels[static_cast<size_t>(kTop + y / kScale) * seam::kWidth + kLeft +
                                     x / kScale];
                const int j = index % 10 == 0 && index <= 70 ? index / 10 : 0;
                pixels[static_cast<size_t>(r * (rowHeight + kGap) + y) * width + x] =
                    static_cast<BYTE>(r * 8 + j);
            }
        }
    }
    return replay::WritePalettePng(path, pixels.data(), width, height, width, palette);
}

// Into `path` between its two marker lines, or as the whole file when it
// has none.
bool WriteTable(const std::string& path, const std::string& table) {
    const std::string begin = "<!-- colour_vision table -->\n", end = "<!-- end of table -->\n";
    std::string text;
    if (FILE* in = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, n);
        std::fclose(in);
    }
    const size_t from = text.find(begin), to = text.find(end);
    if (from != std::string::npos && to != std::string::npos && from < to) {
        text.replace(from + begin.size(), to - from - begin.size(), table);
    } else {
        text = table;
    }
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    std::string tablePath, picturePath;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if ((option == "--table" || option == "--picture") && i + 1 < argc) {
            // The game runs in assets/: a relative path is the caller's.
            std::string path = argv[++i];
            char here[4096];
            if (path[0] != '/' && getcwd(here, sizeof here) != nullptr) path = here + ("/" + path);
            (option == "--table" ? tablePath : picturePath) = path;
        } else {
            std::fprintf(stderr, "usage: colour_vision [--table FILE] [--picture FILE]\n");
            return 2;
        }
    }
    if (!DeltaEMatchesPublishedPairs()) return 1;

    Shot plain, marked;
    if (!PlayLevelFive(false, &plain) || !PlayLevelFive(true, &marked)) {
        std::fprintf(stderr, "colour_vision: the game showed no picture\n");
        return 1;
    }

    std::string table;
    char cell[96];
    table += "| pair |";
    for (const Vision& vision : kVisions) table += std::string(" ") + vision.name + " |";
    table += " mark pixels that differ |\n|---|---|---|---|---|---|\n";
    bool ok = true;
    for (int a = 0; a < kJewelKinds; ++a) {
        for (int b = a + 1; b < kJewelKinds; ++b) {
            table += std::string("| ") + kNames[a] + " / " + kNames[b] + " |";
            for (const Vision& vision : kVisions) {
                const double difference =
                    Difference(vision, Colour(plain, kKinds[a]), Colour(plain, kKinds[b]));
                std::snprintf(cell, sizeof cell, " %.1f %s |", difference,
                              difference >= kApart ? "apart" : "**alike**");
                table += cell;
            }
            // The fewest differing pixels over the four visions.
            int fewest = 121;
            for (const Vision& vision : kVisions) {
                const auto one = SeenPattern(vision, marked, a),
                           two = SeenPattern(vision, marked, b);
                int differ = 0;
                for (int i = 0; i < 121; ++i) differ += one[i] != two[i];
                fewest = std::min(fewest, differ);
            }
            if (fewest == 0) ok = false;
            std::snprintf(cell, sizeof cell, " %d%s |\n", fewest, fewest == 0 ? " **alike**" : "");
            table += cell;
        }
    }
    table += "\n| mark on | colour |";
    for (const Vision& vision : kVisions) table += std::string(" ") + vision.name + " |";
    table += "\n|---|---|---|---|---|---|\n";
    for (int k = 0; k < kJewelKinds; ++k) {
        const auto pattern = SeenPattern(kVisions[0], marked, k);
        int index = -1;
        for (int i = 0; i < 121 && index < 0; ++i) {
            if (pattern[i]) {
                const int x = kRowX + kRowStep * k + i % 11, y = kRowY + i / 11;
                index = marked.pixels[static_cast<size_t>(y) * seam::kWidth + x];
            }
        }
        if (index < 0) {
            ok = false;
            table += std::string("| ") + kNames[k] + " | none |\n";
            continue;
        }
        std::snprintf(cell, sizeof cell, "| %s | index %d |", kNames[k], index);
        table += cell;
        for (const Vision& vision : kVisions) {
            const double difference =
                Difference(vision, Colour(marked, index), Colour(marked, kKinds[k]));
            if (difference < kApart) ok = false;
            std::snprintf(cell, sizeof cell, " %.1f |", difference);
            table += cell;
        }
        table += "\n";
    }
    std::snprintf(cell, sizeof cell, "\nCIEDE2000 threshold: %.1f; %s\n", kApart,
                  ok ? "with marks every pair is told apart in every vision"
                     : "WITH MARKS SOME PAIR IS NOT TOLD APART");
    table += cell;

    if (tablePath.empty()) {
        std::fputs(table.c_str(), stdout);
    } else if (!WriteTable(tablePath, table)) {
        std::fprintf(stderr, "colour_vision: cannot write %s\n", tablePath.c_str());
        return 1;
    }
    if (!picturePath.empty() && !WritePicture(picturePath, plain, marked)) {
        std::fprintf(stderr, "colour_vision: cannot write %s\n", picturePath.c_str());
        return 1;
    }
    return ok ? 0 : 1;
}
