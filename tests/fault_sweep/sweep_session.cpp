// The fault sweep's session: the bot's game through the replay runner, a
// failure armed before WinMain starts, and the checks on what the run left.
#include "tests/fault_sweep/sweep_session.h"

#include <cstdio>

#include "game/game_data.h"
#include "tests/game/replay_bot.h"

namespace sweep {

namespace {

using seam::Call;

// The results each call can give when it fails; the first is the seam's usual.
const std::vector<Kind> kKinds = {
    {"RegisterClassA", Kind::PlatformCall, Call::RegisterClassA, {0}, true},
    {"CreateWindowExA", Kind::PlatformCall, Call::CreateWindowExA, {0}, true},
    {"DirectDrawCreateEx", Kind::PlatformCall, Call::DirectDrawCreateEx, {0}, true},
    {"SetCooperativeLevel", Kind::PlatformCall, Call::SetCooperativeLevel, {0}, true},
    {"SetDisplayMode", Kind::PlatformCall, Call::SetDisplayMode, {0}, true},
    {"CreateSurface", Kind::PlatformCall, Call::CreateSurface, {0}, true},
    {"GetAttachedSurface", Kind::PlatformCall, Call::GetAttachedSurface, {0}, true},
    {"CreatePalette", Kind::PlatformCall, Call::CreatePalette, {0}},
    {"SetPalette", Kind::PlatformCall, Call::SetPalette, {0}},
    {"CreateClipper", Kind::PlatformCall, Call::CreateClipper, {0}},
    {"SetClipList", Kind::PlatformCall, Call::SetClipList, {0}},
    {"SetClipper", Kind::PlatformCall, Call::SetClipper, {0}},
    {"SetColorKey", Kind::PlatformCall, Call::SetColorKey, {0}},
    {"GetDC", Kind::PlatformCall, Call::GetDC, {0, DDERR_SURFACELOST}},
    {"Blt", Kind::PlatformCall, Call::Blt, {0, DDERR_GENERIC}},
    {"Flip", Kind::PlatformCall, Call::Flip, {0, DDERR_GENERIC}},
    {"SetEntries", Kind::PlatformCall, Call::SetEntries, {0}},
    {"Lock", Kind::PlatformCall, Call::Lock, {0, DDERR_SURFACEBUSY}},
    {"OpenFile", Kind::PlatformCall, Call::OpenFile, {0}},
    {"RestoreAllSurfaces", Kind::PlatformCall, Call::RestoreAllSurfaces, {0, DDERR_GENERIC}},
    {"malloc", Kind::Malloc, Call::Count, {0}},
    {"display lost", Kind::LostDisplay, Call::Count, {0}},
    // The session itself never loses the display, so restoring is reached
    // only here: lost before a picture, then the restore fails once or for good.
    {"lost, restore fails", Kind::LostDisplay, Call::RestoreAllSurfaces, {0, DDERR_GENERIC}},
};

// What the bot saw of the game, from the game record of each picture (the
// texts may be missing where a label failed to draw).
struct Progress {
    int levelsWon = 0, failures = 0;
    int completeTotal = -1;  // the total time on the game-complete screen
    bool bestShownOnTitle = false, bestKept = false;
    int titlePictures = 0;
    long pictures = 0;
    long pollsSincePicture = 0;
    bool quitWhileAway = false;  // Esc while the display was away
};

// Polls without a picture before the player, facing a display the system
// does not give back, gives up and presses Esc (the game waits for it, as
// it should, but no picture means no bot to end the wait).
constexpr long kPollsBeforeQuitting = 100000;

replay::Decision Decide(const replay::FrameRecord& frame, Progress& progress) {
    const GameData& game = frame.game;
    replay::Decision decision;
    if (progress.completeTotal >= 0) {
        // Back on the title: its fastest time, within a few pictures (one
        // picture may have lost a label), then Esc.
        if (game.screenState != Title) return decision;
        progress.bestKept = game.bestTotalSeconds == progress.completeTotal;
        if (frame.NumberAfter("FASTEST COMPLETION TIME: ") == progress.completeTotal) {
            progress.bestShownOnTitle = true;
        }
        decision.stop = progress.bestShownOnTitle || ++progress.titlePictures >= 20;
        return decision;
    }
    if (game.screenState != Playing) {
        if (int key = replay::MenuKey(game.screenState)) decision.held = {key};
        return decision;
    }
    if (game.score >= game.objective) {
        ++progress.levelsWon;
        if (game.level == 5) progress.completeTotal = game.totalSeconds;
        decision.held = {game.level == 5 ? VK_BACK : VK_SPACE};
    } else if (game.secondsLeft < 1 || game.gameOverHit == 1) {
        ++progress.failures;
        decision.held = {VK_SPACE};  // retry
    } else {
        // The first attempt at level 2 is thrown: every jewel dodged.
        const bool dodge = game.level == 2 && progress.failures == 0;
        if (int move = replay::ChooseMove(game, dodge)) {
            decision.held = {move < 0 ? VK_LEFT : VK_RIGHT};
        }
    }
    return decision;
}

// The system gives back at process end whatever the game still holds; give
// it back here, so that whatever is left alive is what nothing refers to.
int ReleaseWhatTheGameHolds() {
    DisplayClose();
    for (IDirectDrawSurface7*& frame : gameData.spriteFrames) {
        if (frame != nullptr) frame->Release();
        frame = nullptr;
    }
    return seam::LiveObjects();
}

}  // namespace

const std::vector<Kind>& Kinds() {
    return kKinds;
}

const Kind* FindKind(const std::string& name) {
    for (const Kind& kind : kKinds) {
        if (name == kind.name) return &kind;
    }
    return nullptr;
}

std::string ResultName(HRESULT result) {
    switch (result) {
        case 0:
            return "usual";
        case DDERR_GENERIC:
            return "GENERIC";
        case DDERR_SURFACELOST:
            return "SURFACELOST";
        case DDERR_SURFACEBUSY:
            return "SURFACEBUSY";
        default:
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(result));
            return hex;
    }
}

