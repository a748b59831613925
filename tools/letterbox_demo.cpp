// Hand check of presentation in a real window (not part of the test suite):
// shows a 640x480 picture of 1-pixel checks inside a red frame for a few
// seconds. Under Xvfb with a 16:9 screen the frame must sit centred between
// black bars, and the checks must stay two pure colours (nearest-neighbour).
// The desktop program scales sharp by default: run it with --scale=nearest.
//   xvfb-run -a -s "-screen 0 1280x720x24" ./letterbox_demo --scale=nearest & sleep 2;
//   import -window root shot.png
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/winapi.h"

static LRESULT CALLBACK DemoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DemoProc;
    windowClass.lpszClassName = "DEMO";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "DEMO", "demo", WS_POPUP | WS_VISIBLE, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                  nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) return 1;
    IDirectDraw7* device = nullptr;
    DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&device), IID_IDirectDraw7, nullptr);
    device->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
    device->SetDisplayMode(640, 480, 8, 0, 0);
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    desc.dwBackBufferCount = 1;
    IDirectDrawSurface7* primary = nullptr;
    device->CreateSurface(&desc, &primary, nullptr);
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    IDirectDrawSurface7* back = nullptr;
    primary->GetAttachedSurface(&caps, &back);
    PALETTEENTRY entries[256] = {};
    entries[1] = PALETTEENTRY{255, 255, 255, 0};
    entries[2] = PALETTEENTRY{255, 0, 0, 0};
    entries[3] = PALETTEENTRY{0, 0, 255, 0};
    IDirectDrawPalette* palette = nullptr;
    device->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette, nullptr);
    primary->SetPalette(palette);

    // The same picture in both buffers, so every flip shows it.
    for (int buffer = 0; buffer < 2; ++buffer) {
        DDSURFACEDESC2 lock;
        std::memset(&lock, 0, sizeof lock);
        lock.dwSize = sizeof lock;
        back->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr);
        for (int y = 0; y < 480; ++y) {
            BYTE* row = static_cast<BYTE*>(lock.lpSurface) + y * lock.lPitch;
            for (int x = 0; x < 640; ++x) {
                bool edge = x < 8 || y < 8 || x >= 632 || y >= 472;
                row[x] = edge ? 2 : static_cast<BYTE>(((x + y) & 1) != 0 ? 1 : 3);
            }
        }
        back->Unlock(nullptr);
        primary->Flip(nullptr, DDFLIP_WAIT);
    }
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < 4000) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return 0;
            DispatchMessageA(&msg);
        }
        primary->Flip(nullptr, DDFLIP_WAIT);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}
