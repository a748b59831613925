// The stand-in tests' shared fixture and display set-up.
#include "tests/platform/platform_test_support.h"

#include <cstdlib>
#include <cstring>

std::vector<UINT> windowProcMessages;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    windowProcMessages.push_back(message);
    if (message == WM_DESTROY) {
        PostQuitMessage(7);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PlatformTest::SetUp() {
    seam::Reset();
    windowProcMessages.clear();
}

HWND OpenTestWindow() {
    WNDCLASSA windowClass{};
    windowClass.style = CS_DBLCLKS | CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = "TESTCLASS";
    if (RegisterClassA(&windowClass) == 0) return nullptr;
    return CreateWindowExA(0, "TESTCLASS", "test", WS_POPUP | WS_VISIBLE, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                           nullptr, nullptr, nullptr);
}

TestDisplay OpenTestDisplay(HWND window) {
    TestDisplay d;
    EXPECT_EQ(DD_OK, DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&d.device),
                                        IID_IDirectDraw7, nullptr));
    EXPECT_EQ(DD_OK, d.device->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT |
                                                               DDSCL_EXCLUSIVE | DDSCL_ALLOWMODEX));
    EXPECT_EQ(DD_OK, d.device->SetDisplayMode(640, 480, 8, 0, 0));
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    desc.dwBackBufferCount = 1;
    EXPECT_EQ(DD_OK, d.device->CreateSurface(&desc, &d.primary, nullptr));
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    EXPECT_EQ(DD_OK, d.primary->GetAttachedSurface(&caps, &d.back));
    PALETTEENTRY entries[256];
    for (int i = 0; i < 256; ++i) {
        entries[i] = PALETTEENTRY{static_cast<BYTE>(i), static_cast<BYTE>(255 - i),
                                  static_cast<BYTE>(i / 2), PC_NOCOLLAPSE};
    }
    EXPECT_EQ(DD_OK, d.device->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &d.palette,
                                             nullptr));
    EXPECT_EQ(DD_OK, d.primary->SetPalette(d.palette));
    return d;
}

IDirectDrawClipper* AttachClipper(IDirectDraw7* device, IDirectDrawSurface7* surface,
                                  const std::vector<RECT>& rects) {
    IDirectDrawClipper* clipper = nullptr;
    EXPECT_EQ(DD_OK, device->CreateClipper(0, &clipper, nullptr));
    size_t bytes = sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT);
    auto* list = static_cast<RGNDATA*>(std::calloc(1, bytes));
    list->rdh.dwSize = sizeof(RGNDATAHEADER);
    list->rdh.iType = RDH_RECTANGLES;
    list->rdh.nCount = static_cast<DWORD>(rects.size());
    list->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
    if (!rects.empty()) list->rdh.rcBound = rects[0];
    std::memcpy(list->Buffer, rects.data(), rects.size() * sizeof(RECT));
    EXPECT_EQ(DD_OK, clipper->SetClipList(list, 0));
    std::free(list);  // the clipper keeps its own copy
    EXPECT_EQ(DD_OK, surface->SetClipper(clipper));
    return clipper;
}

HRESULT Fill(IDirectDrawSurface7* surface, RECT* rect, BYTE colour) {
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof fx);
    fx.dwSize = sizeof fx;
    fx.dwFillColor = colour;
    return surface->Blt(rect, nullptr, nullptr, DDBLT_WAIT | DDBLT_COLORFILL | DDBLT_ASYNC, &fx);
}

BYTE PixelAt(IDirectDrawSurface7* surface, int x, int y) {
    int width = 0, height = 0, pitch = 0;
    const BYTE* pixels = seam::SurfacePixels(surface, &width, &height, &pitch);
    return pixels[y * pitch + x];
}
