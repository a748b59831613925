// What the display shows: the display palette, its lookup from palette
// indices to colours (made again only when the palette changed), and Flip's
// hand-over of the picture to the backend.
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
