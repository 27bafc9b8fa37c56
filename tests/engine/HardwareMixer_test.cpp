// The hardware mixer on the offline device: one device buffer per sounding
// note, Wave buffers and their duplicates, volume and pan, and the release.

#include "support/EngineRig.h"

#include <gtest/gtest.h>

namespace tonvero {
namespace {

using test::constantSamples;
using test::EngineRig;

class HardwareMixer : public ::testing::Test {
protected:
    HardwareMixer() : rig(MixerMode::Hardware) {}
    void SetUp() override {
        {
            EngineLock lock(e().mutex);
            ASSERT_EQ(e().initOutput(), 1);
        }
        inst = &rig.instrument("organ");
        // Two seconds at 22050 Hz: long enough to keep sounding through a test.
        zone = &EngineRig::zone(*inst, {constantSamples(44100, 2000), 22050}, 60, 0, 127);
    }
    MixerEngine& e() { return rig.e(); }
    SoundBuffer* bufferOfVoice(size_t voice) EXCLUDES(e().mutex) {
        EngineLock lock(e().mutex);
        return e().bufferOf(e().voices[voice]);
    }
    int32_t volumeOf(int32_t ref) REQUIRES(e().mutex) {
        int32_t v = 0;
        (*e().bufferSlot(ref))->getVolume(v);
        return v;
    }
    int32_t panOf(int32_t ref) REQUIRES(e().mutex) {
        int32_t p = 0;
        (*e().bufferSlot(ref))->getPan(p);
        return p;
    }
    uint32_t statusOf(const SoundBuffer* b) {
        uint32_t s = 0;
        b->getStatus(s);
        return s;
    }
    uint32_t cursorOf(const SoundBuffer* b) {
        uint32_t c = 0;
        b->getCurrentPosition(&c, nullptr);
        return c;
    }

    EngineRig rig;
    Instrument* inst = nullptr;
    Zone* zone = nullptr;
};

TEST_F(HardwareMixer, VolumeFollowsVelocityOnly) {
    EngineLock lock(e().mutex);
    e().noteOn(60, 127, 0);
    e().noteOn(61, 64, 0);
    e().previewNote(inst, zone);
    EXPECT_EQ(volumeOf(e().voices[0].bufferRef), -1000);
    EXPECT_EQ(volumeOf(e().voices[1].bufferRef), -1984);
    EXPECT_EQ(volumeOf(e().voices[2].bufferRef), -992);
    // Velocities of 12 and less would ask for less than the device's floor.
    e().noteOn(62, 12, 0);
    EXPECT_EQ(volumeOf(e().voices[3].bufferRef), -10000);
}

TEST_F(HardwareMixer, PanMapsOntoTheDeviceRange) {
    const int32_t pans[] = {0, 32, 64, 96, 127};
    const int32_t expected[] = {-10000, -5000, 0, 5000, 9843};
    EngineLock lock(e().mutex);
    for (int k = 0; k < 5; ++k) {
        e().channels[static_cast<size_t>(k)].pan = pans[k];
        e().noteOn(60, 100, k);
        EXPECT_EQ(panOf(e().voices[static_cast<size_t>(k)].bufferRef), expected[k]) << pans[k];
    }
}

TEST_F(HardwareMixer, FrequencyAndLoopingFollowTheNote) {
    EngineLock lock(e().mutex);
    e().noteOn(72, 100, 0);
    SoundBuffer* b = e().bufferOf(e().voices[0]);
    ASSERT_NE(b, nullptr);
    uint32_t hz = 0;
    b->getFrequency(hz);
    EXPECT_EQ(hz, 44100u);
    EXPECT_EQ(statusOf(b), BufferStatus::Playing);
    zone->wave->looped = 1;
    e().noteOn(60, 100, 0);
    EXPECT_EQ(statusOf(e().bufferOf(e().voices[1])), BufferStatus::Playing | BufferStatus::Looping);
}

TEST_F(HardwareMixer, WaveBufferThenTwoDuplicatesForThreeNotes) {
    const size_t before = e().soundDevice->liveBuffers();
    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 100, 0);
        e().noteOn(64, 100, 0);
        e().noteOn(67, 100, 0);
    }
    EXPECT_EQ(zone->wave->bufferSlot, 0);
    EXPECT_EQ(zone->wave->deviceBuffer, nullptr);  // handed over to the engine
    {
        EngineLock lock(e().mutex);
        EXPECT_EQ(e().voices[0].bufferRef, 0);
        EXPECT_EQ(e().voices[1].bufferRef, kBufferSlots + 0);
        EXPECT_EQ(e().voices[2].bufferRef, kBufferSlots + 1);
        ASSERT_NE(e().hardware.waveBuffers[0], nullptr);
        ASSERT_NE(e().hardware.voiceBuffers[0], nullptr);
        ASSERT_NE(e().hardware.voiceBuffers[1], nullptr);
    }
    EXPECT_EQ(e().soundDevice->liveBuffers(), before + 3);
    {
        EngineLock lock(e().mutex);
        for (int32_t ref : {0, kBufferSlots, kBufferSlots + 1})
            EXPECT_EQ(statusOf(e().bufferSlot(ref)->get()), BufferStatus::Playing);
    }

