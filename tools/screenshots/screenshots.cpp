// Writes the README pictures: the bot plays one game (throwing its first
// attempt at level 2) and a presented picture of each screen is saved
// as a PNG file.
//
//     screenshots <folder>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>

#include "platform/seam.h"
#include "tests/game/replay_bot.h"
#include "tools/screenshots/png.h"

namespace {

using replay::Decision;
using replay::FrameRecord;

bool Save(const std::string& folder, const std::string& name) {
    PALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = seam::DisplayPalette(i);
    const std::string path = folder + "/" + name;
    if (seam::PrimaryPixels() == nullptr ||
        !replay::WritePalettePng(path, seam::PrimaryPixels(), seam::kWidth, seam::kHeight,
                                 seam::kWidth, palette)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("screenshots: %s\n", path.c_str());
    return true;
}

int ActiveJewels(const GameData& game) {
    return static_cast<int>(std::count_if(std::begin(game.jewels), std::end(game.jewels),
                                          [](const Jewel& jewel) { return jewel.active; }));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshots <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];

    replay::Controller bot = replay::MakeBotController(2);

    std::map<std::string, bool> saved;
    bool ok = true;
    int playFrames = 0;
    auto once = [&](const std::string& name) {
        if (saved[name]) return;
        saved[name] = true;
        ok = Save(folder, name) && ok;
    };

    auto controller = [&](const FrameRecord& frame) {
        Decision wait;  // nothing held: stay on this screen for another pass
        if (frame.game.screenState == Story) {
            if (!frame.HasText("PRESS ENTER...")) return wait;
            once("story.png");
        }
        if (frame.game.screenState == Title && frame.game.bestTotalSeconds != 10000) {
            if (!frame.HasText("PRESS SPACEBAR TO START NEW GAME")) return wait;
            once("title.png");
            wait.stop = true;
            return wait;
        }
        if (frame.game.screenState == Briefing && frame.game.level == 5) {
            if (!frame.HasText("PRESS ENTER TO START LEVEL")) return wait;
            once("briefing.png");
        }
        if (frame.game.screenState == Playing && frame.HasText("Time Remaining")) {
            if (replay::IsLevelComplete(frame) && frame.game.level == 1) once("level-complete.png");
            if (replay::IsFailed(frame)) once("failed.png");
            if (replay::IsGameComplete(frame)) once("game-complete.png");
            if (frame.game.level == 1 && ++playFrames > 150 && ActiveJewels(frame.game) >= 9) {
                once("play.png");
            }
        }
        return bot(frame);
    };
    replay::Play(31415926, 20000, controller);
    for (const char* name : {"story.png", "title.png", "briefing.png", "play.png",
                             "level-complete.png", "failed.png", "game-complete.png"}) {
        if (!saved[name]) {
            std::fprintf(stderr, "screenshots: the game never showed %s\n", name);
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
