// DirectDraw stand-in: fills and keyed copies with their clipping, flips and
// presentation, reference counts, locks and injected failures.
#include <cstring>

#include "tests/platform/platform_test_support.h"

namespace {

class DirectDrawTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        window = OpenTestWindow();
        ASSERT_NE(nullptr, window);
        d = OpenTestDisplay(window);
        ASSERT_NE(nullptr, d.back);
    }

    // A keyed off-screen surface whose pixel (x, y) is 1 + (x + 3y) % 250,
    // except a transparent (index 0) diagonal.
    IDirectDrawSurface7* MakeSprite(int width, int height) {
        DDSURFACEDESC2 desc;
        std::memset(&desc, 0, sizeof desc);
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
        desc.dwWidth = width;
        desc.dwHeight = height;
        desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
        IDirectDrawSurface7* sprite = nullptr;
        EXPECT_EQ(DD_OK, d.device->CreateSurface(&desc, &sprite, nullptr));
        DDCOLORKEY key{0, 0};
        EXPECT_EQ(DD_OK, sprite->SetColorKey(DDCKEY_SRCBLT, &key));
        DDSURFACEDESC2 lock;
        std::memset(&lock, 0, sizeof lock);
        lock.dwSize = sizeof lock;
        EXPECT_EQ(DD_OK, sprite->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr));
        EXPECT_EQ(static_cast<DWORD>(width), lock.dwWidth);
        EXPECT_EQ(static_cast<DWORD>(height), lock.dwHeight);
        EXPECT_GE(lock.lPitch, width);
        for (int y = 0; y < height; ++y) {
            BYTE* row = static_cast<BYTE*>(lock.lpSurface) + y * lock.lPitch;
            for (int x = 0; x < width; ++x) row[x] = SpritePixel(x, y);
        }
        EXPECT_EQ(DD_OK, sprite->Unlock(nullptr));
        return sprite;
    }
    static BYTE SpritePixel(int x, int y) {
        return x == y ? 0 : static_cast<BYTE>(1 + (x + 3 * y) % 250);
    }

    HRESULT KeyedCopy(IDirectDrawSurface7* sprite, RECT dest, RECT source) {
        return d.back->Blt(&dest, sprite, &source, DDBLT_WAIT | DDBLT_KEYSRC, nullptr);
    }

    HWND window = nullptr;
    TestDisplay d;
};

TEST_F(DirectDrawTest, FillCoversTheRectangleAndTheWholeSurfaceWithoutOne) {
    EXPECT_EQ(DD_OK, Fill(d.back, nullptr, 9));
    RECT square{100, 200, 111, 211};
    EXPECT_EQ(DD_OK, Fill(d.back, &square, 10));
    int filled = 0, nine = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            BYTE p = PixelAt(d.back, x, y);
            bool inside = x >= 100 && x < 111 && y >= 200 && y < 211;
            EXPECT_EQ(inside ? 10 : 9, p) << x << "," << y;
            filled += p == 10;
            nine += p == 9;
            if (HasFailure()) return;
        }
    }
    EXPECT_EQ(121, filled);
    EXPECT_EQ(640 * 480 - 121, nine);
}

TEST_F(DirectDrawTest, FillIsClippedToTheClipListAndTheSurface) {
    // Two clip rectangles: the fill lands only where the rectangle meets them.
    AttachClipper(d.device, d.back, {RECT{0, 0, 50, 50}, RECT{60, 0, 640, 480}});
    RECT wide{40, 40, 700, 520};  // past the right and bottom edges too
    EXPECT_EQ(DD_OK, Fill(d.back, &wide, 5));
    EXPECT_EQ(5, PixelAt(d.back, 40, 40));
    EXPECT_EQ(5, PixelAt(d.back, 49, 49));
    EXPECT_EQ(0, PixelAt(d.back, 49, 50));  // below the first clip rectangle
    EXPECT_EQ(0, PixelAt(d.back, 55, 45));  // between the two
    EXPECT_EQ(5, PixelAt(d.back, 60, 479));
    EXPECT_EQ(5, PixelAt(d.back, 639, 479));
    EXPECT_EQ(0, PixelAt(d.back, 39, 100));

    // A clipper without a list refuses to draw, as on the system.
    IDirectDrawClipper* empty = nullptr;
    ASSERT_EQ(DD_OK, d.device->CreateClipper(0, &empty, nullptr));
    ASSERT_EQ(DD_OK, d.back->SetClipper(empty));
    EXPECT_EQ(DDERR_NOCLIPLIST, Fill(d.back, nullptr, 1));
}

