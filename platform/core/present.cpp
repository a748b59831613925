// What the display shows: the display palette, its lookup from palette
// indices to colours (made again only when the palette changed), and Flip's
// hand-over of the picture to the backend. Also what every backend shares
// of presenting: a row looked up, and whether a picture is already shown.
#include <cstring>

#include "platform/backend.h"
#include "platform/core/ddraw_objects.h"

namespace standin {

namespace {

// Rebuilds the lookup when the palette changed.
void UpdateLookup(Presenter& p, const Palette* palette) {
    if (palette == p.lookupPalette && (palette == nullptr || palette->version == p.lookupVersion)) {
        return;
    }
    for (int i = 0; i < 256; ++i) {
        p.lookup[i] = palette == nullptr
                          ? 0xFF000000u
                          : 0xFF000000u | (std::uint32_t{palette->entries[i].peRed} << 16) |
                                (std::uint32_t{palette->entries[i].peGreen} << 8) |
                                palette->entries[i].peBlue;
    }
    p.lookupPalette = palette;
    p.lookupVersion = palette != nullptr ? palette->version : 0;
}

}  // namespace

const Palette* DisplayPalette() {
    if (liveDevice == nullptr) return nullptr;
    if (liveDevice->primary != nullptr && liveDevice->primary->palette != nullptr) {
        return liveDevice->primary->palette;
    }
    if (liveDevice->lastPalette != nullptr && !liveDevice->lastPalette->dead) {
        return liveDevice->lastPalette;
    }
    return nullptr;
}

void Present(Device* device) {
    Presenter& p = device->presenter;
    if (!p.open) return;
    const Surface* screen = device->primary;
    UpdateLookup(p, screen->palette);
    // A display that does not pace presents itself flips at its next blank.
    if (!backend::Present(screen->pixels.get(), screen->pitch, p.lookup)) ScheduleFlip();
}

}  // namespace standin

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

}  // namespace backend
