#include "support/EngineRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace tonvero {
namespace {

using test::EngineRig;

TEST(SemitoneTable, NamedEntriesAreExact) {
    buildSemitoneTable();
    EXPECT_EQ(semitoneRatio[60], 1.0f);
    EXPECT_EQ(semitoneRatio[48], 0.5f);
    EXPECT_EQ(semitoneRatio[72], 2.0f);
    EXPECT_EQ(semitoneRatio[0], 0.03125f);
    EXPECT_EQ(semitoneRatio[120], 32.0f);
    EXPECT_FLOAT_EQ(semitoneRatio[61], 1.0594631f);
    EXPECT_FLOAT_EQ(semitoneRatio[59], 0.9438743f);
}

TEST(SemitoneTable, EveryEntryIsTwoToTheDTwelfthInSinglePrecision) {
    buildSemitoneTable();
    for (int d = -60; d <= 60; ++d)
        EXPECT_EQ(semitoneRatio[60 + d], static_cast<float>(std::exp2(d / 12.0))) << "d = " << d;
}

TEST(MixerEngineObject, ConstructionSetsBothChannelColumnsAndIdleState) {
    EngineRig rig;
    MixerEngine& e = rig.e();
    EXPECT_EQ(theEngine, &e);
    EngineLock lock(e.mutex);
    for (int c = 0; c < 16; ++c) {
        const ChannelState& ch = e.channels[c];
        EXPECT_EQ(ch.program, 0);
        EXPECT_EQ(ch.modulation, 0);
        EXPECT_EQ(ch.pan, 64) << c;
        EXPECT_EQ(ch.bendRange, 2);
        EXPECT_EQ(ch.bend, 0.0f);
        EXPECT_EQ(ch.volume, 120) << c;
        EXPECT_EQ(ch.sustain, 0);
        EXPECT_EQ(ch.pitchChanged, 0);
    }
    const ChannelState& preview = e.channels[kPreviewChannel];
    EXPECT_EQ(preview.pan, 0);
    EXPECT_EQ(preview.volume, 0);
    EXPECT_EQ(preview.bendRange, 2);
    EXPECT_EQ(preview.program, 0);

    for (const Voice& v : e.voices) {
        EXPECT_EQ(v.active, 0);
        EXPECT_EQ(v.mixerVoice, -1);
        EXPECT_EQ(v.wave, nullptr);
    }
    for (const MixerVoice& m : e.custom.mixerVoices) EXPECT_EQ(m.active, 0);
    EXPECT_EQ(e.bank.instrumentCount, 0);
    for (int32_t entry : e.bank.programMap) EXPECT_EQ(entry, 0);
    EXPECT_EQ(e.outputRate, 44100);
    EXPECT_EQ(e.softwareMixer, 1);
    EXPECT_EQ(e.writePrimary, 0);
    EXPECT_EQ(e.outputRunning, 0);
    EXPECT_EQ(e.mixerTimer, 0u);
    EXPECT_EQ(e.sequencerTimer, 0u);
    EXPECT_EQ(e.lastNoteId, 0);
    EXPECT_EQ(e.custom.writeAheadSeconds, 0.3f);
    EXPECT_EQ(e.song.tracks.size(), 0);
    EXPECT_EQ(e.song.tracks.capacity(), 1);
    EXPECT_EQ(e.primaryBuffer, nullptr);
    EXPECT_EQ(e.mixBuffer, nullptr);
    EXPECT_EQ(e.soundDevice, nullptr);
}

TEST(MixerEngineObject, RewindingChannelsLeavesThePreviewChannelAlone) {
    EngineRig rig;
    MixerEngine& e = rig.e();
    EngineLock lock(e.mutex);
    for (ChannelState& ch : e.channels) {
        ch.pan = 5;
        ch.volume = 7;
        ch.bend = 1.5f;
        ch.sustain = 1;
    }
    e.resetChannels();
    EXPECT_EQ(e.channels[0].pan, 64);
    EXPECT_EQ(e.channels[15].volume, 120);
    EXPECT_EQ(e.channels[15].bend, 0.0f);
    EXPECT_EQ(e.channels[kPreviewChannel].pan, 5);
    EXPECT_EQ(e.channels[kPreviewChannel].sustain, 1);
}

TEST(MixerEngineObject, DefaultServicesNeedNoDeviceUntilInitOutput) {
    // The real timer service and the backend named by TONVERO_AUDIO; nothing
    // is opened by construction or destruction.
    MixerEngine e(MixerMode::Software, 44100);
    EXPECT_EQ(theEngine, &e);
    EXPECT_EQ(&e.timers(), &realTimerService());
    EXPECT_EQ(e.soundDevice, nullptr);
}

TEST(MixerEngineObject, DestructionAfterPlayingReleasesEverythingOnce) {
    std::weak_ptr<SoundBuffer> primary, mix;
    OfflineAudio offline;
    {
        MixerEngine e(MixerMode::Software, 44100, offline.deviceFactory(), &offline.timers());
        {
            EngineLock lock(e.mutex);
            ASSERT_EQ(e.initOutput(), 1);
        }
        Instrument& inst = *e.bank.instruments[static_cast<size_t>(e.bank.insertInstrument("a"))];
        test::EngineRig::zone(inst, {test::constantSamples(1000, 100), 22050, 1, 0, 999, 0});
        {
            EngineLock lock(e.mutex);
            e.startOutput();
            e.noteOn(60, 100, 0);
        }
        offline.timers().advanceBy(100000);
        e.sequencerTimer = offline.timers().setPeriodic(5000, [] {});
        primary = e.primaryBuffer;
        mix = e.mixBuffer;
        EXPECT_EQ(offline.timers().liveTimers(), 2u);
    }
    EXPECT_TRUE(primary.expired());
    EXPECT_TRUE(mix.expired());
    EXPECT_EQ(offline.timers().liveTimers(), 0u);
    EXPECT_EQ(theEngine, nullptr);
    offline.timers().advanceBy(100000);  // nothing fires into a destroyed engine
}

TEST(MixerEngineObject, DestructionOfAHardwareEngineReleasesItsBuffers) {
    OfflineAudio offline;
    std::weak_ptr<SoundBuffer> waveBuffer, duplicate;
    {
        MixerEngine e(MixerMode::Hardware, 44100, offline.deviceFactory(), &offline.timers());
        EngineLock lock(e.mutex);
        ASSERT_EQ(e.initOutput(), 1);
        Instrument& inst = *e.bank.instruments[static_cast<size_t>(e.bank.insertInstrument("a"))];
        test::EngineRig::zone(inst, {test::constantSamples(44100, 100), 22050});
        e.noteOn(60, 100, 0);
        e.noteOn(62, 100, 0);
        waveBuffer = e.hardware.waveBuffers[0];
        duplicate = e.hardware.voiceBuffers[0];
        ASSERT_FALSE(waveBuffer.expired());
        ASSERT_FALSE(duplicate.expired());
    }
    EXPECT_TRUE(waveBuffer.expired());
    EXPECT_TRUE(duplicate.expired());
}

TEST(MixerEngineObject, DestructionAfterAFailedInitOutputReleasesNothingTwice) {
    OfflineAudio offline;
    offline.failNextOpen("no output device");
    {
        MixerEngine e(MixerMode::Software, 44100, offline.deviceFactory(), &offline.timers());
        EngineLock lock(e.mutex);
        std::string why;
        EXPECT_EQ(e.initOutput(&why), 0);
        EXPECT_EQ(why, "no output device");
        EXPECT_EQ(e.soundDevice, nullptr);
        EXPECT_EQ(e.primaryBuffer, nullptr);
        EXPECT_EQ(e.mixBuffer, nullptr);
    }
    EXPECT_EQ(theEngine, nullptr);
    { MixerEngine never(MixerMode::Software, 44100, offline.deviceFactory(), &offline.timers()); }
    EXPECT_EQ(theEngine, nullptr);
}

TEST(MixerTimerProc, AnEventThatFindsTheFlagSetDoesNothing) {
    EngineRig rig;
    MixerEngine& e = rig.e();
    uint32_t before = 0;
    {
        EngineLock lock(e.mutex);
        ASSERT_EQ(e.initOutput(), 1);
        e.startOutput();
        before = e.custom.writePos;
    }
    mixerBusy.store(1);
    rig.clock().advanceBy(kMixerPeriodMicros);  // one event, lost
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.custom.writePos, before);
    }
    EXPECT_EQ(mixerBusy.load(), 1);  // left as the running callback owns it
    mixerBusy.store(0);
    rig.clock().advanceBy(kMixerPeriodMicros);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.custom.writePos, (rig.playCursor() + e.custom.writeAheadBytes) % e.custom.mixBufferBytes);
    }
    EXPECT_EQ(mixerBusy.load(), 0);
}

}  // namespace
}  // namespace tonvero

