// Replay runner: drives WinMain headless and records each presented frame.
#include "tests/game/replay_runner.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/seam.h"
#include "shell/shell.h"

namespace replay {
namespace {

// An outcome wait polls the keyboard without presenting or reading the clock;
// this many polls in a row without a present means the controller forgot it.
constexpr long kMaxPollsBetweenFrames = 20000000;

}  // namespace

bool FrameRecord::HasText(const std::string& part) const {
    for (const std::string& text : texts) {
        if (text.find(part) != std::string::npos) return true;
    }
    return false;
}

int FrameRecord::NumberAfter(const std::string& prefix, int fallback) const {
    for (const std::string& text : texts) {
        size_t at = text.find(prefix);
        if (at == std::string::npos) continue;
        const char* digits = text.c_str() + at + prefix.size();
        char* end = nullptr;
        long value = std::strtol(digits, &end, 10);
        if (end != digits) return static_cast<int>(value);
    }
    return fallback;
}

void ResetProcess() {
    // The game opens its sprite sheet by its bare name.
    if (chdir(VORNACKLE_ASSETS_DIR) != 0) {
        std::fprintf(stderr, "replay: cannot enter %s\n", VORNACKLE_ASSETS_DIR);
        std::abort();
    }
    seam::Reset();
    gameData = kGameDataStart;
    display = Display{};
    display.screenWidth = 640;
    display.screenHeight = 480;
    display.screenBpp = 8;
    std::memset(PaletteTable, 0, sizeof(PaletteTable));
    mainWindow = nullptr;
    appInstance = nullptr;
}

int MenuKey(int state) {
    switch (state) {
        case Story:
        case Briefing:
            return VK_RETURN;
        case Title:
            return VK_SPACE;
        default:
            return 0;
    }
}

bool IsLevelComplete(const FrameRecord& frame) {
    return frame.HasText("CONGRATULATIONS LEVEL");
}
bool IsGameComplete(const FrameRecord& frame) {
    return frame.HasText("CONGRATULATIONS YOU ARE ONE OF THE BEST");
}
bool IsFailed(const FrameRecord& frame) {
    return frame.HasText("YOU HAVE FAILED YOUR OBJECTIVE");
}

Result Play(const Options& options) {
    ResetProcess();
    seam::SetTick(options.startTick);
    seam::SetTickStep(options.tickStep);
    // Generous: a play frame takes about 31 virtual milliseconds.
    seam::SetTickBudget(static_cast<DWORD>(options.maxFrames) * 100u + 600000u);

    Result result;
    bool stopping = false;
    long pollsSinceFrame = 0;
    size_t beepsSeen = 0;

    seam::SetPollHook([&] {
        if (++pollsSinceFrame == kMaxPollsBetweenFrames) {
            std::fprintf(stderr, "replay: the game waited for a key that never came; quitting\n");
            result.hitFrameLimit = true;
            stopping = true;
            seam::ReleaseAllKeys();
            seam::HoldKey(VK_ESCAPE, true);
        }
    });

    seam::SetFrameHook([&] {
        pollsSinceFrame = 0;
        if (stopping) return;
        FrameRecord frame;
        frame.index = static_cast<int>(result.frames.size());
        frame.tick = seam::PeekTick();
        frame.state = gameData.screenState;
        frame.level = gameData.level;
        frame.score = gameData.score;
        frame.objective = gameData.objective;
        frame.secondsLeft = gameData.secondsLeft;
        frame.totalSeconds = gameData.totalSeconds;
        frame.bestTotalSeconds = gameData.bestTotalSeconds;
        frame.playerX = gameData.playerX;
        frame.animIndex = gameData.animIndex;
        for (int slot = 0; slot < kJewelSlots; ++slot) {
            const Jewel& jewel = gameData.jewels[slot];
            if (jewel.active) {
                frame.jewels.push_back({slot, jewel.x, jewel.y, jewel.speed, jewel.kind});
            }
        }
        std::vector<UINT> beeps = seam::Beeps();
        frame.beeps.assign(beeps.begin() + static_cast<long>(beepsSeen), beeps.end());
        beepsSeen = beeps.size();
        frame.checksum = seam::PresentedChecksum();
        for (const seam::TextDraw& draw : seam::TextsOfLastPresent()) {
            frame.texts.push_back(draw.text);
        }
        if (options.keepPictures && seam::PrimaryPixels() != nullptr) {
            const BYTE* pixels = seam::PrimaryPixels();
            frame.picture.assign(pixels, pixels + seam::kWidth * seam::kHeight);
        }
        result.frames.push_back(frame);

        Decision decision;
        if (options.controller) decision = options.controller(result.frames.back());
        if (static_cast<int>(result.frames.size()) >= options.maxFrames) {
            std::fprintf(stderr, "replay: frame limit %d reached; quitting\n", options.maxFrames);
            result.hitFrameLimit = true;
            decision.stop = true;
        }
        seam::ReleaseAllKeys();
        if (decision.stop) {
            stopping = true;
            seam::HoldKey(VK_ESCAPE, true);
            return;
        }
        for (int vk : decision.held) seam::HoldKey(vk, true);
    });

    char commandLine[] = "";
    result.exitCode = WinMain(nullptr, nullptr, commandLine, 0);
    seam::SetFrameHook(nullptr);
    seam::SetPollHook(nullptr);
    seam::ReleaseAllKeys();
    seam::SetTickBudget(0);
    return result;
}

std::vector<FrameRecord> RunScenario(const Scenario& scenario) {
    std::vector<FrameRecord> staged;
    bool started = false;
    Options options;
    options.startTick = scenario.startTick;
    options.tickStep = scenario.tickStep;
    options.keepPictures = scenario.keepPictures;
    options.maxFrames = scenario.frames + 200;
    options.controller = [&](const FrameRecord& frame) {
        Decision decision;
        if (!started) {
            if (frame.state == Briefing && gameData.level != scenario.level) {
                gameData.level = scenario.level;  // the next pass shows this level's rules
                return decision;
            }
            // The first picture of play is the first one with the head-up display.
            if (frame.state == Playing && frame.HasText("Time Remaining")) {
                started = true;
                if (scenario.setup) scenario.setup();
                decision.held = scenario.held;
                return decision;
            }
            if (int key = MenuKey(frame.state)) decision.held = {key};
            return decision;
        }
        staged.push_back(frame);
        if (static_cast<int>(staged.size()) >= scenario.frames) {
            decision.stop = true;
            return decision;
        }
        if (scenario.step) return scenario.step(frame, static_cast<int>(staged.size()) - 1);
        decision.held = scenario.held;
        return decision;
    };
    Play(options);
    return staged;
}

int LeftmostDrawnColumn(const std::vector<BYTE>& picture, int fromRow, int toRow) {
    if (picture.size() < static_cast<size_t>(seam::kWidth * seam::kHeight)) return -1;
    for (int x = 0; x < seam::kWidth; ++x) {
        for (int y = fromRow; y <= toRow; ++y) {
            if (picture[static_cast<size_t>(y * seam::kWidth + x)] != 0) return x;
        }
    }
    return -1;
}

int DrawnBasketFrame(const std::vector<BYTE>& picture, int playerX) {
    if (picture.size() < static_cast<size_t>(seam::kWidth * seam::kHeight)) return -1;
    for (int frame = 0; frame < 2; ++frame) {
        int width = 0, height = 0, pitch = 0;
        const BYTE* sprite =
            seam::SurfacePixels(gameData.spriteFrames[frame], &width, &height, &pitch);
        if (sprite == nullptr) continue;
        bool matches = true;
        int opaque = 0;
        // Only 71 x 79 of the 72 x 80 frame reach the screen.
        for (int row = 0; row < 79 && matches; ++row) {
            for (int column = 0; column < 71; ++column) {
                BYTE index = sprite[row * pitch + column];
                int x = playerX + column, y = gameData.playerY + row;
                if (index == 0 || x < 0 || x >= seam::kWidth || y >= seam::kHeight) continue;
                ++opaque;
                if (picture[static_cast<size_t>(y * seam::kWidth + x)] != index) {
                    matches = false;
                    break;
                }
            }
        }
        if (matches && opaque > 0) return frame;
    }
    return -1;
}

}  // namespace replay