TEST_F(DirectDrawTest, KeyedCopyIsIndexExactAndSkipsTheKey) {
    IDirectDrawSurface7* sprite = MakeSprite(72, 80);
    EXPECT_EQ(DD_OK, Fill(d.back, nullptr, 255));
    EXPECT_EQ(DD_OK, KeyedCopy(sprite, RECT{300, 100, 371, 179}, RECT{0, 0, 71, 79}));
    for (int y = 0; y < 79; ++y) {
        for (int x = 0; x < 71; ++x) {
            BYTE expected = x == y ? 255 : SpritePixel(x, y);
            ASSERT_EQ(expected, PixelAt(d.back, 300 + x, 100 + y)) << x << "," << y;
        }
    }
    // Column 71 and row 79 of the sprite were outside the source rectangle.
    EXPECT_EQ(255, PixelAt(d.back, 371, 150));
    EXPECT_EQ(255, PixelAt(d.back, 320, 179));
}

TEST_F(DirectDrawTest, KeyedCopyReachingPastTheRightAndBottomEdgesIsTrimmed) {
    AttachClipper(d.device, d.back, {RECT{0, 0, 640, 480}});
    IDirectDrawSurface7* sprite = MakeSprite(72, 80);
    // One pixel past the right edge (left 570 + 71 = 641)...
    EXPECT_EQ(DD_OK, KeyedCopy(sprite, RECT{570, 10, 641, 89}, RECT{0, 0, 71, 79}));
    for (int x = 0; x < 70; ++x) ASSERT_EQ(SpritePixel(x, 5), PixelAt(d.back, 570 + x, 15));
    // ...and one past the bottom (top 402 + 79 = 481).
    EXPECT_EQ(DD_OK, KeyedCopy(sprite, RECT{10, 402, 81, 481}, RECT{0, 0, 71, 79}));
    for (int y = 0; y < 78; ++y) ASSERT_EQ(SpritePixel(40, y), PixelAt(d.back, 50, 402 + y));

    // Without a clipper the copy is still held to the surface, and a copy
    // that starts off the surface shows its right part at the left edge.
    ASSERT_EQ(DD_OK, d.back->SetClipper(nullptr));
    EXPECT_EQ(DD_OK, KeyedCopy(sprite, RECT{-10, -5, 61, 74}, RECT{0, 0, 71, 79}));
    EXPECT_EQ(SpritePixel(10, 5), PixelAt(d.back, 0, 0));
    EXPECT_EQ(SpritePixel(30, 20), PixelAt(d.back, 20, 15));
}

TEST_F(DirectDrawTest, KeyedCopyNeedsTheSourceKeyAndRefusesBadRectangles) {
    IDirectDrawSurface7* sprite = MakeSprite(72, 80);
    EXPECT_EQ(DDERR_INVALIDRECT, KeyedCopy(sprite, RECT{0, 0, 72, 81}, RECT{0, 0, 72, 81}));
    ASSERT_EQ(DD_OK, sprite->SetColorKey(DDCKEY_SRCBLT, nullptr));  // key removed
    EXPECT_EQ(DDERR_INVALIDPARAMS, KeyedCopy(sprite, RECT{0, 0, 71, 79}, RECT{0, 0, 71, 79}));
    EXPECT_EQ(0, PixelAt(d.back, 5, 6));
}

