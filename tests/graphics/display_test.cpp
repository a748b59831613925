// The display device: default ramps, the cleared flip chain, the clip list and
// its bound, what each failed step of DisplayOpen leaves, and DisplayClose.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/graphics/graphics_test_support.h"

namespace {

bool SameEntry(const PALETTEENTRY& a, const PALETTEENTRY& b) {
    return a.peRed == b.peRed && a.peGreen == b.peGreen && a.peBlue == b.peBlue &&
           a.peFlags == b.peFlags;
}

PALETTEENTRY Entry(int r, int g, int b) {
    return PALETTEENTRY{static_cast<BYTE>(r), static_cast<BYTE>(g), static_cast<BYTE>(b),
                        PC_NOCOLLAPSE};
}

TEST(DisplayOpen, ShowsTheDefaultRampsInTableAndOnScreen) {
    gfx::OpenDisplay();
    const struct {
        int index;
        PALETTEENTRY colour;
    } known[] = {{0, Entry(0, 0, 0)},        {1, Entry(4, 0, 0)},     {63, Entry(252, 0, 0)},
                 {64, Entry(0, 0, 0)},       {127, Entry(0, 252, 0)}, {128, Entry(0, 0, 0)},
                 {191, Entry(0, 0, 252)},    {192, Entry(0, 0, 0)},   {200, Entry(32, 32, 32)},
                 {255, Entry(252, 252, 252)}};
    for (const auto& k : known) {
        EXPECT_TRUE(SameEntry(PaletteTable[k.index], k.colour)) << "table entry " << k.index;
    }
    // The display palette holds exactly the table, every entry with flags 4.
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY shown = seam::DisplayPalette(i);
        EXPECT_TRUE(SameEntry(shown, PaletteTable[i])) << "display entry " << i;
        EXPECT_EQ(PaletteTable[i].peFlags, PC_NOCOLLAPSE) << i;
    }
}

TEST(DisplayOpen, LeavesBothSurfacesBlackAndClipsBackToTheScreen) {
    gfx::OpenDisplay();
    EXPECT_NE(display.clipper, nullptr);
    EXPECT_EQ(display.screenWidth, 640);
    EXPECT_EQ(display.screenHeight, 480);
    EXPECT_EQ(display.screenBpp, 8);
    const BYTE* primary = seam::PrimaryPixels();
    const BYTE* back = seam::BackPixels();
    ASSERT_NE(primary, nullptr);
    ASSERT_NE(back, nullptr);
    int lit = 0;
    for (int i = 0; i < 640 * 480; ++i) lit += (primary[i] != 0) + (back[i] != 0);
    EXPECT_EQ(lit, 0);

    const std::vector<RECT> rects = seam::ClipRects();
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].left, 0);
    EXPECT_EQ(rects[0].top, 0);
    EXPECT_EQ(rects[0].right, 640);
    EXPECT_EQ(rects[0].bottom, 480);
    const RECT bound = seam::ClipBound();
    EXPECT_EQ(bound.left, 0);
    EXPECT_EQ(bound.top, 0);
    EXPECT_EQ(bound.right, 640);
    EXPECT_EQ(bound.bottom, 480);
}

// The bound starts at +-64000, so a side beyond that limit stays at it.
TEST(AttachClipList, BoundTakesTheRectangleWithinTheLimits) {
    const struct {
        RECT rect;
        RECT bound;
    } cases[] = {
        {{10, 20, 300, 400}, {10, 20, 300, 400}},
        {{-5, -7, 63999, 70000}, {-5, -7, 63999, 70000}},
        {{64000, 64000, -64000, -64000}, {64000, 64000, -64000, -64000}},
        {{100000, 64001, -64001, -100000}, {64000, 64000, -64000, -64000}},
        {{63999, -64000, 64000, -63999}, {63999, -64000, 64000, -63999}},
    };
    for (const auto& c : cases) {
        gfx::OpenDisplay();
        IDirectDrawClipper* clipper = AttachClipList(c.rect);
        ASSERT_NE(clipper, nullptr);
        const std::vector<RECT> rects = seam::ClipRects();
        ASSERT_EQ(rects.size(), 1u);
        EXPECT_EQ(rects[0].left, c.rect.left);
        EXPECT_EQ(rects[0].bottom, c.rect.bottom);
        const RECT bound = seam::ClipBound();
        EXPECT_EQ(bound.left, c.bound.left) << c.rect.left;
        EXPECT_EQ(bound.top, c.bound.top) << c.rect.top;
        EXPECT_EQ(bound.right, c.bound.right) << c.rect.right;
        EXPECT_EQ(bound.bottom, c.bound.bottom) << c.rect.bottom;
    }
}

