// What every backend shares of presenting a picture: a row looked up, whether
// a picture is the one already shown, and which part of a row changed. It needs
// nothing else of the core, so the desktop's scaler links it alone.
#include <cstring>

#include "platform/backend.h"

namespace backend {

void LookUpRow(const std::uint8_t* in, const std::uint32_t lookup[256], std::uint32_t* out) {
    for (int x = 0; x < kPictureWidth; ++x) out[x] = lookup[in[x]];
}

bool SamePicture(const std::uint8_t* shown, const std::uint32_t shownLookup[256],
                 const std::uint8_t* pixels, int pitch, const std::uint32_t lookup[256]) {
    if (std::memcmp(shownLookup, lookup, 256 * sizeof lookup[0]) != 0) return false;
    for (int y = 0; y < kPictureHeight; ++y) {
        if (std::memcmp(shown + static_cast<size_t>(y) * kPictureWidth,
                        pixels + static_cast<size_t>(y) * pitch, kPictureWidth) != 0) {
            return false;
        }
    }
    return true;
}

namespace {

// The first and the last column where two rows differ, eight columns at a
// time: most rows of a play frame do not change. The first is kPictureWidth
// when none does (the last is then meaningless).
int FirstDifference(const std::uint8_t* a, const std::uint8_t* b) {
    int x = 0;
    for (; x < kPictureWidth; x += 8) {
        std::uint64_t wa, wb;
        std::memcpy(&wa, a + x, 8);
        std::memcpy(&wb, b + x, 8);
        if (wa != wb) break;
    }
    while (x < kPictureWidth && a[x] == b[x]) ++x;
    return x;
}

int LastDifference(const std::uint8_t* a, const std::uint8_t* b) {
    static_assert(kPictureWidth % 8 == 0, "rows are compared eight columns at a time");
    int end = kPictureWidth;
    for (; end > 0; end -= 8) {
        std::uint64_t wa, wb;
        std::memcpy(&wa, a + end - 8, 8);
        std::memcpy(&wb, b + end - 8, 8);
        if (wa != wb) break;
    }
    int x = end - 1;
    while (x > 0 && a[x] == b[x]) --x;
    return x;
}

}  // namespace

bool TakeChangedSpan(const std::uint8_t* row, std::uint8_t* shown, bool all, int* first,
                     int* last) {
    *first = 0;
    *last = kPictureWidth - 1;
    if (!all) {
        *first = FirstDifference(row, shown);
        if (*first == kPictureWidth) return false;
        *last = LastDifference(row, shown);
    }
    if (row != shown)
        std::memcpy(shown + *first, row + *first, static_cast<size_t>(*last - *first + 1));
    return true;
}

}  // namespace backend
