// Reset with the sprite-sheet writer, and the recorded WinMain run.
#include "tests/game/game_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/shell.h"

namespace gametest {

void ResetGame(bool sheet) {
    free(gameData.spriteSheet.pixels);  // kept when start-up stopped before cutting frames
    seam::Reset();
    gameData = kGameDataStart;
    display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
    memset(PaletteTable, 0, sizeof PaletteTable);
    mainWindow = nullptr;
    appInstance = nullptr;
    char folder[] = "/tmp/vornackle-game-test-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) abort();
    seam::SetProgramDirectory(folder);  // the sheet is looked for there first
    if (!sheet) return;
    // File and info headers (8 bits, uncompressed), colour table as B, G, R, 0,
    // then the pixels.
    std::string bmp = "BM";
    auto put = [&bmp](unsigned v) {
        bmp.append(reinterpret_cast<const char*>(&v), 4);
    };  // little-endian
    for (unsigned v : {1078u + 148 * 81, 0u, 1078u, 40u, 148u, 81u, 1u | 8u << 16, 0u, 148u * 81,
                       0u, 0u, 0u, 0u})
        put(v);
    for (unsigned i = 0; i < 256; ++i) put(((5 * i + 1) & 255) | (3 * i & 255) << 8 | i << 16);
    for (int row = 0; row < 81; ++row) {  // rows 20..60 from either end are the same rows
        const char cell0 = row >= 20 && row <= 60 ? char(200) : 0, cell1 = cell0 ? char(201) : 0;
        bmp += std::string(10, 0) + std::string(51, cell0) + std::string(22, 0) +
               std::string(51, cell1) + std::string(14, 0);
    }
    WriteSheet(bmp);
}

void WriteSheet(const std::string& bytes) {
    FILE* file = fopen("playersprite.bmp", "wb");
    if (file == nullptr) abort();
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

PALETTEENTRY SheetColour(int i) {
    return PALETTEENTRY{static_cast<BYTE>(i), static_cast<BYTE>(3 * i),
                        static_cast<BYTE>(5 * i + 1), PC_NOCOLLAPSE};
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

void ExpectText(const Shot& shot, const std::string& text, int colour, int x, int y) {
    const seam::TextDraw* draw = shot.Find(text);
    ASSERT_NE(draw, nullptr) << "missing: " << text;
    EXPECT_EQ(std::vector<int>({draw->index, draw->x, draw->y}), std::vector<int>({colour, x, y}))
        << text;
}

int RunWinMain() {
    char commandLine[] = "";
    return WinMain(nullptr, nullptr, commandLine, 1);
}

Run RunGame(const std::function<void(const std::vector<Shot>&)>& steer, DWORD tickBudget) {
    Run run;
    seam::SetTickBudget(tickBudget);
    seam::SetFrameHook([&] {
        run.shots.push_back({gameData.screenState, seam::PeekTick(), seam::TextsOfLastPresent()});
        steer(run.shots);
    });
    run.exitCode = RunWinMain();
    seam::SetFrameHook(nullptr);
    seam::SetTickBudget(0);
    return run;
}

void Hold(std::initializer_list<int> keys) {
    seam::ReleaseAllKeys();
    for (int key : keys) seam::HoldKey(key, true);
}

void WalkTo(int quitOn, const std::vector<Shot>& shots) {
    const int state = shots.back().state;
    if (state == quitOn) return Hold({VK_ESCAPE});
    if (state == Story || state == Briefing) return Hold({VK_RETURN});
    if (state == Title) Hold({VK_SPACE});
}

}  // namespace gametest
