// Opening the output in its three modes, and the mixer tick keeping the
// mixing buffer written ahead of the play cursor, on the offline device.

#include "support/EngineRig.h"

#include <gtest/gtest.h>

namespace tonvero {
namespace {

using test::constantSamples;
using test::EngineRig;

constexpr uint64_t kTick = kMixerPeriodMicros;

TEST(InitOutput, SecondaryBufferModeAt44100) {
    EngineRig rig;
    MixerEngine& e = rig.e();
    std::string why = "stale";
    EngineLock lock(e.mutex);
    ASSERT_EQ(e.initOutput(&why), 1);
    EXPECT_TRUE(why.empty());
    EXPECT_NE(e.soundDevice, nullptr);
    ASSERT_NE(e.primaryBuffer, nullptr);
    ASSERT_NE(e.mixBuffer, nullptr);
    EXPECT_NE(e.mixBuffer, e.primaryBuffer);
    EXPECT_EQ(e.custom.mixBufferBytes, 88200u);
    EXPECT_EQ(e.custom.writeAheadBytes, 52920u);
    EXPECT_EQ(e.custom.writePos, 0xFFFFFFu);
    uint32_t size = 0;
    e.mixBuffer->getCaps(size);
    EXPECT_EQ(size, 88200u);
    uint32_t status = 0;
    e.mixBuffer->getStatus(status);
    EXPECT_EQ(status, 0u);  // made, not played
    EXPECT_EQ(e.soundDevice->outputRate(), 44100u);
}

TEST(InitOutput, WriteAheadAt22050) {
    EngineRig rig(MixerMode::Software, 22050);
    EngineLock lock(rig.e().mutex);
    ASSERT_EQ(rig.e().initOutput(), 1);
    EXPECT_EQ(rig.e().custom.writeAheadBytes, 26460u);
    EXPECT_EQ(rig.e().custom.mixBufferBytes, 44100u);
}

TEST(InitOutput, WritePrimaryModeMixesIntoThePrimaryBuffer) {
    EngineRig rig(MixerMode::Primary);
    MixerEngine& e = rig.e();
    {
        EngineLock lock(e.mutex);
        ASSERT_EQ(e.initOutput(), 1);
        EXPECT_EQ(e.mixBuffer, e.primaryBuffer);
        uint32_t primaryBytes = 0;
        e.primaryBuffer->getCaps(primaryBytes);
        EXPECT_EQ(e.custom.mixBufferBytes, primaryBytes);
    }

    // The mixer writes the primary buffer, and what it writes is heard.
    Instrument& inst = rig.instrument();
    EngineRig::zone(inst, {constantSamples(44100, 4096), 44100});
    {
        EngineLock lock(e.mutex);
        e.startOutput();
        e.noteOn(60, 127, 0);
    }
    rig.clock().advanceBy(500000);
    const auto& out = rig.audio.captured();
    ASSERT_GE(out.size(), 2u * 22050);
    EXPECT_EQ(out[2 * 22049], 504);
}

TEST(InitOutput, HardwareMixerHasNoMixingBufferAndNoTick) {
    EngineRig rig(MixerMode::Hardware);
    MixerEngine& e = rig.e();
    EngineLock lock(e.mutex);
    ASSERT_EQ(e.initOutput(), 1);
    EXPECT_EQ(e.mixBuffer, nullptr);
    EXPECT_NE(e.primaryBuffer, nullptr);
    uint32_t primaryBytes = 0;
    e.primaryBuffer->getCaps(primaryBytes);
    EXPECT_EQ(e.custom.mixBufferBytes, primaryBytes);
    e.startOutput();
    EXPECT_EQ(e.outputRunning, 1);
    EXPECT_EQ(e.mixerTimer, 0u);
    e.mixerTick();
    EXPECT_EQ(e.custom.writePos, kWritePosUnset);
}

TEST(InitOutput, FailureSaysWhyAndReleasesWhatWasMade) {
    EngineRig rig;
    rig.audio.failNextOpen("no output device");
    std::string why;
    {
        EngineLock lock(rig.e().mutex);
        EXPECT_EQ(rig.e().initOutput(&why), 0);
    }
    EXPECT_EQ(why, "no output device");
    EXPECT_EQ(rig.e().soundDevice, nullptr);

    // A rate the device cannot play fails at the format, after the primary was made.
    EngineRig bad(MixerMode::Software, 5);
    {
        EngineLock lock(bad.e().mutex);
        EXPECT_EQ(bad.e().initOutput(&why), 0);
    }
    EXPECT_NE(why.find("16-bit stereo at 5 Hz"), std::string::npos) << why;
    EXPECT_EQ(bad.e().primaryBuffer, nullptr);
    EXPECT_EQ(bad.e().mixBuffer, nullptr);
    EXPECT_EQ(bad.e().soundDevice, nullptr);
}

class MixerTick : public ::testing::Test {
protected:
    void SetUp() override {
        EngineLock lock(e().mutex);
        ASSERT_EQ(e().initOutput(), 1);
    }
    MixerEngine& e() { return rig.e(); }
    uint32_t writePos() EXCLUDES(e().mutex) {
        EngineLock lock(e().mutex);
        return e().custom.writePos;
    }
    void startOutput() {
        EngineLock lock(e().mutex);
        e().startOutput();
    }
    uint32_t ahead() REQUIRES(e().mutex) {
        return (rig.playCursor() + e().custom.writeAheadBytes) % e().custom.mixBufferBytes;
    }

