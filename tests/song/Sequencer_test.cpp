// The sequencer tick: dispatch order, running status, every message kind the
// engine hears of, meta events, tempo changes and their timer periods, the
// pitch update, and the end of the song.

#include "song/Sequencer.h"
#include "support/EngineRig.h"

#include <gtest/gtest.h>

namespace tonvero::test {
namespace {

// Runs timer events until the sequencer has processed every tick before `tick`.
uint32_t tickOf(MixerEngine& e) EXCLUDES(e.mutex) {
    EngineLock lock(e.mutex);
    return e.song.currentTick;
}

bool plays(MixerEngine& e) EXCLUDES(e.mutex) {
    EngineLock lock(e.mutex);
    return e.playing != 0;
}

// Channel `channel` as the engine has it now.
ChannelState channelOf(SongRig& rig, int channel) EXCLUDES(rig.e().mutex) {
    EngineLock lock(rig.e().mutex);
    return rig.e().channels[static_cast<size_t>(channel)];
}

void runToTick(SongRig& rig, uint32_t tick) EXCLUDES(rig.e().mutex) {
    for (int guard = 0; guard < 100000 && tickOf(rig.e()) < tick; ++guard)
        if (!rig.clock().advanceToNextDeadline()) break;
    {
        EngineLock lock(rig.e().mutex);
        ASSERT_GE(rig.e().song.currentTick, tick);
    }
}

// The lowest active Voice playing `key` on `channel`, or null.
const Voice* voiceHolding(MixerEngine& e, int key, int channel = 0) REQUIRES(e.mutex) {
    for (const Voice& v : e.voices)
        if (v.active && v.key == key && v.channel == channel) return &v;
    return nullptr;
}

const Voice* heldVoice(MixerEngine& e, int key, int channel = 0) EXCLUDES(e.mutex) {
    EngineLock lock(e.mutex);
    return voiceHolding(e, key, channel);
}

int heldCount(MixerEngine& e) EXCLUDES(e.mutex) {
    EngineLock lock(e.mutex);
    int n = 0;
    for (const Voice& v : e.voices) n += v.active;
    return n;
}

class Sequencer : public ::testing::Test {
protected:
    void SetUp() override { addTone(rig.e().bank, "tone", looped()); }
    static WaveShape looped() {
        WaveShape tone;
        tone.looped = 1;
        tone.loopBegin = 0;
        tone.loopEnd = 4409;
        tone.holdPos = 0;
        tone.cutoffFading = 0x10000;
        return tone;
    }
    void start(const MidiWriter& w) {
        ASSERT_EQ(rig.load(w), SongLoadResult::Loaded);
        ASSERT_EQ(play(rig.e()), 1);
    }
    SongRig rig;
};

TEST_F(Sequencer, NoteOnWithVelocityZeroReleasesLikeNoteOff) {
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 60, 100).noteOn(10, 0, 60, 0).noteOn(10, 0, 62, 100).noteOff(10, 0, 62).endOfTrack(10);
    start(w);
    runToTick(rig, 1);
    EXPECT_NE(heldVoice(rig.e(), 60), nullptr);
    runToTick(rig, 11);
    EXPECT_EQ(heldVoice(rig.e(), 60), nullptr);
    runToTick(rig, 21);
    EXPECT_NE(heldVoice(rig.e(), 62), nullptr);
    runToTick(rig, 31);
    EXPECT_EQ(heldCount(rig.e()), 0);
}

TEST_F(Sequencer, RunningStatusSurvivesMetaEvents) {
    MidiWriter w(0, 96);
    w.track()
        .noteOn(0, 3, 0x3C, 0x40)
        .running(10, {0x3E, 0x40})
        .meta(5, 0x01, {'h', 'i'})
        .running(5, {0x40, 0x40})
        .endOfTrack(10);
    start(w);
    runToTick(rig, 21);
    EXPECT_NE(heldVoice(rig.e(), 0x3C, 3), nullptr);
    EXPECT_NE(heldVoice(rig.e(), 0x3E, 3), nullptr);
    EXPECT_NE(heldVoice(rig.e(), 0x40, 3), nullptr);
}

TEST_F(Sequencer, SystemExclusiveTakesOverTheRunningStatus) {
    MidiWriter w(0, 96);
    w.track()
        .sysex(0, {0x7E, 0x7F, 0xF7})
        // A data byte after it is dropped; the next bytes are read as another
        // block: length 2, then 0x90 0x41 as its contents.
        .running(0, {0x3C, 0x02, 0x90, 0x41})
        .noteOn(0, 2, 0x45, 100)
        .endOfTrack(10);
    start(w);
    runToTick(rig, 1);
    EXPECT_NE(heldVoice(rig.e(), 0x45, 2), nullptr);
    EXPECT_EQ(heldCount(rig.e()), 1);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tracks.at(0)->runningKind; }), 1);
    runToTick(rig, 11);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tracks.at(0)->ended; }), 1);
}

