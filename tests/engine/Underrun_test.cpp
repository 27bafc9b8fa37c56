// The mixer's underrun count: ticks that find the play cursor past the sound
// written ahead of it. On the offline device and the virtual clock, so the
// cursor moves exactly as far as the clock says.

#include "support/EngineRig.h"

#include <gtest/gtest.h>

namespace tonvero {
namespace {

using test::constantSamples;
using test::EngineRig;

constexpr uint64_t kTick = kMixerPeriodMicros;  // 20 ms: 3528 bytes of 44.1 kHz stereo

class Underruns : public ::testing::Test {
protected:
    void SetUp() override {
        {
            EngineLock lock(e().mutex);
            ASSERT_EQ(e().initOutput(), 1);
        }
        Instrument& inst = rig.instrument();
        EngineRig::zone(inst, {constantSamples(44100, 4096), 44100, 1, 0, 44099});
        EngineLock lock(e().mutex);
        e().startOutput();
        e().noteOn(60, 100, 0);
    }
    void TearDown() override { mixerBusy.store(0); }
    MixerEngine& e() { return rig.e(); }
    uint64_t underruns() {
        EngineLock lock(e().mutex);
        return e().custom.underruns;
    }
    // `events` mixer timer events pass with the mixer busy, so none ticks.
    void stall(uint64_t events) {
        mixerBusy.store(1);
        rig.clock().advanceBy(events * kTick);
        mixerBusy.store(0);
    }

    EngineRig rig;
};

TEST_F(Underruns, NoneWhileEveryTickComes) {
    EXPECT_EQ(underruns(), 0u) << "starting the output writes from the cursor: no underrun";
    rig.clock().advanceBy(10'000'000);  // 500 ticks, the cursor twenty times round the buffer
    EXPECT_EQ(underruns(), 0u);
    // Ticks off the 20 ms grid as well (a note started between two events).
    for (int k = 0; k < 300; ++k) {
        rig.clock().advanceBy(7000);
        EngineLock lock(e().mutex);
        e().mixerTick();
    }
    EXPECT_EQ(underruns(), 0u);
}

TEST_F(Underruns, ALateTickWithinTheWriteAheadIsNone) {
    rig.clock().advanceBy(5 * kTick);
    // 13 events lost: the next tick comes 280 ms after the last, inside the
    // 300 ms written ahead.
    stall(13);
    rig.clock().advanceBy(kTick);
    EXPECT_EQ(underruns(), 0u);
}

TEST_F(Underruns, EachTickThatFindsTheCursorPastTheWrittenSoundCountsOne) {
    rig.clock().advanceBy(5 * kTick);
    // 15 events lost: the next tick comes 320 ms after the last, 20 ms after
    // the written sound ran out.
    stall(15);
    rig.clock().advanceBy(kTick);
    EXPECT_EQ(underruns(), 1u);
    // Writing went on from the cursor: ticking normally adds nothing.
    rig.clock().advanceBy(50 * kTick);
    EXPECT_EQ(underruns(), 1u);
    // Another stall, 400 ms.
    stall(19);
    rig.clock().advanceBy(kTick);
    EXPECT_EQ(underruns(), 2u);
    rig.clock().advanceBy(50 * kTick);
    EXPECT_EQ(underruns(), 2u);
}

TEST_F(Underruns, TheClockMovingWithNoTickAtAllCountsAtTheNextTick) {
    // The mixer timer gone (as a stalled timer thread would leave it), the
    // clock moves on 350 ms; the device keeps playing.
    TimerId timer = 0;
    {
        EngineLock lock(e().mutex);
        timer = e().mixerTimer;
        e().mixerTimer = 0;
    }
    ASSERT_TRUE(rig.clock().kill(timer));
    rig.clock().advanceBy(350'000);
    EXPECT_EQ(underruns(), 0u) << "nothing ticked yet";
    {
        EngineLock lock(e().mutex);
        e().mixerTick();
        EXPECT_EQ(e().custom.underruns, 1u);
        e().mixerTick();  // the cursor has not moved: nothing more
        EXPECT_EQ(e().custom.underruns, 1u);
    }
}

TEST(UnderrunsHardwareMixer, TheHardwareMixerHasNoTickAndNoCount) {
    EngineRig rig(MixerMode::Hardware);
    {
        EngineLock lock(rig.e().mutex);
        ASSERT_EQ(rig.e().initOutput(), 1);
    }
    EngineLock lock(rig.e().mutex);
    rig.e().startOutput();
    rig.e().mixerTick();
    EXPECT_EQ(rig.e().custom.underruns, 0u);
}

}  // namespace
}  // namespace tonvero