    EngineRig rig;
};

TEST_F(MixerTick, FirstTickWritesWriteAheadFromThePlayCursor) {
    // Played, with the cursor moved on a little, then one tick by hand.
    e().mixBuffer->play(PlayFlags::Looping);
    rig.clock().advanceBy(12345);
    const uint32_t cursor = rig.playCursor();
    ASSERT_GT(cursor, 0u);
    Instrument& inst = rig.instrument();
    EngineRig::zone(inst, {constantSamples(44100, 4096), 44100});
    EngineLock lock(e().mutex);
    e().noteOn(60, 127, 0);
    e().mixerTick();
    EXPECT_EQ(e().custom.writePos, cursor + 52920);
    // The note fills exactly the 52920 bytes from the cursor.
    const auto written = rig.mixBufferSamples(cursor, 52920);
    ASSERT_EQ(written.size(), 26460u);
    for (size_t k = 0; k < written.size(); ++k) ASSERT_EQ(written[k], 504) << k;
    EXPECT_EQ(rig.mixBufferSamples(cursor + 52920, 4)[0], 0);
}

TEST_F(MixerTick, StartOutputWritesTheFirstWriteAheadBeforeReturning) {
    startOutput();
    EXPECT_EQ(e().outputRunning, 1);
    EXPECT_NE(e().mixerTimer, 0u);
    uint32_t status = 0;
    e().mixBuffer->getStatus(status);
    EXPECT_EQ(status, BufferStatus::Playing | BufferStatus::Looping);
    EXPECT_EQ(rig.playCursor(), 0u);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, 52920u);
    }

    // Each 20 ms tick then writes the 3528 bytes the cursor moved.
    rig.clock().advanceBy(kTick);
    EXPECT_EQ(rig.playCursor(), 3528u);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, 3528u + 52920);
    }
    // A second start while running does nothing.
    const TimerId timer = e().mixerTimer;
    startOutput();
    EXPECT_EQ(e().mixerTimer, timer);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, 3528u + 52920);
    }
}

TEST_F(MixerTick, EveryNoteIsHeardAfterTheSameWriteAhead) {
    Instrument& inst = rig.instrument();
    EngineRig::zone(inst, {constantSamples(44100, 4096), 44100});
    startOutput();
    // A note before the first timer event starts where the first write-ahead
    // ended, 0.3 s after the output started.
    rig.clock().advanceBy(5000);
    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 127, 0);
    }
    rig.clock().advanceBy(400000);
    const auto& out = rig.audio.captured();
    size_t first = 0;
    while (first < out.size() / 2 && out[2 * first] == 0) ++first;
    EXPECT_EQ(first, 13230u);  // 52920 bytes / 4

    // A note started at 1.005 s, 5 ms after a tick, is heard 0.3 s after that
    // tick, like the first: every note waits the same write-ahead.
    {
        EngineLock lock(e().mutex);
        e().silenceAll();
    }
    rig.clock().advanceTo(1005000);
    rig.audio.clearCaptured();
    const uint64_t base = rig.audio.framesConsumed();
    {
        EngineLock lock(e().mutex);
        e().noteOn(61, 127, 0);
    }
    rig.clock().advanceBy(400000);
    const auto& later = rig.audio.captured();
    size_t start = 0;
    while (start < later.size() / 2 && later[2 * start] == 0) ++start;
    EXPECT_EQ(base + start, 44100u + 13230);
}

