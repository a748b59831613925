// Replay runner: drives WinMain headless and records each presented picture.
#include "tests/game/replay_runner.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/core/run.h"
#include "platform/seam.h"
#include "shell/shell.h"

namespace replay {

bool FrameRecord::HasText(const std::string& part) const {
    return std::any_of(texts.begin(), texts.end(), [&](const seam::TextDraw& draw) {
        return draw.text.find(part) != std::string::npos;
    });
}

int FrameRecord::NumberAfter(const std::string& prefix) const {
    for (const seam::TextDraw& draw : texts) {
        size_t at = draw.text.find(prefix);
        if (at != std::string::npos) return std::atoi(draw.text.c_str() + at + prefix.size());
    }
    return -1;
}

int MenuKey(int state) {
    if (state == Story || state == Briefing) return VK_RETURN;
    return state == Title ? VK_SPACE : 0;
}

std::vector<FrameRecord> Play(DWORD startTick, int maxFrames, const Controller& controller,
                              DWORD tickStep, const std::function<void()>& beforeStart,
                              int* exitCode, const char* commandLine) {
    // The game opens its sprite sheet by its bare name.
    if (chdir(VORNACKLE_ASSETS_DIR) != 0) std::abort();
    free(gameData.spriteSheet.pixels);  // kept when start-up stopped before cutting frames
    seam::Reset();
    gameData = kGameDataStart;
    mainWindow = nullptr;
    appInstance = nullptr;
    display = Display{nullptr, nullptr, nullptr, nullptr, nullptr, 640, 480, 8};
    std::memset(PaletteTable, 0, sizeof(PaletteTable));
    seam::SetTick(startTick);
    seam::SetTickStep(tickStep);
    // Generous (a play frame takes about 31 virtual ms); the seam aborts past it.
    seam::SetTickBudget(static_cast<DWORD>(maxFrames) * 100u + 600000u);

    std::vector<FrameRecord> frames;
    bool stopping = false;
    seam::SetFrameHook([&] {
        if (stopping) return;
        FrameRecord frame;
        frame.game = gameData;
        frame.beeps = seam::Beeps();
        seam::ClearBeeps();
        frame.checksum = seam::PresentedChecksum();
        frame.texts = seam::TextsOfLastPresent();
        frames.push_back(std::move(frame));
        Decision decision = controller ? controller(frames.back()) : Decision{};
        stopping = decision.stop || static_cast<int>(frames.size()) >= maxFrames;
        if (decision.ownKeys && !stopping) return;
        seam::ReleaseAllKeys();
        if (stopping) decision.held = {VK_ESCAPE};
        for (int vk : decision.held) {
            if (vk != 0) seam::HoldKey(vk, true);  // 0: none (MenuKey in play)
        }
        if (decision.tapped) seam::TapKey(decision.tapped);
    });
    // The times a recording keeps and a verification prints, from the game's record.
    runs::ReadGameWith([](runs::GameRecord* record) {
        record->level = gameData.level;
        record->secondsLeft = gameData.secondsLeft;
        record->totalSeconds = gameData.totalSeconds;
        return true;
    });
    if (beforeStart) beforeStart();
    std::string line = commandLine;
    const int code = WinMain(nullptr, nullptr, line.data(), 0);
    if (exitCode != nullptr) *exitCode = code;
    seam::SetFrameHook(nullptr);
    seam::ReleaseAllKeys();
    seam::SetTickBudget(0);
    return frames;
}

std::vector<FrameRecord> RunScenario(int level, int frames, const std::function<void()>& setup,
                                     const std::vector<int>& held,
                                     const std::function<bool(const FrameRecord&)>& each) {
    std::vector<FrameRecord> staged;
    bool started = false;
    auto controller = [&](const FrameRecord& frame) {
        Decision decision;
        if (started) {
            staged.push_back(frame);
            decision.stop = (each && each(frame)) || static_cast<int>(staged.size()) >= frames;
        } else if (frame.game.screenState == Briefing && gameData.level != level) {
            gameData.level = level;  // the next pass shows this level's rules
            return decision;
        } else if (frame.game.screenState == Playing && frame.HasText("Time Remaining")) {
            started = true;  // the first play picture: stage from here
            setup();
        } else {
            if (int key = MenuKey(frame.game.screenState)) decision.held = {key};
            return decision;
        }
        decision.held = held;
        return decision;
    };
    Play(1000001, frames + 200, controller, 5);
    return staged;
}

}  // namespace replay
