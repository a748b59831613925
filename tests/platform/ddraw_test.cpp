// DirectDraw stand-in: busy surfaces, injected failures, reference counts,
// flips and presentation. (Fills and keyed copies with their clipping are in
// the graphics tests.)
#include <cstdlib>

#include "tests/platform/platform_test_support.h"

namespace {

class DirectDrawTest : public DisplayTest {
  protected:
    IDirectDrawSurface7* MakeSprite(int width, int height) {
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
        desc.dwWidth = width;
        desc.dwHeight = height;
        desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
        IDirectDrawSurface7* sprite = nullptr;
        EXPECT_EQ(DD_OK, device->CreateSurface(&desc, &sprite, nullptr));
        return sprite;
    }
};

TEST_F(DirectDrawTest, BusySurfacesAndInjectedFailuresAnswerTheirCodes) {
    DDSURFACEDESC2 lock{};
    lock.dwSize = sizeof lock;
    ASSERT_EQ(DD_OK, back->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr));
    EXPECT_EQ(seam::BackPixels(), lock.lpSurface);
    EXPECT_EQ(DDERR_SURFACEBUSY, back->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr));
    EXPECT_EQ(DDERR_SURFACEBUSY, Fill(nullptr, 1));
    EXPECT_EQ(DDERR_SURFACEBUSY, Flip());
    EXPECT_EQ(DD_OK, back->Unlock(nullptr));
    EXPECT_EQ(DDERR_NOTLOCKED, back->Unlock(nullptr));
    HDC dc = nullptr;
    ASSERT_EQ(DD_OK, back->GetDC(&dc));
    EXPECT_EQ(DDERR_SURFACEBUSY, Fill(nullptr, 1));
    SetBkMode(dc, TRANSPARENT);
    EXPECT_FALSE(TextOutA(dc, 0, 0, nullptr, 1));
    EXPECT_EQ(DD_OK, back->ReleaseDC(dc));

    auto* made = reinterpret_cast<IDirectDrawPalette*>(1);
    PALETTEENTRY entries[256] = {};
    seam::FailNext(seam::Call::CreatePalette);
    EXPECT_EQ(DDERR_OUTOFMEMORY,
              device->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &made, nullptr));
    EXPECT_EQ(nullptr, made);
    seam::FailNext(seam::Call::Blt, 2);
    EXPECT_EQ(DDERR_SURFACELOST, Fill(nullptr, 3) & Fill(nullptr, 3));  // twice
    seam::FailNext(seam::Call::Lock);
    EXPECT_EQ(DDERR_SURFACELOST, back->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr));
    seam::FailNext(seam::Call::GetDC);
    EXPECT_EQ(DDERR_CANTCREATEDC, back->GetDC(&dc));
    seam::FailNext(seam::Call::Flip);
    EXPECT_EQ(DDERR_SURFACELOST, Flip());
    EXPECT_EQ(0, seam::FlipCount());
    EXPECT_EQ(640 * 480, std::count(seam::BackPixels(), seam::BackPixels() + 640 * 480, 0));
    EXPECT_EQ(DD_OK, Fill(nullptr, 3));
    seam::FailUse(seam::Call::Blt, 2, true);  // from the second use on, for good
    EXPECT_EQ(DD_OK, Fill(nullptr, 3));
    EXPECT_EQ(DDERR_SURFACELOST, Fill(nullptr, 3) & Fill(nullptr, 3));
}

// What the stand-in does not support stops the program, saying what it got;
// the smallest surfaces are fine.
TEST_F(DirectDrawTest, UnsupportedUsesStopTheProgramSayingWhy) {
    EXPECT_NE(nullptr, MakeSprite(1, 1));
    DDSURFACEDESC2 bad{};
    bad.dwSize = 12;
    EXPECT_DEATH(back->Lock(nullptr, &bad, DDLOCK_WAIT, nullptr), "must be .*, got 12");
    EXPECT_DEATH(device->SetDisplayMode(640, 480, 8, 60, 0), "got 60 and 0x0");
    // A fill asked with a flag the stand-in does not know is not done as a
    // plain fill.
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    EXPECT_DEATH(back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | 0x1, &fx),
                 "got flags 0x401");
}

// Flip exchanges the pictures and shows the new one through the display
// palette, every column of it; a palette change alone recolours the same one.
TEST_F(DirectDrawTest, FlipExchangesThePicturesAndShowsThemThroughThePalette) {
    ASSERT_EQ(DD_OK, Fill(nullptr, 30, primary));
    ASSERT_EQ(DD_OK, Fill(nullptr, 30));
    EXPECT_EQ(DDERR_NOTFLIPPABLE, back->Flip(nullptr, DDFLIP_WAIT));
    PALETTEENTRY gold = {255, 215, 0, 0};
    for (std::uint32_t jewel : {0xFFC83764u, 0xFFFFD700u}) {  // entry 200, then gold
        RECT cell{0, 100, 11, 111};
        ASSERT_EQ(DD_OK, Fill(&cell, 200));
        ASSERT_EQ(DD_OK, Flip());
        EXPECT_EQ(30, seam::BackPixels()[0]);  // same interfaces, pictures changed places
        EXPECT_TRUE(seam::PresentedPixel(0, 110) == jewel &&
                    seam::PresentedPixel(10, 100) == jewel);
        EXPECT_EQ(0xFF1EE10Fu, seam::PresentedPixel(11, 100));  // entry 30 around it
        ASSERT_EQ(DD_OK, palette->SetEntries(0, 200, 1, &gold));
    }
}

TEST_F(DirectDrawTest, ReleaseCountsFollowDirectDraw) {
    // GetAttachedSurface added a reference to the back buffer; attaching holds palette and
    // clipper.
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(DD_OK, device->CreateClipper(0, &clipper, nullptr));
    ASSERT_EQ(DD_OK, back->SetClipper(clipper));
    IDirectDrawSurface7* sprite = MakeSprite(8, 8);
    EXPECT_EQ(1u, clipper->Release());
    EXPECT_EQ(1u, palette->Release());
    EXPECT_EQ(1u, back->Release());
    EXPECT_TRUE(seam::ReleaseLog().empty());
    // The primary takes back buffer, palette and clipper along; the sprite holds the
    // device.
    EXPECT_EQ(0u, primary->Release());
    EXPECT_EQ(1u, device->Release());
    EXPECT_EQ(2, seam::LiveObjects());
    EXPECT_EQ(0u, sprite->Release());
    const std::vector<std::string> order = {"clipper",         "palette",           "surface:back",
                                            "surface:primary", "surface:offscreen", "device"};
    EXPECT_EQ(order, seam::ReleaseLog());
    EXPECT_EQ(0, seam::LiveObjects());
    EXPECT_DEATH(Flip(), "Flip: called on a surface:primary that has been released");
}

}  // namespace