TEST_F(Sequencer, TracksAtOneTickAreDispatchedInTrackOrder) {
    Bank& bank = rig.e().bank;
    const int32_t other = addTone(bank, "other");
    bank.programMap[5] = other;
    const Wave* first = bank.instruments[0]->zones[0]->wave.get();
    const Wave* second = bank.instruments[static_cast<size_t>(other)]->zones[0]->wave.get();

    MidiWriter programFirst(1, 96);
    programFirst.track().program(4, 0, 5).endOfTrack(50);
    programFirst.track().noteOn(4, 0, 60, 100).endOfTrack(50);
    start(programFirst);
    runToTick(rig, 5);
    ASSERT_NE(heldVoice(rig.e(), 60), nullptr);
    EXPECT_EQ(heldVoice(rig.e(), 60)->wave, second);

    MidiWriter noteFirst(1, 96);
    noteFirst.track().noteOn(4, 0, 61, 100).endOfTrack(50);
    noteFirst.track().program(4, 0, 5).endOfTrack(50);
    start(noteFirst);
    runToTick(rig, 5);
    ASSERT_NE(heldVoice(rig.e(), 61), nullptr);
    EXPECT_EQ(heldVoice(rig.e(), 61)->wave, first);
}

TEST_F(Sequencer, EventsOfOneTickAreDispatchedInOnePass) {
    MidiWriter w(0, 96);
    w.track().noteOn(3, 0, 60, 100).noteOn(0, 0, 62, 100).noteOn(0, 0, 64, 100).endOfTrack(20);
    start(w);
    runToTick(rig, 2);  // two ticks to an event: ticks 0 and 1
    EXPECT_EQ(heldCount(rig.e()), 0);
    runToTick(rig, 4);
    ASSERT_EQ(heldCount(rig.e()), 3);
    EXPECT_EQ(heldVoice(rig.e(), 60)->startTick, 3u);
    EXPECT_EQ(heldVoice(rig.e(), 64)->startTick, 3u);
}

TEST_F(Sequencer, DataEntrySetsTheBendRange) {
    MidiWriter w(0, 96);
    w.track()
        .pitchBend(0, 0, 12288)    // bend 1.0 with range 2
        .controller(10, 0, 6, 12)  // range 12: bend 1.0 x (12 / 2)
        .controller(10, 0, 6, 1)   // range 1: bend x (1 / 12), an integer quotient of 0
        .controller(10, 0, 6, 64)  // values of 64 and more are ignored
        .endOfTrack(10);
    start(w);
    ChannelState ch;
    runToTick(rig, 1);
    ch = channelOf(rig, 0);
    EXPECT_EQ(ch.bend, 1.0f);
    EXPECT_EQ(ch.bendRange, 2);
    runToTick(rig, 11);
    ch = channelOf(rig, 0);
    EXPECT_EQ(ch.bendRange, 12);
    EXPECT_EQ(ch.bend, 6.0f);
    runToTick(rig, 21);
    ch = channelOf(rig, 0);
    EXPECT_EQ(ch.bendRange, 1);
    EXPECT_EQ(ch.bend, 0.0f);
    EXPECT_EQ(ch.pitchChanged, 1);
    runToTick(rig, 31);
    ch = channelOf(rig, 0);
    EXPECT_EQ(ch.bendRange, 1);
    EXPECT_EQ(ch.bend, 0.0f);
}

