// The transport: play, stop, pause and resume in every state, rewinding, the
// tempo's derived values, and stop's promise that no callback still runs.

#include "platform/RealTimerService.h"
#include "song/Sequencer.h"
#include "support/EngineRig.h"

#include <gtest/gtest.h>

#include <thread>

namespace tonvero::test {
namespace {

int soundingCount(const MixerEngine& e) EXCLUDES(e.mutex) {
    EngineLock lock(e.mutex);
    int n = 0;
    for (const MixerVoice& m : e.custom.mixerVoices) n += m.active;
    return n;
}

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        WaveShape tone;
        tone.looped = 1;
        tone.loopEnd = 4409;
        tone.cutoffFading = 8 << 16;
        addTone(rig.e().bank, "tone", tone);
        MidiWriter w(0, 96);
        w.track().noteOn(0, 0, 60, 100).noteOff(96, 0, 60).noteOn(0, 0, 62, 100).noteOff(96, 0, 62).endOfTrack(0);
        song = w.bytes();  // 1 s long
    }
    void load() { ASSERT_EQ(rig.load(song), SongLoadResult::Loaded); }
    void expectIdle() {
        MixerEngine& e = rig.e();
        EXPECT_EQ(rig.status(), TransportStatus::Idle);
        {
            EngineLock lock(e.mutex);
            EXPECT_EQ(e.playing, 0);
        }
        EXPECT_EQ(e.outputRunning, 0);
        EXPECT_EQ(e.sequencerTimer, 0u);
        EXPECT_EQ(e.mixerTimer, 0u);
        EXPECT_EQ(rig.clock().liveTimers(), 0u);
        EXPECT_EQ(soundingCount(e), 0);
    }
    // Advances until the song has ended and is playing out its last sound.
    void runToEnding() {
        while (rig.status() == TransportStatus::Playing) rig.clock().advanceToNextDeadline();
        ASSERT_EQ(rig.status(), TransportStatus::Ending);
    }
    SongRig rig;
    Bytes song;
};

TEST_F(Transport, PlayWithoutASongDoesNothing) {
    EXPECT_EQ(play(rig.e()), 0);
    expectIdle();
}

TEST_F(Transport, PlayStartsTheSequencerAndTheOutput) {
    load();
    MixerEngine& e = rig.e();
    EXPECT_EQ(play(e), 1);
    EXPECT_EQ(rig.status(), TransportStatus::Playing);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.playing, 1);
    }
    EXPECT_EQ(e.outputRunning, 1);
    EXPECT_NE(e.sequencerTimer, 0u);
    EXPECT_NE(e.mixerTimer, 0u);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.song.tempo, 500000);
        EXPECT_EQ(e.song.currentTick, 0u);
        EXPECT_EQ(e.song.ticksPerTimerEvent, 2);
    }
    {
        EngineLock lock(e.mutex);
        EXPECT_DOUBLE_EQ(songLengthSeconds(e), 1.0);
    }
    rig.advance(500000);
    {
        EngineLock lock(e.mutex);
        EXPECT_NEAR(songPositionSeconds(e), 0.5, 0.011);
    }
}

TEST_F(Transport, PlayWhilePlayingStartsAgainFromTheBeginning) {
    load();
    MixerEngine& e = rig.e();
    play(e);
    rig.advance(600000);
    {
        EngineLock lock(e.mutex);
        EXPECT_GT(e.song.currentTick, 100u);
    }
    EXPECT_EQ(play(e), 1);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.song.currentTick, 0u);
        EXPECT_EQ(e.playing, 1);
    }
    EXPECT_EQ(rig.clock().liveTimers(), 2u);
    EXPECT_EQ(soundingCount(e), 0);
}

TEST_F(Transport, StopInEveryState) {
    MixerEngine& e = rig.e();
    stop(e);  // idle: harmless
    expectIdle();

    load();
    play(e);
    rig.advance(100000);
    {
        EngineLock lock(e.mutex);
        ASSERT_GT(e.custom.mixerVoices[0].active + e.custom.mixerVoices[1].active, 0);
    }
    stop(e);  // playing
    expectIdle();
    stop(e);
    expectIdle();

    play(e);
    rig.advance(100000);
    pause(e);
    stop(e);  // paused
    expectIdle();

    play(e);
    runToEnding();
    stop(e);  // ending: at once
    expectIdle();

    {
        EngineLock lock(e.mutex);
        e.previewNote(e.bank.instruments[0].get(), e.bank.instruments[0]->zones[0]);
    }
    EXPECT_EQ(rig.status(), TransportStatus::Previewing);
    stop(e);  // previewing
    expectIdle();
}