    // All three play the same samples, at their own pitches.
    rig.clock().advanceBy(2100000);  // past the end of every note
    {
        EngineLock lock(e().mutex);
        for (int32_t ref : {0, kBufferSlots, kBufferSlots + 1}) EXPECT_EQ(statusOf(e().bufferSlot(ref)->get()), 0u);
    }
    {
        EngineLock lock(e().mutex);
        // The next note plays on the Wave's own buffer again, and the idle
        // duplicates are released at the end of its start.
        e().noteOn(62, 100, 0);
        EXPECT_EQ(e().voices[3].bufferRef, 0);
        EXPECT_EQ(e().hardware.voiceBuffers[0], nullptr);
        EXPECT_EQ(e().hardware.voiceBuffers[1], nullptr);
    }
    EXPECT_EQ(e().soundDevice->liveBuffers(), before + 1);
}

TEST_F(HardwareMixer, LoopedReleasePlaysFromLoopEndToTheEnd) {
    Wave& w = *zone->wave;
    w.looped = 1;
    w.loopEnd = 30000;
    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 127, 0);
    }
    SoundBuffer* b = bufferOfVoice(0);
    rig.clock().advanceBy(100000);  // 0.1 s: sample 2205
    EXPECT_EQ(cursorOf(b), 4410u);
    {
        EngineLock lock(e().mutex);
        e().noteOff(60, 0);
        EXPECT_EQ(e().voices[0].active, 0);
    }
    EXPECT_EQ(statusOf(b), BufferStatus::Playing);  // no longer looping
    EXPECT_EQ(cursorOf(b), 60000u);                 // at sample loopEnd
    // The rest, 14100 samples at 22050 Hz, lasts 0.64 s; then it stops.
    rig.clock().advanceBy(630000);
    EXPECT_EQ(statusOf(b), BufferStatus::Playing);
    rig.clock().advanceBy(20000);
    EXPECT_EQ(statusOf(b), 0u);
}

TEST_F(HardwareMixer, ReleaseWithLoopEndZeroPlaysOnFromWhereItIs) {
    Wave& w = *zone->wave;
    w.looped = 1;
    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 127, 0);
    }
    SoundBuffer* b = bufferOfVoice(0);
    rig.clock().advanceBy(2500000);  // once round the 2 s Wave and 0.5 s on
    const uint32_t cursor = cursorOf(b);
    EXPECT_EQ(cursor, 22050u);
    {
        EngineLock lock(e().mutex);
        e().noteOff(60, 0);
    }
    EXPECT_EQ(cursorOf(b), cursor);
    EXPECT_EQ(statusOf(b), BufferStatus::Playing);
    rig.clock().advanceBy(1490000);
    EXPECT_EQ(statusOf(b), BufferStatus::Playing);
    rig.clock().advanceBy(20000);
    EXPECT_EQ(statusOf(b), 0u);
}

TEST_F(HardwareMixer, ReleasePointPastTheSamplesEndsTheNote) {
    zone->wave->loopEnd = 50000;  // beyond the 44100 samples
    EngineLock lock(e().mutex);
    e().noteOn(60, 127, 0);
    SoundBuffer* b = e().bufferOf(e().voices[0]);
    e().noteOff(60, 0);
    EXPECT_EQ(statusOf(b), 0u);
}

TEST_F(HardwareMixer, AReleaseReachesOnlyTheBufferOfItsOwnNote) {
    Wave& w = *zone->wave;
    w.loopEnd = 20000;
    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 100, 0);  // Voice 0 on the Wave's buffer
    }
    rig.clock().advanceBy(2100000);  // its sound has ended; the key is still held
    {
        EngineLock lock(e().mutex);
        e().noteOn(61, 100, 1);  // Voice 1 plays on the same buffer
        ASSERT_EQ(e().voices[1].bufferRef, 0);
    }
    SoundBuffer* b = nullptr;
    {
        EngineLock lock(e().mutex);
        b = e().hardware.waveBuffers[0].get();
        EXPECT_EQ(e().bufferOf(e().voices[0]), nullptr);
        EXPECT_EQ(e().bufferOf(e().voices[1]), b);
    }
    rig.clock().advanceBy(10000);
    const uint32_t cursor = cursorOf(b);
    {
        EngineLock lock(e().mutex);
        e().noteOff(60, 0);  // must not move the later note to its release point
        EXPECT_EQ(e().voices[0].active, 0);
    }
    EXPECT_EQ(cursorOf(b), cursor);
    {
        EngineLock lock(e().mutex);
        e().noteOff(61, 1);
    }
    EXPECT_EQ(cursorOf(b), 40000u);
}