struct Held {
    bool device, primary, back, palette;
};

Held HeldNow() {
    return Held{display.device != nullptr, display.primary != nullptr, display.back != nullptr,
                display.palette != nullptr};
}

// Each failing step stops the opening and keeps what was made before it.
TEST(DisplayOpen, FailedStepKeepsExactlyTheObjectsMadeBeforeIt) {
    const struct {
        seam::Call call;
        const char* name;
        Held held;
    } cases[] = {
        {seam::Call::DirectDrawCreateEx, "device", {false, false, false, false}},
        {seam::Call::SetCooperativeLevel, "cooperative level", {true, false, false, false}},
        {seam::Call::SetDisplayMode, "display mode", {true, false, false, false}},
        {seam::Call::CreateSurface, "flip chain", {true, false, false, false}},
        {seam::Call::GetAttachedSurface, "back surface", {true, true, false, false}},
        {seam::Call::CreatePalette, "palette", {true, true, true, false}},
        {seam::Call::SetPalette, "palette attachment", {true, true, true, true}},
    };
    for (const auto& c : cases) {
        gfx::ResetProcess();
        seam::FailNext(c.call);
        EXPECT_EQ(DisplayOpen(), 0) << c.name;
        const Held held = HeldNow();
        EXPECT_EQ(held.device, c.held.device) << c.name;
        EXPECT_EQ(held.primary, c.held.primary) << c.name;
        EXPECT_EQ(held.back, c.held.back) << c.name;
        EXPECT_EQ(held.palette, c.held.palette) << c.name;
        EXPECT_EQ(display.clipper, nullptr) << c.name;
        EXPECT_TRUE(seam::ReleaseLog().empty()) << c.name << ": nothing is given back";
    }
}

// Without a clip list the display still opens; drawing is merely unclipped.
TEST(DisplayOpen, FailedClipListStillOpens) {
    for (seam::Call call :
         {seam::Call::CreateClipper, seam::Call::SetClipList, seam::Call::SetClipper}) {
        gfx::ResetProcess();
        seam::FailNext(call);
        EXPECT_EQ(DisplayOpen(), 1) << static_cast<int>(call);
        EXPECT_EQ(display.clipper, nullptr) << static_cast<int>(call);
        EXPECT_NE(display.back, nullptr);
        EXPECT_NE(display.palette, nullptr);
    }
    // The clip list's block cannot be had: no clipper either.
    gfx::OpenDisplay();
    seam::FailNextAlloc();
    EXPECT_EQ(AttachClipList(RECT{0, 0, 640, 480}), nullptr);
}

std::vector<std::string> Sorted(std::vector<std::string> kinds) {
    std::sort(kinds.begin(), kinds.end());
    return kinds;
}

// Every object present goes, and the device, which each of them was made on,
// goes last. (The log holds final releases, whose order among the others
// follows the references the surfaces hold on each other.)
TEST(DisplayClose, ReleasesExactlyTheObjectsPresent) {
    gfx::OpenDisplay();
    EXPECT_EQ(DisplayClose(), 1);
    std::vector<std::string> log = seam::ReleaseLog();
    EXPECT_EQ(Sorted(log),
              Sorted({"clipper", "palette", "surface:back", "surface:primary", "device"}));
    EXPECT_EQ(log.back(), "device");
    EXPECT_EQ(seam::LiveObjects(), 0);

    gfx::ResetProcess();
    seam::FailNext(seam::Call::SetDisplayMode);
    DisplayOpen();
    EXPECT_EQ(DisplayClose(), 1);
    EXPECT_EQ(seam::ReleaseLog(), std::vector<std::string>{"device"});
    EXPECT_EQ(seam::LiveObjects(), 0);

    gfx::ResetProcess();
    seam::FailNext(seam::Call::CreateClipper);
    DisplayOpen();
    DisplayClose();
    log = seam::ReleaseLog();
    EXPECT_EQ(Sorted(log), Sorted({"palette", "surface:back", "surface:primary", "device"}));
    EXPECT_EQ(log.back(), "device");
    EXPECT_EQ(seam::LiveObjects(), 0);

    gfx::ResetProcess();
    EXPECT_EQ(DisplayClose(), 1);
    EXPECT_TRUE(seam::ReleaseLog().empty());
}

}  // namespace