TEST_F(Sequencer, PitchBendValues) {
    MidiWriter w(0, 96);
    w.track().pitchBend(0, 1, 8192).pitchBend(10, 1, 16383).pitchBend(10, 1, 0).endOfTrack(10);
    start(w);
    ChannelState ch;
    runToTick(rig, 1);
    ch = channelOf(rig, 1);
    EXPECT_EQ(ch.bend, 0.0f);
    EXPECT_EQ(ch.pitchChanged, 1);
    runToTick(rig, 11);
    ch = channelOf(rig, 1);
    EXPECT_EQ(ch.bend, 8191.0f * 2.0f / 8192.0f);
    EXPECT_LT(ch.bend, 2.0f);
    runToTick(rig, 21);
    ch = channelOf(rig, 1);
    EXPECT_EQ(ch.bend, -2.0f);
    EXPECT_EQ(channelOf(rig, 0).pitchChanged, 0);
}

TEST_F(Sequencer, ControllersAndTheHoldPedal) {
    MidiWriter w(0, 96);
    w.track()
        .noteOn(0, 4, 60, 100)
        .controller(0, 4, 64, 64)
        .controller(0, 4, 7, 33)
        .controller(0, 4, 1, 44)
        .controller(0, 4, 91, 55)
        .controller(0, 4, 10, 20)
        .program(0, 4, 17)
        .controller(10, 4, 64, 63)
        .endOfTrack(10);
    start(w);
    MixerEngine& e = rig.e();
    EngineLock lock(e.mutex);
    const ChannelState before = e.channels[4];
    lock.unlock();  // the timer callbacks take it
    runToTick(rig, 1);
    lock.lock();
    const ChannelState& ch = e.channels[4];
    EXPECT_EQ(ch.sustain, 1);
    EXPECT_EQ(ch.volume, 33);
    EXPECT_EQ(ch.modulation, 44);
    EXPECT_EQ(ch.pan, 20);
    EXPECT_EQ(ch.program, 17);
    EXPECT_EQ(ch.bendRange, before.bendRange);
    EXPECT_EQ(ch.pitchChanged, 0);
    const MixerVoice* m = e.mixerVoiceOf(*voiceHolding(e, 60, 4));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->sustained, 1);
    lock.unlock();  // the timer callbacks take it
    runToTick(rig, 11);
    lock.lock();
    EXPECT_EQ(ch.sustain, 0);
    EXPECT_EQ(m->sustained, 0);
}

TEST_F(Sequencer, MetaEventsAreSkippedByTheirOwnLength) {
    MidiWriter w(0, 96);
    w.track()
        .meta(0, 0x20, {0x05})  // channel prefix
        .noteOn(7, 0, 60, 100)
        .meta(0, 0x59, {0x01, 0x00, 0x00})  // a key signature one byte too long
        .noteOn(3, 0, 62, 100)
        .meta(0, 0x58, {4, 2, 24, 8})    // time signature
        .meta(0, 0x00, {0, 1})           // sequence number
        .meta(0, 0x21, {0})              // port
        .meta(0, 0x54, {1, 2, 3, 4, 5})  // SMPTE offset
        .meta(0, 0x7F, {1, 2, 3})        // sequencer specific
        .meta(0, 0x2F, {0x00})           // end of track with a length byte of 1: not the end
        .meta(0, 0x51, {0x07, 0xA1})     // set tempo with 2 bytes: no change
        .noteOn(5, 0, 64, 100)
        .endOfTrack(10);
    start(w);
    runToTick(rig, 6);
    EXPECT_EQ(heldCount(rig.e()), 0);
    runToTick(rig, 8);
    EXPECT_NE(heldVoice(rig.e(), 60), nullptr);
    runToTick(rig, 10);
    EXPECT_EQ(heldVoice(rig.e(), 62), nullptr);
    runToTick(rig, 11);
    EXPECT_NE(heldVoice(rig.e(), 62), nullptr);
    runToTick(rig, 16);
    EXPECT_NE(heldVoice(rig.e(), 64), nullptr);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tempo; }), 500000);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tracks.at(0)->ended; }), 0);
}

