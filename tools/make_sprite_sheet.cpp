// Draws the game's sprite sheet, playersprite.bmp: a 256-colour palette of our
// own and the two frames of the woven basket the player steers.
//
// Usage: make_sprite_sheet OUTPUT.bmp
//
// The sheet is 148 x 82, a grid of two 72 x 80 cells with a one-pixel line
// around each. Everything is computed with plain arithmetic, so the output is
// the same byte for byte on every run; a test holds the committed file to it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSheetWidth = 148;  // a multiple of 4: rows need no padding
constexpr int kSheetHeight = 82;
constexpr int kCellWidth = 72;
constexpr int kCellHeight = 80;
constexpr int kGridIndex = 160;  // a mid grey from the grey ramp

struct Colour {
    int r, g, b;
};

Colour palette[256];

// The basket's two ramps, dark to light. Indices 10, 20, ... 70 are left out:
// the game puts its jewel colours there.
constexpr int kWicker[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  11, 12, 13, 14, 15,
                           16, 17, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28, 29};
constexpr int kWickerLevels = sizeof(kWicker) / sizeof(kWicker[0]);
constexpr int kRim[] = {31, 32, 33, 34, 35, 36, 37, 38, 39, 41, 42, 43, 44, 45, 46, 47, 48, 49};
constexpr int kRimLevels = sizeof(kRim) / sizeof(kRim[0]);

int Mix(int a, int b, int step, int steps) {
    return a + (b - a) * step / (steps - 1);
}

// Fills palette[index[0..count)] with a ramp through the given stops.
void Ramp(const int* index, int count, const Colour* stops, int stopCount) {
    for (int i = 0; i < count; ++i) {
        const int span = (count - 1) * 1000 / (stopCount - 1);
        const int pos = i * 1000;
        int s = pos / span;
        if (s >= stopCount - 1) s = stopCount - 2;
        const int into = pos - s * span;
        const Colour& a = stops[s];
        const Colour& b = stops[s + 1];
        palette[index[i]] = {a.r + (b.r - a.r) * into / span, a.g + (b.g - a.g) * into / span,
                             a.b + (b.b - a.b) * into / span};
    }
}

void MakePalette() {
    palette[0] = {0, 0, 0};
    const Colour wicker[] = {
        {22, 10, 3}, {92, 50, 18}, {168, 108, 48}, {226, 178, 104}, {255, 236, 178}};
    Ramp(kWicker, kWickerLevels, wicker, 5);
    const Colour rim[] = {{30, 12, 4}, {110, 52, 16}, {190, 112, 40}, {250, 196, 96}};
    Ramp(kRim, kRimLevels, rim, 4);
    // Stand-ins for the jewel colours, so that previews of the sheet look right.
    palette[10] = {255, 0, 0};
    palette[20] = {0, 255, 0};
    palette[30] = {0, 0, 255};
    palette[40] = {255, 165, 0};
    palette[50] = {255, 255, 0};
    palette[60] = {205, 0, 205};
    palette[70] = {255, 255, 255};
    for (int i = 0; i < 9; ++i) {  // leaf greens and sky blues
        palette[51 + i] = {Mix(8, 150, i, 9), Mix(40, 230, i, 9), Mix(10, 120, i, 9)};
        palette[61 + i] = {Mix(8, 150, i, 9), Mix(24, 200, i, 9), Mix(60, 255, i, 9)};
    }
    // 71..126: a soft colour wheel, six hue sextants of about nine steps.
    for (int i = 0; i < 56; ++i) {
        const int h = i * 6 * 256 / 56;  // 0 .. 6*256
        const int sextant = h / 256;
        const int f = h % 256;
        const int hi = 230, lo = 60;
        const int up = lo + (hi - lo) * f / 255;
        const int down = hi - (hi - lo) * f / 255;
        Colour c;
        switch (sextant) {
            case 0:
                c = {hi, up, lo};
                break;
            case 1:
                c = {down, hi, lo};
                break;
            case 2:
                c = {lo, hi, up};
                break;
            case 3:
                c = {lo, down, hi};
                break;
            case 4:
                c = {up, lo, hi};
                break;
            default:
                c = {hi, lo, down};
                break;
        }
        palette[71 + i] = c;
    }
    palette[127] = {255, 206, 72};  // headings and the score line: warm gold on black
    for (int i = 0; i < 64; ++i) {
        const int v = i * 255 / 63;
        palette[128 + i] = {v, v, v};
    }
    // 192..255: embers to white heat.
    const Colour fire[] = {
        {24, 0, 0}, {160, 20, 0}, {240, 120, 0}, {255, 220, 60}, {255, 255, 255}};
    int fireIndex[64];
    for (int i = 0; i < 64; ++i) fireIndex[i] = 192 + i;
    Ramp(fireIndex, 64, fire, 5);
}