TEST_F(HardwareMixer, ADuplicateWithNoFreeSlotIsReleasedAtOnce) {
    EngineLock lock(e().mutex);
    // The Wave's buffer and 31 duplicates for 32 held notes.
    for (int k = 0; k < kVoiceCount; ++k) {
        e().song.currentTick = static_cast<uint32_t>(k);
        e().noteOn(k, 100, 0);
    }
    // The 33rd steals Voice 0, whose sound plays on, and takes the last duplicate slot.
    e().song.currentTick = 100;
    e().noteOn(40, 100, 0);
    EXPECT_EQ(e().voices[0].bufferRef, kBufferSlots + 31);
    const size_t live = e().soundDevice->liveBuffers();
    // The 34th finds every slot taken: silent, and no buffer is left behind.
    e().song.currentTick = 101;
    e().noteOn(41, 100, 0);
    EXPECT_EQ(e().voices[1].active, 1);
    EXPECT_EQ(e().voices[1].bufferRef, -1);
    EXPECT_EQ(e().bufferOf(e().voices[1]), nullptr);
    EXPECT_EQ(e().soundDevice->liveBuffers(), live);
    e().noteOff(41, 0);  // releasing the silent note touches no buffer
}

TEST_F(HardwareMixer, ReclaimFreesIdleDuplicatesBeforeTheRetry) {
    e().soundDevice->setBufferLimit(2);
    Instrument& other = rig.instrument("other");
    EngineRig::zone(other, {constantSamples(100, 5), 22050});
    e().bank.programMap[1] = 1;
    {
        EngineLock lock(e().mutex);
        e().channels[1].program = 1;
    }

    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 100, 0);
        e().noteOn(61, 100, 0);  // a duplicate: the device is full
        ASSERT_NE(e().hardware.voiceBuffers[0], nullptr);
    }
    rig.clock().advanceBy(2100000);  // both stop
    {
        EngineLock lock(e().mutex);
        e().noteOn(60, 100, 1);  // the other Wave: creation fails, reclaim, retry succeeds
        EXPECT_EQ(e().hardware.voiceBuffers[0], nullptr);
    }
    EXPECT_EQ(other.zones[0]->wave->bufferSlot, 1);
    {
        EngineLock lock(e().mutex);
        EXPECT_NE(e().bufferOf(e().voices[2]), nullptr);
    }
}

TEST_F(HardwareMixer, CuttingAWaveFreesItsBufferSlot) {
    EngineLock lock(e().mutex);
    e().noteOn(60, 100, 0);
    e().noteOn(61, 100, 0);
    const size_t live = e().soundDevice->liveBuffers();
    e().cutVoicesOf(*inst);
    EXPECT_EQ(e().hardware.waveBuffers[0], nullptr);
    EXPECT_EQ(e().hardware.voiceBuffers[0], nullptr);
    EXPECT_EQ(e().voices[0].active, 0);
    EXPECT_EQ(e().soundDevice->liveBuffers(), live - 2);
    // A new Wave takes the freed slot.
    e().bank.deleteInstrument(0);
    Instrument& fresh = rig.instrument("fresh");
    Zone& z = EngineRig::zone(fresh, {constantSamples(100, 5), 22050});
    e().noteOn(60, 100, 0);
    EXPECT_EQ(z.wave->bufferSlot, 0);
}

TEST_F(HardwareMixer, EmptyWaveIsSilent) {
    Instrument& empty = rig.instrument("empty");
    EngineRig::zone(empty, {{}, 22050});
    e().bank.programMap[1] = 1;
    EngineLock lock(e().mutex);
    e().channels[1].program = 1;
    e().noteOn(60, 100, 1);
    EXPECT_EQ(e().voices[0].active, 1);
    EXPECT_EQ(e().voices[0].bufferRef, -1);
    EXPECT_EQ(e().hardware.waveBuffers[0], nullptr);
}

TEST(FillBuffer, RefusesNothingToCopyAndCopiesOtherwise) {
    EngineRig rig(MixerMode::Hardware);
    EngineLock lock(rig.e().mutex);
    ASSERT_EQ(rig.e().initOutput(), 1);
    const WaveFormat mono = WaveFormat::pcm16(1, 22050);
    BufferDesc desc;
    desc.flags = BufferFlags::Static;
    desc.bufferBytes = 8;
    desc.format = &mono;
    SoundBufferPtr b;
    ASSERT_TRUE(succeeded(rig.e().soundDevice->createSoundBuffer(desc, b)));
    const int16_t samples[4] = {1, -2, 3, -4};
    EXPECT_EQ(MixerEngine::fillBuffer(nullptr, samples, 8), 0);
    EXPECT_EQ(MixerEngine::fillBuffer(b.get(), nullptr, 8), 0);
    EXPECT_EQ(MixerEngine::fillBuffer(b.get(), samples, 0), 0);
    EXPECT_EQ(MixerEngine::fillBuffer(b.get(), samples, 16), 0);  // larger than the buffer
    EXPECT_EQ(MixerEngine::fillBuffer(b.get(), samples, 8), 1);
    LockedRegions r;
    ASSERT_TRUE(succeeded(b->lock(0, 8, r)));
    int16_t back[4];
    std::memcpy(back, r.first, 8);
    b->unlock(r);
    EXPECT_EQ(back[3], -4);
}

}  // namespace
}  // namespace tonvero