// The time between the next two sequencer events, in microseconds.
uint64_t runningPeriod(SongRig& rig) EXCLUDES(rig.e().mutex) {
    auto nextEvent = [&rig] {
        const uint32_t tick = tickOf(rig.e());
        while (tickOf(rig.e()) == tick)
            if (!rig.clock().advanceToNextDeadline()) break;
        return rig.clock().nowMicros();
    };
    const uint64_t first = nextEvent();
    return nextEvent() - first;
}

TEST_F(Sequencer, FirstPeriodsAreWholeMicroseconds) {
    MidiWriter w96(0, 96);
    w96.track().endOfTrack(500);
    start(w96);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.ticksPerTimerEvent; }), 2);
    {
        EngineLock lock(rig.e().mutex);
        EXPECT_EQ(sequencerPeriodMicros(rig.e()), 10417u);  // 2 x 500000 / 96
    }
    EXPECT_EQ(rig.clock().nextDeadline(), 10417u);
    EXPECT_FLOAT_EQ(readSong(rig.e(), [](const SongState& s) { return s.secondsPerTick; }), 500000.0f / 96.0f * 1e-6f);

    MidiWriter w480(0, 480);
    w480.track().endOfTrack(500);
    start(w480);
    EXPECT_EQ(runningPeriod(rig), 2083u);

    // 250 us ticks: four to an event, so events come no more often than each millisecond.
    MidiWriter fine(0, 2000);
    fine.track().endOfTrack(500);
    start(fine);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.ticksPerTimerEvent; }), 4);
    EXPECT_EQ(runningPeriod(rig), 1000u);
}

TEST_F(Sequencer, TempoEventsRetimeTheTimer) {
    // 192 ticks per second before the event: a batch of 2.
    MidiWriter fast(0, 96);
    fast.track().tempo(0, 600000).endOfTrack(500);
    start(fast);
    EXPECT_EQ(runningPeriod(rig), 12500u);  // 2 x 600000 / 96, not 5 % longer
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tempo; }), 600000);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.ticksPerTimerEvent; }), 2);

    // 120 ticks per second before the event: a batch of 1.
    MidiWriter slow(0, 60);
    slow.track().tempo(0, 500000).endOfTrack(500);
    start(slow);
    EXPECT_EQ(runningPeriod(rig), 8333u);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.ticksPerTimerEvent; }), 1);

    // 1920 ticks per second: 16 ticks make 120 events a second.
    MidiWriter fine(0, 960);
    fine.track().tempo(0, 500000).endOfTrack(5000);
    start(fine);
    EXPECT_EQ(runningPeriod(rig), 8333u);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.ticksPerTimerEvent; }), 16);
    EXPECT_EQ(runningPeriod(rig), 8333u);
}

TEST_F(Sequencer, SmpteSongsKeepTheirTickLength) {
    MidiWriter w(0, 0xE728);  // 25 frames of 40 ticks: 1 ms a tick
    w.track().tempo(0, 250000).endOfTrack(500);
    start(w);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.ticksPerTimerEvent; }), 8);
    EXPECT_EQ(runningPeriod(rig), 8000u);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tempo; }), 500000);
    EXPECT_EQ(runningPeriod(rig), 8000u);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.ticksPerTimerEvent; }), 8);
    while (plays(rig.e())) rig.clock().advanceToNextDeadline();
    EXPECT_NEAR(static_cast<double>(rig.clock().nowMicros()), 500000.0, 8000.0);  // tick 500, within a batch
}