TEST_F(MixerTick, LateTickCatchesUpAtMostTheWriteAhead) {
    startOutput();
    rig.clock().advanceBy(kTick);
    // Five events lost while busy: the next one writes the whole gap.
    mixerBusy.store(1);
    rig.clock().advanceBy(5 * kTick);
    mixerBusy.store(0);
    const uint32_t before = writePos();
    rig.clock().advanceBy(kTick);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, ahead());
        EXPECT_EQ((e().custom.writePos + e().custom.mixBufferBytes - before) % e().custom.mixBufferBytes, 6u * 3528);
    }

    // 400 ms without a tick: the cursor has passed what was written, so
    // writing starts again at the cursor, writeAheadBytes at once.
    mixerBusy.store(1);
    rig.clock().advanceBy(20 * kTick);
    mixerBusy.store(0);
    e().mixBuffer->stop();  // hold the cursor still to look at one tick
    const uint32_t cursor = rig.playCursor();
    {
        EngineLock lock(e().mutex);
        e().mixerTick();
    }
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, (cursor + 52920) % 88200);
    }
}

TEST_F(MixerTick, LostBufferIsRestoredPlayedAgainAndRewritten) {
    startOutput();
    rig.clock().advanceBy(3 * kTick);
    e().mixBuffer->simulateLoss();
    rig.clock().advanceBy(kTick);
    {
        EngineLock lock(e().mutex);
        // This tick restored and restarted the buffer and wrote nothing.
        EXPECT_EQ(e().custom.writePos, kWritePosUnset);
    }
    uint32_t status = 0;
    e().mixBuffer->getStatus(status);
    EXPECT_EQ(status, BufferStatus::Playing | BufferStatus::Looping);
    // The next one starts again at the play cursor.
    rig.clock().advanceBy(kTick);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, ahead());
    }
    EXPECT_NE(rig.playCursor(), 0u);
}

TEST_F(MixerTick, ABufferLostBeforeTheStartPlaysFromTheNextTick) {
    e().mixBuffer->simulateLoss();
    startOutput();  // the first tick restores it and plays it again
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, kWritePosUnset);
    }
    uint32_t status = 0;
    e().mixBuffer->getStatus(status);
    EXPECT_EQ(status, BufferStatus::Playing | BufferStatus::Looping);
    rig.clock().advanceBy(kTick);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, ahead());
    }
}

TEST_F(MixerTick, WritingGoesOnFromWritePosAfterARestart) {
    startOutput();
    rig.clock().advanceBy(4 * kTick);
    const uint32_t written = writePos();
    // What the transport's stop does to the output.
    TimerId timer = 0;
    {
        EngineLock lock(e().mutex);
        e().silenceAll();
        e().mixBuffer->stop();
        e().outputRunning = 0;
        timer = e().mixerTimer;
        e().mixerTimer = 0;
    }
    rig.clock().kill(timer);
    rig.clock().advanceBy(10 * kTick);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, written);
    }
    startOutput();
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, written);  // the cursor has not moved: nothing new to write
    }
    rig.clock().advanceBy(kTick);
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().custom.writePos, ahead());
    }
}

TEST_F(MixerTick, SoundRunsOnUnbrokenAcrossTheBufferEnd) {
    Instrument& inst = rig.instrument();
    EngineRig::zone(inst, {constantSamples(44100 * 4, 4096), 44100});
    // Out of step with the 20 ms grid, so that some ticks lock two regions.
    rig.clock().advanceBy(7000);
    startOutput();
    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 127, 0);
    }
    rig.clock().advanceBy(2000000);  // four times round the 0.5 s buffer
    const auto& out = rig.audio.captured();
    size_t first = 0;
    while (first < out.size() / 2 && out[2 * first] == 0) ++first;
    ASSERT_LT(first, 44100u);
    for (size_t f = first; f < out.size() / 2; ++f) {
        ASSERT_EQ(out[2 * f], 504) << "frame " << f;
        ASSERT_EQ(out[2 * f + 1], 504) << "frame " << f;
    }
}

}  // namespace
}  // namespace tonvero
