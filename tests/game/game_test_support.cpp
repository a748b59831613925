// Reset, sprite-sheet writer and the recorded WinMain run for the game tests.
#include "tests/game/game_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/shell.h"

namespace gametest {

void ResetGame() {
    free(gameData.spriteSheet.pixels);  // kept when start-up stopped before cutting frames
    seam::Reset();
    // The sheet is looked for in the working directory only, never next to
    // the test program.
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr) abort();
    seam::SetProgramDirectory(folder);
    gameData = kGameDataStart;
    display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
    memset(PaletteTable, 0, sizeof PaletteTable);
    mainWindow = nullptr;
    appInstance = nullptr;
}

void EnterEmptyFolder() {
    char folder[] = "/tmp/vornackle-game-test-XXXXXX";
    if (mkdtemp(folder) == nullptr) abort();
    if (chdir(folder) != 0) abort();
    seam::SetProgramDirectory(folder);
}

void WriteFile(const std::string& name, const std::string& bytes) {
    FILE* file = fopen(name.c_str(), "wb");
    if (file == nullptr) abort();
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

PALETTEENTRY SheetColour(int index) {
    return PALETTEENTRY{static_cast<BYTE>(index), static_cast<BYTE>((3 * index) & 255),
                        static_cast<BYTE>((5 * index + 1) & 255), PC_NOCOLLAPSE};
}

namespace {

void Put16(std::string& out, unsigned value) {
    for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 255));
}
void Put32(std::string& out, unsigned value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 255));
}

}  // namespace

void WriteSpriteSheet() {
    const int width = 148, height = 81;
    std::string bmp;
    bmp += "BM";
    Put32(bmp, 1078 + width * height);
    Put32(bmp, 0);
    Put32(bmp, 1078);
    Put32(bmp, 40);
    Put32(bmp, width);
    Put32(bmp, height);
    Put16(bmp, 1);
    Put16(bmp, 8);
    Put32(bmp, 0);
    Put32(bmp, width * height);
    for (int i = 0; i < 4; ++i) Put32(bmp, 0);
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY c = SheetColour(i);
        bmp += {static_cast<char>(c.peBlue), static_cast<char>(c.peGreen),
                static_cast<char>(c.peRed), 0};
    }
    for (int storedRow = 0; storedRow < height; ++storedRow) {  // bottom row first
        const int row = height - 1 - storedRow;
        for (int column = 0; column < width; ++column) {
            char index = 0;
            if (row >= 20 && row <= 60 && column >= 10 && column <= 60) index = char(200);
            if (row >= 20 && row <= 60 && column >= 83 && column <= 133) index = char(201);
            bmp.push_back(index);
        }
    }
    WriteFile("playersprite.bmp", bmp);
}

const seam::TextDraw* Shot::Find(const std::string& text) const {
    for (const seam::TextDraw& draw : texts) {
        if (draw.text == text) return &draw;
    }
    return nullptr;
}

int Shot::NumberAfter(const std::string& prefix) const {
    for (const seam::TextDraw& draw : texts) {
        const size_t at = draw.text.find(prefix);
        if (at != std::string::npos) return atoi(draw.text.c_str() + at + prefix.size());
    }
    return -99999;
}

Run RunGame(const std::function<void(const std::vector<Shot>&)>& steer, DWORD tickBudget) {
    Run run;
    seam::SetTickBudget(tickBudget);
    seam::SetFrameHook([&] {
        run.shots.push_back(Shot{gameData.screenState, gameData.level, seam::PeekTick(),
                                 seam::TextsOfLastPresent()});
        steer(run.shots);
    });
    char commandLine[] = "";
    run.exitCode = WinMain(nullptr, nullptr, commandLine, 1);
    seam::SetFrameHook(nullptr);
    seam::SetTickBudget(0);
    return run;
}

}  // namespace gametest