TEST_F(Sequencer, PitchUpdateRetunesTheBentChannelsVoices) {
    WaveShape half = looped();
    half.frequency = 22050;
    Bank& bank = rig.e().bank;
    bank.programMap[1] = addTone(bank, "half", half);
    MidiWriter w(0, 96);
    w.track()
        .program(0, 0, 1)
        .program(0, 1, 1)
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 1, 60, 100)
        .pitchBend(10, 0, 0)  // -2.0 semitones
        .endOfTrack(100);
    start(w);
    MixerEngine& e = rig.e();
    runToTick(rig, 1);
    EngineLock lock(e.mutex);
    const MixerVoice* bent = e.mixerVoiceOf(*voiceHolding(e, 60, 0));
    const MixerVoice* straight = e.mixerVoiceOf(*voiceHolding(e, 60, 1));
    ASSERT_TRUE(bent && straight);
    EXPECT_EQ(bent->step, 32768u);
    lock.unlock();  // the timer callbacks take it
    runToTick(rig, 11);
    lock.lock();
    EXPECT_EQ(bentFrequency(22050, 0, -2.0f), 19644u);
    EXPECT_EQ(bent->step, MixerEngine::frequencyStep(19644, 44100));
    EXPECT_EQ(straight->step, 32768u);
}

TEST(SequencerHardware, PitchUpdateRetunesTheVoicesOwnBuffer) {
    SongRig rig(MixerMode::Hardware);
    WaveShape tone;
    tone.frequency = 22050;
    tone.samples.assign(44100, 1000);
    addTone(rig.e().bank, "tone", tone);
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 72, 100).pitchBend(10, 0, 0).endOfTrack(100);
    ASSERT_EQ(rig.load(w), SongLoadResult::Loaded);
    ASSERT_EQ(play(rig.e()), 1);
    runToTick(rig, 1);
    MixerEngine& e = rig.e();
    EngineLock lock(e.mutex);
    SoundBuffer* buffer = e.bufferOf(*voiceHolding(e, 72));
    ASSERT_NE(buffer, nullptr);
    uint32_t hz = 0;
    buffer->getFrequency(hz);
    EXPECT_EQ(hz, 44100u);
    lock.unlock();  // the timer callbacks take it
    runToTick(rig, 11);
    lock.lock();
    buffer->getFrequency(hz);
    EXPECT_EQ(hz, bentFrequency(22050, 12, -2.0f));
    EXPECT_EQ(hz, 39288u);
}

TEST_F(Sequencer, TheEndOfTheSongStopsBothTimersAfterTheSoundHasPlayedOut) {
    MidiWriter w(1, 96);
    w.track().noteOn(0, 0, 60, 100).noteOff(48, 0, 60).endOfTrack(0);
    w.track().endOfTrack(96);                              // the last track ends at tick 96: 0.5 s
    rig.e().bank.instruments[0]->cutoffFading = 64 << 16;  // a release of one pass
    start(w);
    MixerEngine& e = rig.e();
    runToTick(rig, 60);
    EXPECT_EQ(readSong(e, [](const SongState& s) { return s.tracks.at(0)->ended; }), 1);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.playing, 1);
    }
    runToTick(rig, 97);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.playing, 0);
    }
    EXPECT_EQ(rig.status(), TransportStatus::Ending);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(songPositionSeconds(e), songLengthSeconds(e));
    }
    const uint64_t end = rig.clock().nowMicros();
    ASSERT_TRUE(rig.runUntilIdle());
    EXPECT_EQ(e.sequencerTimer, 0u);
    EXPECT_EQ(e.mixerTimer, 0u);
    EXPECT_EQ(e.outputRunning, 0);
    EXPECT_EQ(rig.clock().liveTimers(), 0u);
    // Every voice was silent already: the written sound plays out (0.3 s) and it stops.
    EXPECT_GE(rig.clock().nowMicros() - end, 300000u);
    EXPECT_LE(rig.clock().nowMicros() - end, 360000u);

    // A later play starts again from the beginning.
    ASSERT_EQ(play(e), 1);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.song.currentTick, 0u);
    }
    EXPECT_EQ(readSong(e, [](const SongState& s) { return s.tracks.at(0)->ended; }), 0);
    runToTick(rig, 1);
    EXPECT_NE(heldVoice(e, 60), nullptr);
}