TEST_F(Transport, PlayInEveryState) {
    MixerEngine& e = rig.e();
    load();
    // While ending: starts again at once.
    play(e);
    runToEnding();
    EXPECT_EQ(play(e), 1);
    EXPECT_EQ(rig.status(), TransportStatus::Playing);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.song.currentTick, 0u);
        EXPECT_EQ(e.song.playback.ending, 0);
    }
    EXPECT_EQ(rig.clock().liveTimers(), 2u);

    // While paused.
    rig.advance(300000);
    pause(e);
    EXPECT_EQ(play(e), 1);
    EXPECT_EQ(rig.status(), TransportStatus::Playing);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.song.currentTick, 0u);
    }

    // While previewing: the song starts; the output is already running.
    stop(e);
    {
        EngineLock lock(e.mutex);
        e.previewNote(e.bank.instruments[0].get(), e.bank.instruments[0]->zones[0]);
    }
    EXPECT_EQ(play(e), 1);
    EXPECT_EQ(rig.status(), TransportStatus::Playing);
    EXPECT_EQ(rig.clock().liveTimers(), 2u);
    EXPECT_TRUE(rig.runUntilIdle());
}

TEST_F(Transport, PauseHoldsTheSongWhereItIs) {
    MixerEngine& e = rig.e();
    pause(e);  // nothing plays: nothing happens
    expectIdle();
    load();
    play(e);
    rig.advance(300000);
    uint32_t tick = 0;
    double position = 0;
    {
        EngineLock lock(e.mutex);
        tick = e.song.currentTick;
        position = songPositionSeconds(e);
    }
    pause(e);
    EXPECT_EQ(rig.status(), TransportStatus::Paused);
    EXPECT_EQ(rig.clock().liveTimers(), 0u);
    uint32_t cursor = 0;
    e.mixBuffer->getCurrentPosition(&cursor, nullptr);
    rig.advance(5000000);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.song.currentTick, tick);
        EXPECT_EQ(songPositionSeconds(e), position);
    }
    uint32_t heldCursor = 0;
    e.mixBuffer->getCurrentPosition(&heldCursor, nullptr);
    EXPECT_EQ(heldCursor, cursor);
    EXPECT_EQ(soundingCount(e), 1);  // the note sounds on when resumed
    pause(e);                        // already paused
    resume(e);
    EXPECT_EQ(rig.status(), TransportStatus::Playing);
    EXPECT_EQ(rig.clock().liveTimers(), 2u);
    rig.advance(100000);
    {
        EngineLock lock(e.mutex);
        EXPECT_GT(e.song.currentTick, tick);
    }
    resume(e);  // not paused: nothing
    EXPECT_TRUE(rig.runUntilIdle());
}

TEST_F(Transport, RewindResetsTracksAndTheSongChannelsOnly) {
    load();
    MixerEngine& e = rig.e();
    play(e);
    rig.advance(700000);
    stop(e);
    EngineLock lock(e.mutex);
    e.channels[0].pan = 3;
    e.channels[0].bend = 1.5f;
    e.channels[0].bendRange = 9;
    e.channels[0].pitchChanged = 1;
    e.channels[kPreviewChannel].pan = 99;
    rewindSong(e);
    EXPECT_EQ(e.channels[0].pan, 64);
    EXPECT_EQ(e.channels[0].bendRange, 2);
    EXPECT_EQ(e.channels[0].volume, 120);
    EXPECT_EQ(e.channels[0].bend, 0.0f);
    EXPECT_EQ(e.channels[0].pitchChanged, 0);
    EXPECT_EQ(e.channels[kPreviewChannel].pan, 99);
    const Track& t = *e.song.tracks.at(0);
    EXPECT_EQ(t.position, 1);  // past the first delta
    EXPECT_EQ(t.nextEventTick, 0);
    EXPECT_EQ(t.ended, 0);
}

