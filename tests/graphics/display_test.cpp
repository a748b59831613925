// The display device and the drawing primitives as they reach the surfaces:
// what each failed step of DisplayOpen leaves and DisplayClose gives back,
// fills, keyed frames, labels, the flip's retries, the way back after a lost
// display. (The default ramps are in the start-up test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/graphics/graphics_test_support.h"

namespace {

using V = std::vector<int>;

// Each failing step stops the opening and keeps what was made before it (a
// failed clip list still opens, unclipped); DisplayClose then gives back
// exactly what is present, device last. Letters: device, primary, back,
// palette (k), clipper.
TEST(DisplayOpen, FailedStepKeepsWhatWasMadeAndCloseReleasesIt) {
    using seam::Call;
    const struct {
        Call call;
        int opened;
        std::string held;
    } cases[] = {{Call::DirectDrawCreateEx, 0, ""},
                 {Call::SetCooperativeLevel, 0, "d"},
                 {Call::SetDisplayMode, 0, "d"},
                 {Call::CreateSurface, 0, "d"},
                 {Call::GetAttachedSurface, 0, "dp"},
                 {Call::CreatePalette, 0, "dpb"},
                 {Call::SetPalette, 0, "dpbk"},
                 {Call::CreateClipper, 1, "dpbk"},
                 {Call::SetClipList, 1, "dpbk"},
                 {Call::SetClipper, 1, "dpbk"},
                 {Call::Count, 1, "dpbkc"}};
    // The back buffer is part of the flip chain: it goes with the primary.
    const std::pair<char, const char*> kinds[] = {{'c', "clipper"},
                                                  {'k', "palette"},
                                                  {'p', "surface:back"},
                                                  {'p', "surface:primary"},
                                                  {'d', "device"}};
    auto held = [] {
        return std::string(display.device ? "d" : "") + (display.primary ? "p" : "") +
               (display.back ? "b" : "") + (display.palette ? "k" : "") +
               (display.clipper ? "c" : "");
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.call));
        gfx::ResetProcess();
        if (c.call != Call::Count) seam::FailNext(c.call);
        EXPECT_EQ(DisplayOpen(), c.opened);
        EXPECT_EQ(held(), c.held);
        // Only a clipper that could not be attached is given back while opening.
        const size_t dropped = c.call == Call::SetClipList || c.call == Call::SetClipper;
        EXPECT_EQ(seam::ReleaseLog(), std::vector<std::string>(dropped, "clipper"));
        EXPECT_EQ(DisplayClose(), 1);
        std::vector<std::string> want, log = seam::ReleaseLog();
        log.erase(log.begin(), log.begin() + static_cast<long>(dropped));
        for (const auto& kind : kinds) {
            if (c.held.find(kind.first) != std::string::npos) want.push_back(kind.second);
        }
        EXPECT_TRUE(log.empty() || log.back() == "device");
        std::sort(log.begin(), log.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(log, want);
        EXPECT_EQ(held(), "");
        EXPECT_EQ(seam::LiveObjects(), 0);
    }
}

// Fills: the corners are inclusive and the clip list trims at column 639 and
// row 479. Frames: index-0 pixels leave the back alone, and the frame's column
// 71 and row 79 are never shown, also where the basket reaches the right edge.
TEST(Draw, FillsCoverTheInclusiveCornersAndFramesTheirKeyedFirst71By79) {
    const int fills[][5] = {{5, 5, 5, 5, 1},
                            {100, 200, 110, 210, 121},
                            {0, 0, 639, 479, 640 * 480},
                            {300, 470, 310, 480, 110},
                            {630, 5, 640, 15, 110}};
    gfx::OpenDisplay();
    for (const auto& c : fills) {
        FillRect(0, 0, 639, 479, 0);
        EXPECT_EQ(FillRect(c[0], c[1], c[2], c[3], 30), 1);
        EXPECT_EQ(gfx::CountBack(30), c[4]) << c[0] << ", " << c[1];
        EXPECT_EQ(gfx::BoundsOfBack(30),
                  V({c[0], c[1], std::min(c[2] + 1, 640), std::min(c[3] + 1, 480)}));
    }
    IDirectDrawSurface7* frame = gfx::CutFrames()[0];
    for (const auto& at : {std::pair<int, int>{200, 100}, {570, 352}}) {
        FillRect(0, 0, 639, 479, 5);
        EXPECT_EQ(BlitFrame(frame, at.first, at.second), 1);
        int wrong = 0;
        for (int i = 0; i < 640 * 480; ++i) {
            const int r = i / 640 - at.second, c = i % 640 - at.first;
            const uint8_t source =
                r >= 0 && r < 79 && c >= 0 && c < 71 ? gfx::SheetValue(r + 1, c + 1) : 0;
            wrong += seam::BackPixels()[i] != (source != 0 ? source : 5);
        }
        EXPECT_EQ(wrong, 0) << "at " << at.first << ", " << at.second;
    }
}

// The colour is PaletteTable's (not the display palette's), the background
// transparent; without a device context nothing is drawn, and since each
// context is given back, later labels and fills draw again.
TEST(DrawLabel, InPaletteTableColourOverATransparentBackground) {
    gfx::OpenDisplay();
    PaletteTable[127] = PALETTEENTRY{255, 206, 72, PC_NOCOLLAPSE};
    FillRect(20, 20, 120, 40, 50);
    EXPECT_EQ(DrawLabel("JEWELS 42", 127, 24, 22), 1);
    const BYTE ink = seam::TextsSinceFlip().at(0).index;
    EXPECT_GT(gfx::CountBack(ink) * gfx::CountBack(50), 0) << "glyphs, and the fill between them";
    EXPECT_EQ(gfx::CountBack(ink) + gfx::CountBack(50), 101 * 21) << "nothing else changed";
    seam::FailNext(seam::Call::GetDC);
    EXPECT_EQ(DrawLabel("LOST", 127, 300, 300), 0);
    EXPECT_EQ(DrawLabel("FIRST", 127, 300, 300), 1);
    FillRect(0, 100, 9, 109, 20);
    EXPECT_EQ(gfx::CountBack(20), 100);
    const std::vector<seam::TextDraw> texts = seam::TextsSinceFlip();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text + "," + texts[1].text, "JEWELS 42,FIRST");
    EXPECT_EQ(V({texts[0].x, texts[0].y}), V({24, 22}));
    EXPECT_EQ(texts[0].colour, 0x0048CEFFu);  // red in the low byte
}