TEST_F(Sequencer, TheEndReleasesHeldNotesWithThePedalUp) {
    MidiWriter w(0, 96);
    w.track().controller(0, 0, 64, 127).noteOn(0, 0, 60, 100).noteOn(0, 2, 67, 100).endOfTrack(20);
    start(w);
    MixerEngine& e = rig.e();
    runToTick(rig, 21);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.playing, 0);
    }
    EXPECT_EQ(heldCount(e), 0);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(e.channels[0].sustain, 0);
    }
    int releasing = 0;
    {
        EngineLock lock(e.mutex);
        for (const MixerVoice& m : e.custom.mixerVoices)
            if (m.active) {
                EXPECT_EQ(m.released, 1);
                EXPECT_EQ(m.sustained, 0);
                ++releasing;
            }
    }
    EXPECT_EQ(releasing, 2);
    ASSERT_TRUE(rig.runUntilIdle());
}

TEST_F(Sequencer, AnEndingThatNeverFallsSilentStopsAfterTenSeconds) {
    WaveShape endless = looped();
    endless.cutoffFading = 0;
    endless.holdPos = 100000;  // beyond the loop: the release never starts
    rig.e().bank.programMap[2] = addTone(rig.e().bank, "endless", endless);
    MidiWriter w(0, 96);
    w.track().program(0, 0, 2).noteOn(0, 0, 60, 100).endOfTrack(10);
    start(w);
    runToTick(rig, 11);
    const uint64_t end = rig.clock().nowMicros();
    ASSERT_TRUE(rig.runUntilIdle(20000000));
    EXPECT_GE(rig.clock().nowMicros() - end, 10000000u);
    EXPECT_LE(rig.clock().nowMicros() - end, 10020000u);
}

TEST_F(Sequencer, TracksThatRunOutOrAreMissingCountAsEnded) {
    // The header counts three tracks; the file holds one, which has no end-of-track event.
    MidiWriter w(1, 96, 3);
    w.track().noteOn(0, 0, 60, 100).noteOff(30, 0, 60);
    start(w);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tracks.size(); }), 1);
    runToTick(rig, 31);
    EXPECT_EQ(readSong(rig.e(), [](const SongState& s) { return s.tracks.at(0)->ended; }), 1);
    {
        EngineLock lock(rig.e().mutex);
        EXPECT_EQ(rig.e().playing, 0);
    }
    EXPECT_TRUE(rig.runUntilIdle());

    // A format 2 sequence plays like any track: its note sounds until its end at tick 10.
    MidiWriter two(2, 96);
    two.track().noteOn(0, 0, 60, 100).endOfTrack(10);
    start(two);
    rig.clock().advanceToNextDeadline();
    {
        EngineLock lock(rig.e().mutex);
        EXPECT_EQ(rig.e().playing, 1);
    }
    EXPECT_EQ(heldCount(rig.e()), 1);
    runToTick(rig, 11);
    {
        EngineLock lock(rig.e().mutex);
        EXPECT_EQ(rig.e().playing, 0);
    }
    EXPECT_EQ(heldCount(rig.e()), 0);
    EXPECT_TRUE(rig.runUntilIdle());
}

TEST_F(Sequencer, NotesAreCountedByWhatTheBankHolds) {
    rig.e().bank.instruments[0]->zones[0]->rangeEnd = 100;
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 60, 100).noteOn(0, 9, 36, 100).noteOn(0, 0, 110, 100).noteOn(0, 0, 61, 0).endOfTrack(5);
    start(w);
    runToTick(rig, 1);
    NoteCounts notes;
    {
        EngineLock lock(rig.e().mutex);
        notes = noteCounts(rig.e());
    }
    EXPECT_EQ(notes.played, 2);
    EXPECT_EQ(notes.withoutZone, 1);
    EXPECT_EQ(notes.withoutInstrument, 0);

    Bank empty;
    {
        EngineLock lock(rig.e().mutex);
        rig.e().bank.clearBank();
    }
    start(w);
    runToTick(rig, 1);
    EngineLock lock(rig.e().mutex);
    EXPECT_EQ(noteCounts(rig.e()).withoutInstrument, 3);
}

}  // namespace
}  // namespace tonvero::test
