// The jewel field in real play: the catch band's edges, no jewel slipping
// through it at any speed, misses, the clipped bottom row and the spawn rule,
// each checked on the presented picture, the head-up display and the beeps.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/seam.h"
#include "tests/game/replay_runner.h"

namespace {

using replay::FrameRecord;
using replay::RunScenario;
using replay::Scenario;

constexpr int kBasketX = 300;  // staged basket position; the band is rows 352..360

void StageJewel(int slot, int x, int y, int speed, int kind) {
    Jewel& jewel = gameData.jewels[slot];
    jewel.x = x;
    jewel.y = y;
    jewel.speed = speed;
    jewel.kind = kind;
    jewel.active = 1;
}

BYTE PixelAt(const FrameRecord& frame, int x, int y) {
    return frame.picture.at(static_cast<size_t>(y * seam::kWidth + x));
}

const replay::JewelState* FindSlot(const FrameRecord& frame, int slot) {
    for (const replay::JewelState& jewel : frame.jewels) {
        if (jewel.slot == slot) return &jewel;
    }
    return nullptr;
}

// One blue jewel (50 points on level 1) lands with its top-left at
// (x, yAfter) in the first staged frame; the basket stands still at 300.
struct BandCase {
    const char* what;
    int x, yAfter;
    bool caught;
    int probeX, probeY;  // a pixel of the square outside the basket, or -1
};

TEST(JewelCatchBand, CentreOnTheBandEdgesIsCaughtOnePixelBeyondIsNot) {
    const BandCase cases[] = {
        {"centre on the left column", 295, 350, true, 295, 350},
        {"centre one left of the left column", 294, 350, false, 294, 350},
        {"centre on the right column (playerX + 70)", 365, 350, true, 375, 350},
        {"centre one right of the right column", 366, 350, false, 376, 350},
        {"centre on the top row (playerY)", 330, 347, true, 330, 347},
        {"centre one row above the band", 330, 346, false, 330, 346},
        {"centre on the bottom row (playerY + 8)", 330, 355, true, -1, -1},
        {"centre one row below the band", 330, 356, false, -1, -1},
    };
    for (const BandCase& band : cases) {
        SCOPED_TRACE(band.what);
        Scenario scenario;
        scenario.setup = [&] {
            gameData.playerX = kBasketX;
            StageJewel(4, band.x, band.yAfter - 2, 2, Blue);
        };
        std::vector<FrameRecord> frames = RunScenario(scenario);
        ASSERT_EQ(frames.size(), 1u);
        const FrameRecord& frame = frames[0];
        if (band.caught) {
            EXPECT_EQ(frame.beeps, std::vector<UINT>{MB_OK});
            EXPECT_TRUE(frame.HasText("Objective: 50 / 1000"));
            EXPECT_EQ(FindSlot(frame, 4), nullptr);
        } else {
            EXPECT_TRUE(frame.beeps.empty());
            EXPECT_TRUE(frame.HasText("Objective: 0 / 1000"));
            ASSERT_NE(FindSlot(frame, 4), nullptr);
            EXPECT_EQ(FindSlot(frame, 4)->y, band.yAfter);
        }
        // A caught jewel is not drawn in the frame of its catch.
        if (band.probeX >= 0) {
            EXPECT_EQ(PixelAt(frame, band.probeX, band.probeY), band.caught ? 0 : Blue);
        }
    }
}

TEST(JewelCatchBand, NoJewelFallsThroughAtAnySpeed) {
    // Centres on the basket's left column, middle and right column; all three
    // reach the band in the same frames, so they are caught together.
    const int columns[] = {kBasketX - 5, kBasketX + 30, kBasketX + 65};
    for (int speed = 2; speed <= 8; ++speed) {
        SCOPED_TRACE("speed " + std::to_string(speed));
        Scenario scenario;
        scenario.frames = 470 / speed + 2;
        scenario.keepPictures = false;
        scenario.setup = [&] {
            gameData.playerX = kBasketX;
            for (int i = 0; i < 3; ++i) StageJewel(i, columns[i], 0, speed, Purple);
        };
        std::vector<FrameRecord> frames = RunScenario(scenario);
        int caughtFrame = -1;
        for (const FrameRecord& frame : frames) {
            if (frame.jewels.empty()) {
                caughtFrame = frame.index;
                // Two or more catches in one frame: each scored, one beep each.
                EXPECT_EQ(frame.beeps, (std::vector<UINT>{MB_OK, MB_OK, MB_OK}));
                EXPECT_TRUE(frame.HasText("Objective: 300 / 1000"));
                break;
            }
            ASSERT_EQ(frame.jewels.size(), 3u);
            EXPECT_TRUE(frame.beeps.empty());
            EXPECT_LT(frame.jewels[0].y + 5, 352) << "in the band but not caught";
        }
        EXPECT_NE(caughtFrame, -1) << "the jewels fell through the basket";
    }
}

TEST(JewelMiss, MissedJewelIsClippedAtTheBottomThenFreedWithoutAnyEffect) {
    // Speed 5 from 460: drawn at 465, then at 470 (its last row below the
    // screen), then freed on the update that takes it to 475.
    const int x = 120;
    Scenario scenario;
    scenario.frames = 3;
    scenario.setup = [&] {
        gameData.playerX = kBasketX;
        gameData.score = 75;
        StageJewel(9, x, 460, 5, White);
    };
    std::vector<FrameRecord> frames = RunScenario(scenario);
    ASSERT_EQ(frames.size(), 3u);

    ASSERT_NE(FindSlot(frames[1], 9), nullptr);
    EXPECT_EQ(FindSlot(frames[1], 9)->y, 470);
    for (int column = x; column <= x + 10; ++column) {
        EXPECT_EQ(PixelAt(frames[1], column, 469), 0) << "column " << column;
        EXPECT_EQ(PixelAt(frames[1], column, 470), White) << "column " << column;
        EXPECT_EQ(PixelAt(frames[1], column, 479), White) << "column " << column;
    }

    const FrameRecord& missed = frames[2];
    EXPECT_TRUE(missed.jewels.empty());
    EXPECT_EQ(gameData.jewels[9].active, 0);
    EXPECT_EQ(gameData.jewels[9].y, 0);
    EXPECT_EQ(gameData.jewels[9].x, x);
    for (const FrameRecord& frame : frames) EXPECT_TRUE(frame.beeps.empty());
    EXPECT_TRUE(missed.HasText("Objective: 75 / 1000"));
    EXPECT_EQ(PixelAt(missed, x + 5, 475), 0);
    EXPECT_EQ(PixelAt(missed, x + 5, 470), 0);
}

TEST(JewelSpawn, NoJewelStartsUnlessTheTickIsAMultipleOfFive) {
    // Every tick read of this run is 1 more than a multiple of 5.
    Scenario scenario;
    scenario.frames = 120;
    scenario.keepPictures = false;
    std::vector<FrameRecord> frames = RunScenario(scenario);
    ASSERT_EQ(frames.size(), 120u);
    for (const FrameRecord& frame : frames) EXPECT_TRUE(frame.jewels.empty());
}

// The kind PickJewelKind makes of r = rand() % 10 + 1.
int KindOf(int r) {
    static const int kinds[] = {Red, Red, Blue, Blue, Green, Green, Yellow, Orange, Purple, White};
    return kinds[r - 1];
}

TEST(JewelSpawn, OneTryPerFrameInOneRandomSlot) {
    // Every tick read is a multiple of 5, so every frame makes an attempt.
    // With only slot 13 free, a jewel appears exactly in the frame whose
    // random slot is 13; an attempt that finds its slot taken tries no other.
    const int freeSlot = 13;
    const unsigned seed = 4242;
    Scenario scenario;
    scenario.startTick = 1000000;
    scenario.frames = 90;
    scenario.keepPictures = true;
    scenario.setup = [&] {
        gameData.playerX = kBasketX;
        for (int slot = 0; slot < kJewelSlots; ++slot) StageJewel(slot, 12, 0, 2, Green);
        gameData.jewels[freeSlot].active = 0;
        srand(seed);
    };

    srand(seed);
    int expectedFrame = -1, kind = 0, x = 0, speed = 0;
    for (int frame = 0; frame < 80 && expectedFrame < 0; ++frame) {
        if (rand() % kJewelSlots != freeSlot) continue;
        expectedFrame = frame;
        kind = KindOf(rand() % 10 + 1);
        x = rand() % 608 + 10;
        speed = rand() % 7 + 2;
    }
    ASSERT_GT(expectedFrame, 0) << "pick a seed whose first hit comes later";

    std::vector<FrameRecord> frames = RunScenario(scenario);
    ASSERT_GT(frames.size(), static_cast<size_t>(expectedFrame));
    for (int frame = 0; frame < expectedFrame; ++frame) {
        EXPECT_EQ(FindSlot(frames[frame], freeSlot), nullptr) << "frame " << frame;
    }
    const FrameRecord& spawned = frames[expectedFrame];
    const replay::JewelState* jewel = FindSlot(spawned, freeSlot);
    ASSERT_NE(jewel, nullptr);
    EXPECT_EQ(jewel->kind, kind);
    EXPECT_EQ(jewel->x, x);
    EXPECT_EQ(jewel->speed, speed);
    // Started, moved and drawn in the same frame: first seen at y = speed.
    EXPECT_EQ(jewel->y, speed);
    EXPECT_EQ(PixelAt(spawned, x + 5, speed + 5), kind);
    EXPECT_EQ(PixelAt(frames[expectedFrame - 1], x + 5, speed + 5), 0);
}

}  // namespace