Report RunSession(const Fault& fault) {
    const Kind* kind = fault.kind;
    Progress progress;
    auto controller = [&](const replay::FrameRecord& frame) {
        ++progress.pictures;
        progress.pollsSincePicture = 0;
        // The display is taken away after this picture, before the next.
        if (kind != nullptr && kind->source == Kind::LostDisplay &&
            progress.pictures + 1 == fault.use) {
            seam::LoseSurfaces();
        }
        return Decide(frame, progress);
    };
    auto arm = [&] {
        // No check here looks at the pictures themselves, only at the game's
        // record and the texts: skipping the conversion and checksum of each
        // picture makes a run several times cheaper.
        seam::RecordTextsOnly(true);
        seam::SetPollHook([&] {
            if (++progress.pollsSincePicture > kPollsBeforeQuitting && LastPresentShown() == -1) {
                progress.quitWhileAway = true;
                seam::HoldKey(VK_ESCAPE, true);
            }
        });
        if (kind == nullptr) return;
        if (kind->source == Kind::PlatformCall) {
            seam::FailUse(kind->call, static_cast<int>(fault.use), fault.forever, fault.result);
        } else if (kind->source == Kind::LostDisplay && kind->call != Call::Count) {
            seam::FailUse(kind->call, 1, fault.forever, fault.result);
        } else if (kind->source == Kind::Malloc) {
            seam::FailAllocUse(fault.use, fault.forever);
        }
    };
    Report report;
    replay::Play(4242421, 12000, controller, 1, arm, &report.exitCode);
    seam::SetPollHook(nullptr);
    report.quitWhileAway = progress.quitWhileAway;

    for (const Kind& each : kKinds) {
        report.uses.push_back(each.source == Kind::PlatformCall ? seam::CallUses(each.call)
                              : each.source == Kind::Malloc     ? seam::AllocUses()
                                                                : progress.pictures);
    }
    report.totalSeconds = progress.completeTotal;
    report.completed = progress.levelsWon == 5 && progress.completeTotal >= 0 &&
                       progress.bestKept && progress.bestShownOnTitle;
    if (seam::OpenFiles() != 0) report.problems += " file-left-open";
    if (int left = ReleaseWhatTheGameHolds()) {
        report.problems += " " + std::to_string(left) + "-objects-unreferenced";
    }
    return report;
}

}  // namespace sweep
