// Shared helpers of the stand-in's tests: each starts from a reset seam.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/seam.h"
#include "platform/winapi.h"

// Messages that reached TestWindowProc, in order.
inline std::vector<UINT> windowProcMessages;

inline LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    windowProcMessages.push_back(message);
    if (message != WM_DESTROY) return DefWindowProcA(window, message, wParam, lParam);
    PostQuitMessage(7);
    return 0;
}

// Whether a poll sees the key down (exactly the top bit, as the game reads it).
inline bool Held(int vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

inline HWND OpenTestWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.lpszClassName = "TESTCLASS";
    if (RegisterClassA(&windowClass) == 0) return nullptr;
    return CreateWindowExA(0, "TESTCLASS", "test", WS_POPUP | WS_VISIBLE, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                           nullptr, nullptr, nullptr);
}

// The backend's command-line options for one test, back to the defaults
// (full screen, sharp scaling) when it ends.
class BackendOptions {
  public:
    explicit BackendOptions(std::vector<std::string> options) { Take(options); }
    ~BackendOptions() { Take({"--fullscreen", "--scale=sharp"}); }

  private:
    static void Take(std::vector<std::string> options) {
        std::vector<char*> argv;
        for (std::string& option : options) argv.push_back(option.data());
        const char* error = nullptr;
        ASSERT_TRUE(backend::TakeOptions(int(argv.size()), argv.data(), &error)) << error;
    }
};

// The real clock's readings, in microseconds, moving only when the program
// sleeps or waits for input; each sleep and wait noted.
struct ScriptedClock {
    std::uint64_t now = 0;
    std::vector<std::uint64_t> sleeps;  // where the program slept until
    std::vector<int> eventWaits;        // how long it waited for input, at most
    std::function<void()> duringEventWait;

    void Install() {
        seam::UseRealClock(true);
        seam::UseScriptedClock([this] { return now; },
                               [this](std::uint64_t until) {
                                   sleeps.push_back(until);
                                   now = std::max(now, until);
                               },
                               [this](int milliseconds) {
                                   eventWaits.push_back(milliseconds);
                                   if (duringEventWait) duringEventWait();
                                   now += milliseconds * 1000ull;
                               });
    }
};

class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        seam::Reset();
        windowProcMessages.clear();
    }
};

// The display as the game opens it: 640x480x8, a flip chain with one back
// buffer, and a palette whose entry i is (i, 255 - i, i / 2).
class DisplayTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        ASSERT_NE(nullptr, window = OpenTestWindow());
        ASSERT_EQ(DD_OK, DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&device),
                                            IID_IDirectDraw7, nullptr));
        ASSERT_EQ(DD_OK, device->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE));
        ASSERT_EQ(DD_OK, device->SetDisplayMode(640, 480, 8, 0, 0));
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
        desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
        desc.dwBackBufferCount = 1;
        ASSERT_EQ(DD_OK, device->CreateSurface(&desc, &primary, nullptr));
        DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
        ASSERT_EQ(DD_OK, primary->GetAttachedSurface(&caps, &back));
        PALETTEENTRY entries[256];
        for (int i = 0; i < 256; ++i) entries[i] = {BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
        ASSERT_EQ(DD_OK, device->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette,
                                               nullptr));
        ASSERT_EQ(DD_OK, primary->SetPalette(palette));
    }

    HRESULT Flip() { return primary->Flip(nullptr, DDFLIP_WAIT); }
    HRESULT Fill(RECT* rect, BYTE colour, IDirectDrawSurface7* surface = nullptr) {
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwFillColor = colour;
        return (surface ? surface : back)
            ->Blt(rect, nullptr, nullptr, DDBLT_WAIT | DDBLT_COLORFILL | DDBLT_ASYNC, &fx);
    }

    HWND window = nullptr;
    IDirectDraw7* device = nullptr;
    IDirectDrawSurface7* primary = nullptr;
    IDirectDrawSurface7* back = nullptr;
    IDirectDrawPalette* palette = nullptr;
};
