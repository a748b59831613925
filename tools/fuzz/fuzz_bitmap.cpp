// libFuzzer target: arbitrary bytes as "playersprite.bmp", read and cut into
// both basket frames as start-up does, through the headless stand-in. An
// out-of-bounds access, leak, leaked file or huge allocation is a finding.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "graphics/display.h"
#include "platform/seam.h"

HWND mainWindow = nullptr;  // defined by the game; the fuzzer stands in for it

namespace {

std::string inputPath;
IDirectDrawSurface7* frames[2] = {nullptr, nullptr};

int LowestFreeFd() {
    const int fd = open("/dev/null", O_RDONLY);
    close(fd);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    seam::Reset();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "VornackleFuzz";
    RegisterClassA(&windowClass);
    // The stand-in takes only a window over the whole desktop, as the game makes.
    mainWindow = CreateWindowExA(0, "VornackleFuzz", "fuzz", WS_POPUP | WS_VISIBLE, 0, 0,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                 nullptr, nullptr, nullptr, nullptr);
    if (DisplayOpen() != 1) std::abort();
    for (IDirectDrawSurface7*& frame : frames) frame = MakeFrameSurface();
    // Memory-backed when there is such a folder: one file is written per input.
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    inputPath = std::string(folder) + "/fuzz_bitmap_" + std::to_string(getpid()) + ".bmp";
    std::atexit([] { unlink(inputPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Taken anew for each input: libFuzzer itself holds files open while it
    // merges corpora, which it had not yet opened at initialisation.
    const int lowestFreeFd = LowestFreeFd();
    std::FILE* out = std::fopen(inputPath.c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    OFSTRUCT scratch;
    const HFILE file = OpenFile(inputPath.c_str(), &scratch, OF_READ);
    if (file == HFILE_ERROR) std::abort();
    BitmapFile sheet = {};
    if (ReadBitmapFile(&sheet, file) == 1) {
        for (int cell : {0, 1, 2}) CopyFrameCell(&sheet, frames[cell > 0], cell);  // and one past
    }
    free(sheet.pixels);
    if (LowestFreeFd() != lowestFreeFd) std::abort();  // the reader left the file open
    return 0;
}