// Any non-zero result, positive too, means "not yet shown"; a flip that never
// succeeds is given up rather than hanging the game.
TEST(PresentFrame, RetriesTheFlipUntilItReturnsZeroWithinABound) {
    const struct {
        HRESULT result;
        int failures;
        bool shown;
    } cases[] = {{1, 3, true}, {DDERR_GENERIC, 3, true}, {DDERR_GENERIC, 1000000, false}};
    gfx::OpenDisplay();
    for (int i = 0; i < 3; ++i) {
        FillRect(10, 10, 19, 19, 30 + 10 * i);
        seam::FailNext(seam::Call::Flip, cases[i].failures, cases[i].result);
        const int before = seam::FlipCount();
        EXPECT_EQ(PresentFrame(), 1);
        EXPECT_EQ(seam::FlipCount(), before + cases[i].shown) << i;
        EXPECT_EQ(seam::PrimaryPixels()[15 * 640 + 15], cases[i].shown ? 30 + 10 * i : 40) << i;
        EXPECT_EQ(seam::PrimaryPixels()[9 * 640 + 9], 0) << i;
    }
}

// A display that never opened, or failed half way: nothing calls through a
// missing object.
TEST(Primitives, DrawNothingWithoutADisplay) {
    for (bool halfOpen : {false, true}) {
        gfx::ResetProcess();
        if (halfOpen) seam::FailNext(seam::Call::CreateSurface);
        EXPECT_EQ(halfOpen ? DisplayOpen() : 0, 0);
        EXPECT_EQ(FillRect(0, 0, 639, 479, 10) + PresentFrame(), 2);
        EXPECT_EQ(DrawLabel("TITLE", 127, 10, 10) + BlitFrame(nullptr, 0, 0), 0);
        EXPECT_EQ(seam::FlipCount(), 0);
        EXPECT_EQ(RestoreDisplay(), halfOpen ? 1 : 0);
        EXPECT_TRUE(halfOpen || MakeFrameSurface() == nullptr);
    }
    gfx::OpenDisplay();  // and no frame to copy: the back stays black
    EXPECT_EQ(BlitFrame(nullptr, 100, 100), 0);
    EXPECT_EQ(gfx::CountBack(0), 640 * 480);
    seam::FailNextAlloc();  // no block for a clip list: no clipper either
    EXPECT_EQ(AttachClipList(RECT{0, 0, 640, 480}), nullptr);
    EXPECT_EQ(seam::ReleaseLog(), std::vector<std::string>{"clipper"});
}

std::vector<BYTE> ShowBaskets(const std::vector<IDirectDrawSurface7*>& frames) {
    FillRect(0, 0, 639, 479, 0);
    BlitFrame(frames[0], 400, 320);
    BlitFrame(frames[1], 270, 304);
    PresentFrame();
    return std::vector<BYTE>(seam::PrimaryPixels(), seam::PrimaryPixels() + 640 * 480);
}

// Alt+Tab: frames are dropped while the system refuses the surfaces back,
// then the same picture and palette return although the sheet is long freed.
// A recut surface comes back as last cut; a new display forgets old frames.
TEST(LostDisplay, TheSamePictureComesBackAfterFramesDroppedWhileAway) {
    gfx::OpenDisplay();
    gfx::CutFrames();  // frames of a display that is then replaced
    gfx::OpenDisplay();
    PaletteTable[127] = PALETTEENTRY{200, 100, 50, PC_NOCOLLAPSE};
    display.palette->SetEntries(0, 0, 256, PaletteTable);
    const std::vector<IDirectDrawSurface7*> frames = gfx::CutFrames();
    const std::vector<BYTE> before = ShowBaskets(frames);
    const int flips = seam::FlipCount();
    seam::LoseSurfaces();
    seam::FailNext(seam::Call::RestoreAllSurfaces, 2);
    for (int frame = 0; frame < 3; ++frame) ShowBaskets(frames);
    EXPECT_EQ(seam::FlipCount(), flips) << "nothing is shown while the display is away";
    EXPECT_TRUE(ShowBaskets(frames) == before) << "both baskets as they were before the loss";
    EXPECT_EQ(seam::FlipCount(), flips + 1);
    EXPECT_EQ(seam::DisplayPalette(127).peGreen, 100);

    BitmapFile blank = {};  // frame 1 recut from an empty sheet
    gfx::BmpLayout empty;
    empty.width = 148, empty.height = 81, empty.rows.assign(81, std::vector<uint8_t>(148, 0));
    ASSERT_EQ(gfx::Read(&blank, gfx::MakeBmp(empty)), 1);
    CopyFrameCell(&blank, frames[1], 1);
    free(blank.pixels);
    seam::LoseSurfaces();
    PresentFrame();
    std::vector<BYTE> want = before;
    for (int y = 304; y < 304 + 79; ++y) std::fill_n(&want[y * 640 + 270], 71, 0);
    EXPECT_TRUE(ShowBaskets(frames) == want) << "the recut frame 1, and frame 0 as first cut";
}

}  // namespace