TEST_F(DirectDrawTest, StretchingAndUnknownFlagsAbortWithTheCallsName) {
    IDirectDrawSurface7* sprite = MakeSprite(72, 80);
    RECT dest{0, 0, 144, 160}, source{0, 0, 72, 80};
    EXPECT_DEATH(d.back->Blt(&dest, sprite, &source, DDBLT_WAIT | DDBLT_KEYSRC, nullptr),
                 "Blt: stretching is not supported");
    EXPECT_DEATH(d.back->Blt(&source, sprite, &source, DDBLT_WAIT, nullptr), "Blt: only");
    EXPECT_DEATH(d.device->SetDisplayMode(800, 600, 16, 0, 0),
                 "SetDisplayMode: only 640x480x8 is supported, got 800x600x16");
}

TEST_F(DirectDrawTest, FlipExchangesThePicturesAndPresentsThroughThePalette) {
    EXPECT_EQ(DD_OK, Fill(d.back, nullptr, 20));
    EXPECT_EQ(DD_OK, Fill(d.primary, nullptr, 30));
    EXPECT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    EXPECT_EQ(1, seam::FlipCount());
    // The interfaces stay; their pictures changed places.
    EXPECT_EQ(20, seam::PrimaryPixels()[0]);
    EXPECT_EQ(30, seam::BackPixels()[0]);
    // Entry 20 of the test palette is (20, 235, 10).
    EXPECT_EQ(0xFF14EB0Au, seam::PresentedPixel(0, 0));
    EXPECT_EQ(0xFF14EB0Au, seam::PresentedPixel(639, 479));

    // New palette entries show at the next present.
    PALETTEENTRY grey{99, 98, 97, 0};
    ASSERT_EQ(DD_OK, d.palette->SetEntries(0, 20, 1, &grey));
    EXPECT_EQ(DD_OK, Fill(d.back, nullptr, 20));
    EXPECT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    EXPECT_EQ(0xFF636261u, seam::PresentedPixel(320, 240));

    // Same picture, same checksum; a changed pixel changes it.
    const std::uint32_t first = seam::PresentedChecksum();
    EXPECT_EQ(DD_OK, Fill(d.back, nullptr, 20));
    EXPECT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    EXPECT_EQ(first, seam::PresentedChecksum());
    RECT dot{7, 7, 8, 8};
    EXPECT_EQ(DD_OK, Fill(d.back, &dot, 21));
    EXPECT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    EXPECT_NE(first, seam::PresentedChecksum());

    // Only the primary flips.
    EXPECT_EQ(DDERR_NOTFLIPPABLE, d.back->Flip(nullptr, DDFLIP_WAIT));
}

TEST_F(DirectDrawTest, FrameHookRunsAfterEachPresentedPicture) {
    int frames = 0;
    seam::SetFrameHook([&] {
        ++frames;
        EXPECT_EQ(frames, seam::FlipCount());
    });
    for (int i = 0; i < 3; ++i) EXPECT_EQ(DD_OK, d.primary->Flip(nullptr, DDFLIP_WAIT));
    seam::FailNext(seam::Call::Flip);
    EXPECT_EQ(DDERR_SURFACELOST, d.primary->Flip(nullptr, DDFLIP_WAIT));
    EXPECT_EQ(3, frames);
}