TEST_F(Transport, TempoGivesTheTickLength) {
    load();
    MixerEngine& e = rig.e();
    EngineLock lock(e.mutex);
    setTempo(e, 500000);
    EXPECT_FLOAT_EQ(e.song.secondsPerTick, 500000.0f / 96 * 1e-6f);
    EXPECT_FLOAT_EQ(e.song.ticksPerSecond, 192.0f);
    e.song.ticksPerTimerEvent = 2;
    EXPECT_EQ(sequencerPeriodMicros(e), 10417u);
    setTempo(e, 1000000);
    EXPECT_FLOAT_EQ(e.song.ticksPerSecond, 96.0f);
}

TEST(TransportThreads, StopReturnsWithNoCallbackRunning) {
    // Real timers on their own thread, the offline device (its cursor stands
    // still, which does not matter here): stop must wait for a running
    // sequencer or mixer callback, whenever it comes.
    RealTimerService timers;
    OfflineAudio audio;
    MixerEngine engine(MixerMode::Software, 44100, audio.deviceFactory(), &timers);
    {
        EngineLock lock(engine.mutex);
        ASSERT_EQ(engine.initOutput(), 1);
        addTone(engine.bank, "tone");
    }
    MidiWriter w(0, 2000);  // 250 us ticks: a timer event every millisecond
    auto& track = w.track();
    for (int i = 0; i < 200; ++i) track.noteOn(4, 0, 40 + i % 40, 100).noteOff(4, 0, 40 + i % 40);
    track.endOfTrack(0);
    SongImage image;
    ASSERT_EQ(parseSong(w.bytes(), image), SongLoadResult::Loaded);
    {
        EngineLock lock(engine.mutex);
        installSong(engine, std::move(image));
    }
    for (int round = 0; round < 40; ++round) {
        ASSERT_EQ(play(engine), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200 + 97 * round));
        stop(engine);
        EXPECT_EQ(sequencerBusy.load(), 0);
        EXPECT_EQ(mixerBusy.load(), 0);
        EngineLock lock(engine.mutex);
        EXPECT_EQ(engine.sequencerTimer, 0u);
        EXPECT_EQ(engine.mixerTimer, 0u);
        EXPECT_EQ(engine.playing, 0);
    }
}

}  // namespace
}  // namespace tonvero::test

namespace tonvero::test {
namespace {

bool anyBufferPlays(MixerEngine& e) {
    for (const auto* slots : {&e.hardware.waveBuffers, &e.hardware.voiceBuffers})
        for (const SoundBufferPtr& b : *slots) {
            uint32_t status = 0;
            if (b && succeeded(b->getStatus(status)) && (status & BufferStatus::Playing)) return true;
        }
    return false;
}

TEST(TransportHardware, StopAndPauseReachTheVoicesOwnBuffers) {
    SongRig rig(MixerMode::Hardware);
    WaveShape tone;
    tone.looped = 1;
    tone.loopEnd = 4409;
    addTone(rig.e().bank, "tone", tone);
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 60, 100).noteOn(0, 1, 64, 100).endOfTrack(192);
    ASSERT_EQ(rig.load(w), SongLoadResult::Loaded);
    MixerEngine& e = rig.e();
    ASSERT_EQ(play(e), 1);
    rig.advance(100000);
    ASSERT_TRUE(anyBufferPlays(e));

    pause(e);
    EXPECT_FALSE(anyBufferPlays(e));
    EXPECT_EQ(rig.clock().liveTimers(), 0u);
    resume(e);
    EXPECT_TRUE(anyBufferPlays(e));
    uint32_t status = 0;
    {
        EngineLock lock(e.mutex);
        e.hardware.waveBuffers[0]->getStatus(status);
    }
    EXPECT_TRUE(status & BufferStatus::Looping);

    // Stop silences the hardware mixer too: a looped note would sound on.
    stop(e);
    EXPECT_FALSE(anyBufferPlays(e));
    EXPECT_EQ(rig.status(), TransportStatus::Idle);
}

}  // namespace
}  // namespace tonvero::test