// --- the basket --------------------------------------------------------
//
// Cell coordinates: x 0..71 across, y 0..79 down. Only x < 71 and y < 79 ever
// show. The opening is at the top, because the game catches a jewel when its
// centre is within the basket's top nine rows.

constexpr double kCentreX = 35.0;
constexpr double kRimY = 7.0;        // centre of the rim's ellipse
constexpr double kRimOuterA = 29.5;  // half-width of the rim
constexpr double kRimOuterB = 6.5;
constexpr double kRimInnerA = 24.5;  // half-width of the opening
constexpr double kRimInnerB = 3.6;
constexpr double kBodyTopHalf = 27.5;
constexpr double kBodyBottomHalf = 21.0;
constexpr double kBodyBottomY = 58.0;  // the base's centre line
constexpr double kBaseB = 4.0;

double Square(double v) {
    return v * v;
}

double Clamp01(double v) {
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

int WickerShade(double level) {
    int i = static_cast<int>(level * (kWickerLevels - 1) + 0.5);
    if (i < 0) i = 0;
    if (i >= kWickerLevels) i = kWickerLevels - 1;
    return kWicker[i];
}

int RimShade(double level) {
    int i = static_cast<int>(level * (kRimLevels - 1) + 0.5);
    if (i < 0) i = 0;
    if (i >= kRimLevels) i = kRimLevels - 1;
    return kRim[i];
}

double BodyHalfWidth(double y) {
    const double t = Clamp01((y - kRimY) / (kBodyBottomY - kRimY));
    return kBodyTopHalf + (kBodyBottomHalf - kBodyTopHalf) * t;
}

// Inside the basket's side wall (below the rim's front edge down to the base's curve).
bool InBody(double x, double y) {
    if (y < kRimY) return false;
    const double half = BodyHalfWidth(y);
    const double dx = x - kCentreX;
    if (dx * dx > half * half) return false;
    const double bottom = kBodyBottomY + kBaseB * std::sqrt(Clamp01(1 - Square(dx / half)));
    return y <= bottom;
}

// One frame of the basket. `step` (0 or 1) shifts the weave half a stake and
// swings the handles, so the two frames alternate as the basket is carried.
int BasketPixel(int px, int py, int step) {
    const double x = px + 0.5, y = py + 0.5;
    const double dx = x - kCentreX;
    const double rimOuter = Square(dx / kRimOuterA) + Square((y - kRimY) / kRimOuterB);
    const double rimInner = Square(dx / kRimInnerA) + Square((y - kRimY) / kRimInnerB);
    // Light comes from the upper left; the wall is a cone, darker at its sides.
    const double across = Clamp01((dx / BodyHalfWidth(y) + 1) / 2);  // 0 left .. 1 right
    const double roundness = 1 - Square(across * 2 - 1);             // 1 mid, 0 edges
    const double light = 0.25 + 0.55 * roundness + 0.2 * (1 - across) - 0.1 * across;

    // The opening: the dark inside of the far wall, lit a little at its back.
    if (rimInner < 1.0) {
        const double depth = (y - (kRimY - kRimInnerB)) / (2 * kRimInnerB);  // 0 back .. 1 front
        return WickerShade(0.22 - 0.2 * depth + 0.05 * roundness);
    }
    // The rim: a thick twisted rope round the opening.
    if (rimOuter < 1.0) {
        const double angle = std::atan2((y - kRimY) / kRimOuterB, dx / kRimOuterA);
        const double twist = angle * 9 / 3.14159265358979 + (rimOuter - rimInner) * 0.6;
        double strand = twist - std::floor(twist);  // 0..1 along each twist
        strand = 1 - std::fabs(strand * 2 - 1);     // a ridge in the middle of each strand
        const double top = y < kRimY ? 0.15 : 0.0;  // the rim's upper face catches the light
        const double edge = rimOuter > 0.82 ? -0.25 : 0.0;
        return RimShade(0.15 + 0.55 * strand + 0.25 * (1 - across) + top + edge);
    }
    // Handles: rope loops on both sides just under the rim, lifted in step 1.
    const double lift = step ? -3.0 : 0.0;
    const double swing = step ? 1.0 : 0.0;
    for (int side = -1; side <= 1; side += 2) {
        const double hx = kCentreX + side * (kRimOuterA + 1.0 + swing);
        const double hy = kRimY + 8.0 + lift;
        const double d = std::sqrt(Square((x - hx) / 5.0) + Square((y - hy) / 6.5));
        const bool outside = side * (x - hx) > -1.5;
        if (outside && d > 0.62 && d < 1.0 && !InBody(x, y)) {
            const double shade = 1 - std::fabs(d - 0.81) / 0.19;
            return RimShade(0.2 + 0.5 * shade + (side < 0 ? 0.15 : 0.0));
        }
    }
    if (!InBody(x, y)) return 0;

    // The dark outline that keeps the basket readable on black.
    if (!InBody(x - 1, y) || !InBody(x + 1, y) || !InBody(x, y + 1)) return kWicker[1];

    // The base: a firm band of coiled cane.
    const double baseTop = kBodyBottomY - 5.0;
    if (y >= baseTop) {
        const double coil = (y - baseTop) / 2.5;
        const double ridge = 1 - std::fabs((coil - std::floor(coil)) * 2 - 1);
        return WickerShade(light * 0.7 + 0.18 * ridge - 0.05);
    }
    // The wall: upright stakes 6 pixels apart, horizontal weavers 5 rows high
    // passing in front of and behind alternate stakes.
    const double stakePos = (x + step * 3.0 - 2.0) / 6.0;
    const double weaverPos = (y - kRimY - 2.0) / 5.0;
    const int stake = static_cast<int>(std::floor(stakePos));
    const int weaver = static_cast<int>(std::floor(weaverPos));
    const double inStake = stakePos - stake;     // 0..1 across a stake's spacing
    const double inWeaver = weaverPos - weaver;  // 0..1 down a weaver
    const bool weaverInFront = ((stake + weaver) & 1) == 0;
    double level;
    if (weaverInFront) {
        // A weaver bulges toward us: lightest along its middle, dark where it
        // dives behind the next stake.
        const double bulge = 1 - Square(inWeaver * 2 - 1);
        const double dive = 1 - Square(inStake * 2 - 1);
        level = light * (0.55 + 0.35 * bulge) + 0.12 * dive - 0.05;
        if (inWeaver < 0.2) level -= 0.18;  // the gap above each weaver
    } else {
        // A stake shows between weavers: a narrow, rounded upright.
        const double rod = 1 - Square(inStake * 2 - 1);
        level = light * (0.35 + 0.45 * rod) - 0.06;
        if (inStake < 0.18 || inStake > 0.82) level -= 0.2;
    }
    // The rim throws a shadow on the wall just below it.
    const double underRim =
        y - (kRimY + kRimOuterB * std::sqrt(Clamp01(1 - Square(dx / kRimOuterA))));
    if (underRim < 2.5) level -= 0.22 * (1 - underRim / 2.5);
    // A glint that slides across the wall between the frames.
    const double glintX = kCentreX - 12.0 + step * 5.0;
    const double glint = Square((x - glintX) / 4.0) + Square((y - 26.0) / 12.0);
    if (glint < 1.0) level += 0.16 * (1 - glint);
    return WickerShade(level);
}

std::vector<uint8_t> MakePixels() {
    // Top row first while drawing; turned over when written.
    std::vector<uint8_t> pixels(kSheetWidth * kSheetHeight, 0);
    for (int y = 0; y < kSheetHeight; ++y) {
        for (int x = 0; x < kSheetWidth; ++x) {
            const bool gridColumn = x % (kCellWidth + 1) == 0 && x <= 2 * (kCellWidth + 1);
            const bool gridRow = y == 0 || y == kCellHeight + 1;
            if ((gridColumn || gridRow) && x <= 2 * (kCellWidth + 1)) {
                pixels[y * kSheetWidth + x] = kGridIndex;
            }
        }
    }
    for (int cell = 0; cell < 2; ++cell) {
        for (int r = 0; r < kCellHeight; ++r) {
            for (int c = 0; c < kCellWidth; ++c) {
                const int sx = cell * (kCellWidth + 1) + 1 + c;
                pixels[(r + 1) * kSheetWidth + sx] = static_cast<uint8_t>(BasketPixel(c, r, cell));
            }
        }
    }
    return pixels;
}

void Put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void Put32(std::vector<uint8_t>& out, unsigned v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::vector<uint8_t> MakeFile() {
    MakePalette();
    const std::vector<uint8_t> pixels = MakePixels();
    const unsigned imageBytes = kSheetWidth * kSheetHeight;
    std::vector<uint8_t> out;
    Put16(out, 0x4D42);  // "BM"
    Put32(out, 14 + 40 + 1024 + imageBytes);
    Put32(out, 0);
    Put32(out, 14 + 40 + 1024);
    Put32(out, 40);
    Put32(out, kSheetWidth);
    Put32(out, kSheetHeight);  // positive: bottom row stored first
    Put16(out, 1);
    Put16(out, 8);
    Put32(out, 0);  // BI_RGB
    Put32(out, imageBytes);
    Put32(out, 2835);  // 72 dots per inch
    Put32(out, 2835);
    Put32(out, 256);
    Put32(out, 0);
    for (const Colour& c : palette) {
        out.push_back(static_cast<uint8_t>(c.b));
        out.push_back(static_cast<uint8_t>(c.g));
        out.push_back(static_cast<uint8_t>(c.r));
        out.push_back(0);
    }
    for (int y = kSheetHeight - 1; y >= 0; --y) {
        out.insert(out.end(), pixels.begin() + y * kSheetWidth,
                   pixels.begin() + (y + 1) * kSheetWidth);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp\n", argv[0]);
        return 2;
    }
    const std::vector<uint8_t> bytes = MakeFile();
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