TEST_F(DirectDrawTest, LockedOrDrawnOnSurfacesAreBusy) {
    DDSURFACEDESC2 lock;
    std::memset(&lock, 0, sizeof lock);
    lock.dwSize = sizeof lock;
    ASSERT_EQ(DD_OK, d.back->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr));
    EXPECT_EQ(640, lock.lPitch);
    EXPECT_EQ(seam::BackPixels(), lock.lpSurface);
    EXPECT_EQ(DDERR_SURFACEBUSY, d.back->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr));
    EXPECT_EQ(DDERR_SURFACEBUSY, Fill(d.back, nullptr, 1));
    EXPECT_EQ(DDERR_SURFACEBUSY, d.primary->Flip(nullptr, DDFLIP_WAIT));
    EXPECT_EQ(DD_OK, d.back->Unlock(nullptr));
    EXPECT_EQ(DDERR_NOTLOCKED, d.back->Unlock(nullptr));

    HDC dc = nullptr;
    ASSERT_EQ(DD_OK, d.back->GetDC(&dc));
    EXPECT_EQ(DDERR_DCALREADYCREATED, d.back->GetDC(&dc));
    EXPECT_EQ(DDERR_SURFACEBUSY, Fill(d.back, nullptr, 1));
    EXPECT_EQ(DD_OK, d.back->ReleaseDC(dc));
    EXPECT_EQ(DD_OK, Fill(d.back, nullptr, 1));
}

TEST_F(DirectDrawTest, InjectedFailuresReturnTheirCodesAndLeaveNoObject) {
    IDirectDrawPalette* palette = reinterpret_cast<IDirectDrawPalette*>(1);
    PALETTEENTRY entries[256] = {};
    seam::FailNext(seam::Call::CreatePalette);
    EXPECT_EQ(DDERR_OUTOFMEMORY,
              d.device->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette, nullptr));
    EXPECT_EQ(nullptr, palette);

    seam::FailNext(seam::Call::Blt, 2, DDERR_SURFACEBUSY);
    EXPECT_EQ(DDERR_SURFACEBUSY, Fill(d.back, nullptr, 3));
    EXPECT_EQ(DDERR_SURFACEBUSY, Fill(d.back, nullptr, 3));
    EXPECT_EQ(0, seam::BackPixels()[0]);
    EXPECT_EQ(DD_OK, Fill(d.back, nullptr, 3));

    seam::FailNext(seam::Call::Lock);
    DDSURFACEDESC2 lock;
    std::memset(&lock, 0, sizeof lock);
    lock.dwSize = sizeof lock;
    EXPECT_EQ(DDERR_SURFACELOST, d.back->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr));
    EXPECT_EQ(nullptr, lock.lpSurface);

    seam::FailNext(seam::Call::GetDC);
    HDC dc = nullptr;
    EXPECT_EQ(DDERR_CANTCREATEDC, d.back->GetDC(&dc));
    EXPECT_TRUE(FAILED(DDERR_CANTCREATEDC));
}

TEST_F(DirectDrawTest, ReleaseCountsFollowDirectDraw) {
    // GetAttachedSurface added a reference to the back buffer; attaching
    // holds the palette and the clipper.
    IDirectDrawClipper* clipper = AttachClipper(d.device, d.back, {RECT{0, 0, 640, 480}});
    IDirectDrawSurface7* sprite = MakeSprite(8, 8);
    EXPECT_EQ(1u, clipper->Release());
    EXPECT_EQ(1u, d.palette->Release());
    EXPECT_EQ(1u, d.back->Release());
    EXPECT_TRUE(seam::ReleaseLog().empty());
    // The primary takes its back buffer, palette and clipper with it.
    EXPECT_EQ(0u, d.primary->Release());
    const std::vector<std::string> chain = {"clipper", "palette", "surface:back",
                                            "surface:primary"};
    EXPECT_EQ(chain, seam::ReleaseLog());
    // The sprite still holds the device.
    EXPECT_EQ(1u, d.device->Release());
    EXPECT_EQ(2, seam::LiveObjects());
    EXPECT_EQ(0u, sprite->Release());
    const std::vector<std::string> all = {"clipper",         "palette",           "surface:back",
                                          "surface:primary", "surface:offscreen", "device"};
    EXPECT_EQ(all, seam::ReleaseLog());
    EXPECT_EQ(0, seam::LiveObjects());
    // A call through a released object is refused loudly, not undefined.
    EXPECT_DEATH(d.back->Flip(nullptr, DDFLIP_WAIT),
                 "Flip: called on a surface:back that has been released");
}

}  // namespace