namespace tonvero {
namespace {

// The real timer service and the null backend: the mixer timer runs on its
// own thread while this thread starts notes under the lock, then the engine
// is destroyed with the timer still running. Nothing is timed; the test
// shows the locking lets both sides finish.
TEST(MixerEngineThreads, NotesUnderTheLockWhileTheRealMixerTimerRuns) {
    auto engine =
        std::make_unique<MixerEngine>(MixerMode::Software, 44100, backendDeviceFactory("null"), &realTimerService());
    MixerEngine& e = *engine;
    Instrument& inst = *e.bank.instruments[static_cast<size_t>(e.bank.insertInstrument("a"))];
    test::EngineRig::zone(inst, {test::constantSamples(2000, 300), 22050, 1, 100, 1999});
    uint32_t lastWritePos = 0;
    {
        EngineLock lock(e.mutex);
        ASSERT_EQ(e.initOutput(), 1);
        e.startOutput();
        lastWritePos = e.custom.writePos;
    }
    ASSERT_NE(e.mixerTimer, 0u);
    // Until the timer thread has written five times (bounded, in case it never runs).
    int writes = 0;
    for (int k = 0; writes < 5 && k < 20000000; ++k) {
        {
            EngineLock lock(e.mutex);
            ++e.song.currentTick;
            if (k % 3 == 2)
                e.noteOff(30 + (k % 50), 0);
            else
                e.noteOn(30 + (k % 50), 100, 0);
            if (e.custom.writePos != lastWritePos) {
                lastWritePos = e.custom.writePos;
                ++writes;
            }
        }
        std::this_thread::yield();
    }
    EXPECT_EQ(writes, 5);
    engine.reset();
    EXPECT_EQ(theEngine, nullptr);
}

}  // namespace
}  // namespace tonvero
