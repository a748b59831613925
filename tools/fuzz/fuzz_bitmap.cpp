// libFuzzer target: arbitrary bytes as "playersprite.bmp", read and cut into
// both basket frames exactly as start-up does, through the headless stand-in.
// Any out-of-bounds access, leak, leaked file or huge allocation is a finding.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "graphics/display.h"
#include "platform/seam.h"

// Defined by the game; the fuzzer stands in for it.
HWND mainWindow = nullptr;

namespace {

std::string inputPath;
IDirectDrawSurface7* frames[2] = {nullptr, nullptr};
int lowestFreeFd = -1;

LRESULT CALLBACK FuzzWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = FuzzWindowProc;
    windowClass.lpszClassName = "VornackleFuzz";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "VornackleFuzz", "fuzz", WS_POPUP | WS_VISIBLE, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                           nullptr, nullptr, nullptr);
}

int LowestFreeFd() {
    const int fd = open("/dev/null", O_RDONLY);
    close(fd);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    seam::Reset();
    mainWindow = MakeWindow();
    if (DisplayOpen() != 1) {
        std::fprintf(stderr, "fuzz_bitmap: the display did not open\n");
        std::abort();
    }
    for (IDirectDrawSurface7*& frame : frames) frame = MakeFrameSurface();
    // Memory-backed when there is such a folder: one file is written per input.
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    inputPath = std::string(folder) + "/fuzz_bitmap_" + std::to_string(getpid()) + ".bmp";
    std::atexit([] { unlink(inputPath.c_str()); });
    lowestFreeFd = LowestFreeFd();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* out = std::fopen(inputPath.c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size > 0) std::fwrite(data, 1, size, out);
    std::fclose(out);

    OFSTRUCT scratch;
    const HFILE file = OpenFile(inputPath.c_str(), &scratch, OF_READ);
    if (file == HFILE_ERROR) std::abort();
    BitmapFile sheet = {};
    if (ReadBitmapFile(&sheet, file) == 1) {
        // Cells 0 and 1 as start-up cuts them, and one past them.
        CopyFrameCell(&sheet, frames[0], 0);
        CopyFrameCell(&sheet, frames[1], 1);
        CopyFrameCell(&sheet, frames[1], 2);
    }
    free(sheet.pixels);
    if (LowestFreeFd() != lowestFreeFd) {
        std::fprintf(stderr, "fuzz_bitmap: the reader left the file open\n");
        std::abort();
    }
    return 0;
}
