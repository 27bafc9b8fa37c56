// The software mixer's arithmetic, one mixing pass at a time into a plain buffer.

#include "support/EngineRig.h"

#include <gtest/gtest.h>

namespace tonvero {
namespace {

using test::constantSamples;
using test::EngineRig;
using test::rampSamples;
using test::WaveShape;

// Left and right samples of frame f.
int16_t left(const std::vector<int16_t>& out, size_t f) { return out[2 * f]; }
int16_t right(const std::vector<int16_t>& out, size_t f) { return out[2 * f + 1]; }

// Frames whose left sample differs from `expected`, reported with the first mismatch.
::testing::AssertionResult leftSide(const std::vector<int16_t>& out, const std::vector<int>& expected,
                                    size_t from = 0) {
    for (size_t k = 0; k < expected.size(); ++k)
        if (left(out, from + k) != expected[k])
            return ::testing::AssertionFailure()
                   << "frame " << from + k << ": left " << left(out, from + k) << ", expected " << expected[k];
    return ::testing::AssertionSuccess();
}

// No timer runs in these tests: the fixture holds the engine lock from start
// to end, as the mixer timer's tick would, and each test says so first.
class SoftwareMixer : public ::testing::Test {
protected:
    MixerEngine& e() { return rig.e(); }

    // Starts one MixerVoice through a Voice: velocity 128 and pan 0 give gain 128 on the left.
    int32_t start(Wave* wave, uint32_t frequency, int32_t velocity = 128, int32_t pan = 0,
                  const Instrument* inst = nullptr, int32_t channel = 0) REQUIRES(e().mutex) {
        Voice& v = e().voices[static_cast<size_t>(e().chooseVoice())];
        lastVoice = &v;
        v.wave = wave;
        v.velocity = velocity;
        v.channel = channel;
        v.active = 1;
        v.mixerVoice = e().startMixerVoice(v, frequency, pan, inst ? inst : &noFade());
        return v.mixerVoice;
    }
    Wave* wave(WaveShape shape) { return EngineRig::zone(noFade(), std::move(shape)).wave.get(); }
    Instrument& noFade() {
        if (!plain) plain = &rig.instrument("plain");
        return *plain;
    }

    EngineRig rig;
    std::unique_lock<Mutex> held{rig.e().mutex};
    Instrument* plain = nullptr;
    Voice* lastVoice = nullptr;
};

TEST_F(SoftwareMixer, ConstantSampleAtVelocity127CentreGives504BothSides) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& inst = rig.instrument("i");
    EngineRig::zone(inst, {constantSamples(1000, 4096), 44100});
    e().noteOn(60, 127, 0);  // channel 0 is at pan 64 after construction
    const auto out = rig.mix(100);
    for (size_t f = 0; f < 100; ++f) {
        ASSERT_EQ(left(out, f), 504) << f;
        ASSERT_EQ(right(out, f), 504) << f;
    }
}

TEST_F(SoftwareMixer, PanExtremesAndTheAuditionVelocity) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& inst = rig.instrument("i");
    Zone& z = EngineRig::zone(inst, {constantSamples(1000, 4096), 44100});

    e().channels[0].pan = 0;
    e().noteOn(60, 127, 0);
    auto out = rig.mix(4);
    EXPECT_EQ(left(out, 0), 4096 * 127 / 512);  // 1016: everything on the left
    EXPECT_EQ(right(out, 0), 0);

    e().silenceAll();
    e().channels[0].pan = 127;
    e().noteOn(61, 127, 0);
    out = rig.mix(4);
    EXPECT_EQ(left(out, 0), 0);  // the left multiplier 127/128 rounds down to 0
    EXPECT_EQ(right(out, 0), 4096 * 126 / 512);

    // An audition note plays at velocity 128 in the pan of MIDI channel 16.
    e().silenceAll();
    e().channels[15].pan = 127;
    EXPECT_EQ(e().previewNote(&inst, &z), 1);
    out = rig.mix(4);
    EXPECT_EQ(left(out, 0), 4096 * 1 / 512);  // 8: the left multiplier is 1
    EXPECT_EQ(right(out, 0), 4096 * 127 / 512);
}

TEST_F(SoftwareMixer, StepsOf65536And32768) {
    e().mutex.assertHeld();  // the fixture holds it
    EXPECT_EQ(MixerEngine::frequencyStep(44100, 44100), 65536u);
    EXPECT_EQ(MixerEngine::frequencyStep(22050, 44100), 32768u);
    EXPECT_EQ(MixerEngine::frequencyStep(0xFFFFFFFFu, 44100), static_cast<uint32_t>((0xFFFFFFFFull << 16) / 44100));

    Wave* w = wave({rampSamples(100), 44100});
    start(w, 44100);
    EXPECT_TRUE(leftSide(rig.mix(5), {0, 1, 2, 3, 4}));

    e().silenceAll();
    start(w, 22050);
    // Each sample twice; the half sample left at the end of a pass is dropped.
    EXPECT_TRUE(leftSide(rig.mix(3), {0, 0, 1}));
    EXPECT_TRUE(leftSide(rig.mix(3), {1, 1, 2}));
    EXPECT_EQ(e().custom.mixerVoices[0].position, 2u);  // 3 had the fraction been kept
}

TEST_F(SoftwareMixer, LoopedWavePlaysItsLoopAgainAndAgain) {
    e().mutex.assertHeld();  // the fixture holds it
    Wave* w = wave({rampSamples(300), 44100, 1, 100, 199});
    start(w, 44100);
    const auto out = rig.mix(450);
    std::vector<int> expected;
    for (int k = 0; k <= 199; ++k) expected.push_back(k);
    for (int k = 100; k <= 199; ++k) expected.push_back(k);
    for (int k = 100; k < 150; ++k) expected.push_back(k);
    EXPECT_TRUE(leftSide(out, expected));
    for (size_t f = 0; f < 450; ++f) ASSERT_NE(left(out, f), 200);  // sample 200 is never heard
}

TEST_F(SoftwareMixer, UnloopedWaveOf1000SamplesEndsAfter1000Frames) {
    e().mutex.assertHeld();  // the fixture holds it
    Wave* w = wave({constantSamples(1000, 400), 44100});
    start(w, 44100);
    auto out = rig.mix(1500);
    for (size_t f = 0; f < 1000; ++f) ASSERT_EQ(left(out, f), 100) << f;
    for (size_t f = 1000; f < 1500; ++f) ASSERT_EQ(left(out, f), 0) << f;
    EXPECT_EQ(e().custom.mixerVoices[0].active, 0);

    // Exactly 1000 frames: the end is found by the next pass's first frame.
    start(w, 44100);
    out = rig.mix(1000);
    EXPECT_EQ(left(out, 999), 100);
    EXPECT_EQ(e().custom.mixerVoices[0].active, 1);
    out = rig.mix(10);
    EXPECT_EQ(left(out, 0), 0);
    EXPECT_EQ(e().custom.mixerVoices[0].active, 0);
}

TEST_F(SoftwareMixer, LoopFadingOfAQuarterSilencesVelocity127In254Passes) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& inst = rig.instrument("fading", 0x4000, 0x8000, 0);
    EngineRig::zone(inst, {constantSamples(1000, 4096), 44100, 1, 0, 999});
    e().noteOn(60, 127, 0);
    MixerVoice& m = e().custom.mixerVoices[0];
    EXPECT_EQ(m.leftGain, 64u * 127 * 512);  // 63.5
    for (int pass = 1; pass <= 253; ++pass) {
        rig.mix(1);
        ASSERT_EQ(m.active, 1) << pass;
    }
    EXPECT_EQ(m.leftGain, 0x4000u);
    const auto out = rig.mix(1);
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(left(out, 0), 0);  // the last pass adds nothing
}

TEST_F(SoftwareMixer, SustainFadingAfterReleaseTakes127Passes) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& inst = rig.instrument("sustain", 0, 0x8000, 0x1000);
    EngineRig::zone(inst, {constantSamples(1000, 4096), 44100, 1, 0, 999});
    e().noteOn(60, 127, 0);
    e().setSustain(1, 0);
    e().noteOff(60, 0);
    MixerVoice& m = e().custom.mixerVoices[0];
    EXPECT_EQ(m.released, 1);
    EXPECT_EQ(m.sustained, 1);
    for (int pass = 1; pass <= 126; ++pass) rig.mix(1);
    EXPECT_EQ(m.active, 1);
    rig.mix(1);
    EXPECT_EQ(m.active, 0);
}

TEST_F(SoftwareMixer, CutoffFadingAppliesWithThePedalUp) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& inst = rig.instrument("cutoff", 0, 0x8000, 0x10000);
    EngineRig::zone(inst, {constantSamples(1000, 4096), 44100, 1, 0, 999});
    e().noteOn(60, 127, 0);
    e().noteOff(60, 0);
    MixerVoice& m = e().custom.mixerVoices[0];
    rig.mix(1);
    EXPECT_EQ(m.leftGain, 64u * 127 * 512 - 0x10000);
    // Pedal down later: the sustain fading takes over.
    e().setSustain(1, 0);
    rig.mix(1);
    EXPECT_EQ(m.leftGain, 64u * 127 * 512 - 0x10000 - 0x8000);
}

TEST_F(SoftwareMixer, ReleaseWithoutFadingPlaysTheTailFromLoopEnd) {
    e().mutex.assertHeld();  // the fixture holds it
    Instrument& inst = rig.instrument("tail", 0, 0x8000, 0);
    EngineRig::zone(inst, {rampSamples(300), 44100, 1, 100, 199});
    e().channels[0].pan = 0;
    e().noteOn(60, 127, 0);  // gain 127 on the left: out = k x 4 x 127 >> 9
    rig.mix(50);
    e().noteOff(60, 0);
    const auto out = rig.mix(150);
    // From sample 199 to 299 at full level, then the note has ended.
    for (int k = 0; k <= 100; ++k) ASSERT_EQ(left(out, static_cast<size_t>(k)), (199 + k) * 4 * 127 >> 9) << k;
    EXPECT_EQ(left(out, 101), 0);
    EXPECT_EQ(e().custom.mixerVoices[0].active, 0);
}

TEST_F(SoftwareMixer, ReleasePastLoopEndPlaysOnFromWhereItIs) {
    e().mutex.assertHeld();  // the fixture holds it
    Wave* w = wave({rampSamples(300), 44100, 1, 100, 199});
    start(w, 44100);
    rig.mix(200);  // samples 0..199: the next one would be 200
    EXPECT_EQ(e().custom.mixerVoices[0].position, 200u);
    e().releaseVoice(*lastVoice);
    EXPECT_TRUE(leftSide(rig.mix(3), {200, 201, 202}));
}

TEST_F(SoftwareMixer, ReleasedBeforeHoldPosKeepsLoopingUnfaded) {
    e().mutex.assertHeld();  // the fixture holds it
    // holdPos beyond loopEnd is never reached: the note loops on at full level.
    Instrument& inst = rig.instrument("hold", 0x4000, 0x8000, 0x8000);
    EngineRig::zone(inst, {rampSamples(300), 44100, 1, 100, 199, 250});
    e().channels[0].pan = 0;
    e().noteOn(60, 128, 0);
    e().noteOff(60, 0);
    MixerVoice& m = e().custom.mixerVoices[0];
    const uint32_t gain = m.leftGain;
    for (int pass = 0; pass < 600; ++pass) rig.mix(100);
    EXPECT_EQ(m.active, 1);
    EXPECT_EQ(m.leftGain, gain);
    EXPECT_LE(m.position, 200u);
}

TEST_F(SoftwareMixer, FiveLoudVoicesSaturateInsteadOfWrapping) {
    e().mutex.assertHeld();  // the fixture holds it
    // One voice at gain 128 adds a quarter of its sample, so five full-scale
    // voices sum past the 16-bit range: 5 x 8191 = 40955 (-24581 wrapped).
    Wave* high = wave({constantSamples(100, 32767), 44100});
    for (int k = 0; k < 5; ++k) start(high, 44100);
    auto out = rig.mix(10);
    for (size_t f = 0; f < 10; ++f) ASSERT_EQ(left(out, f), 32767);

    e().silenceAll();
    Wave* low = wave({constantSamples(100, -32768), 44100});
    for (int k = 0; k < 5; ++k) start(low, 44100);
    out = rig.mix(10);
    EXPECT_EQ(left(out, 0), -32768);

    // Below the limit the sum stays exact: 4 x 8191.
    e().silenceAll();
    for (int k = 0; k < 4; ++k) start(high, 44100);
    out = rig.mix(1);
    EXPECT_EQ(left(out, 0), 4 * 8191);
}

TEST_F(SoftwareMixer, OpposingVoicesCancelBeforeSaturating) {
    e().mutex.assertHeld();  // the fixture holds it
    Wave* high = wave({constantSamples(10, 32767), 44100});
    Wave* low = wave({constantSamples(10, -32768), 44100});
    for (int k = 0; k < 5; ++k) start(high, 44100);
    start(low, 44100);
    start(low, 44100);
    EXPECT_EQ(left(rig.mix(1), 0), 5 * 8191 - 2 * 8192);
}

TEST_F(SoftwareMixer, ReadsStayInsideTheWaveWhateverItsLoopPointsSay) {
    e().mutex.assertHeld();  // the fixture holds it
    // Loop end past the last sample: the loop ends at the last sample.
    Wave* w = wave({rampSamples(50), 44100, 1, 40, 1000});
    start(w, 44100);
    auto out = rig.mix(60);
    EXPECT_TRUE(leftSide(out, {48, 49, 40, 41}, 48));
    EXPECT_EQ(e().custom.mixerVoices[0].loopEnd, 49);

    // Loop begin after loop end: played once, unlooped.
    e().silenceAll();
    w = wave({rampSamples(50), 44100, 1, 30, 20});
    start(w, 44100);
    out = rig.mix(60);
    EXPECT_EQ(left(out, 49), 49);
    EXPECT_EQ(left(out, 50), 0);
    EXPECT_EQ(e().custom.mixerVoices[0].active, 0);

    // A negative loop begin, and a hold position far outside: unlooped, ends.
    e().silenceAll();
    w = wave({rampSamples(50), 44100, 1, -5, 20, 1 << 30});
    start(w, 44100);
    out = rig.mix(60);
    EXPECT_EQ(left(out, 50), 0);

    // An empty Wave, looped or not, ends at once.
    e().silenceAll();
    w = wave({{}, 44100, 1, 0, 0});
    start(w, 44100);
    out = rig.mix(4);
    EXPECT_EQ(left(out, 0), 0);
    EXPECT_EQ(e().custom.mixerVoices[0].active, 0);

    // Release with no fading jumps to a loop end that was past the samples: the last one.
    e().silenceAll();
    w = wave({rampSamples(50), 44100, 1, 10, 5000});
    start(w, 44100);
    rig.mix(5);
    e().releaseVoice(*lastVoice);
    out = rig.mix(4);
    EXPECT_TRUE(leftSide(out, {49, 0}));

    // A huge step on a short loop wraps without reading past it.
    e().silenceAll();
    w = wave({rampSamples(8), 44100, 1, 2, 7});
    start(w, 0xFFFFFFFFu);
    rig.mix(64);
}

TEST_F(SoftwareMixer, AllocMixerVoiceCutsTheOldestReleasedThenTheOldest) {
    e().mutex.assertHeld();  // the fixture holds it
    Wave* w = wave({constantSamples(10000, 1), 44100, 1, 0, 9999});
    for (int k = 0; k < kMixerVoiceCount; ++k) {
        e().song.currentTick = static_cast<uint32_t>(100 - k % 4);  // ages 100, 99, 98, 97, 100, ...
        start(w, 44100);
    }
    for (const MixerVoice& m : e().custom.mixerVoices) ASSERT_EQ(m.active, 1);
    // None released: the oldest, lowest index among equals (index 3, tick 97).
    EXPECT_EQ(e().allocMixerVoice(), 3);
    EXPECT_EQ(e().custom.mixerVoices[3].active, 0);
    start(w, 44100);  // takes index 3 again
    // Released ones go first, even when younger than the oldest (tick 97).
    e().custom.mixerVoices[12].released = 1;  // tick 100
    e().custom.mixerVoices[9].released = 1;   // tick 99
    e().custom.mixerVoices[13].released = 1;  // tick 99
    EXPECT_EQ(e().allocMixerVoice(), 9);
}

TEST_F(SoftwareMixer, SilenceAllCutsEveryVoice) {
    e().mutex.assertHeld();  // the fixture holds it
    Wave* w = wave({constantSamples(100, 1000), 44100, 1, 0, 99});
    start(w, 44100);
    start(w, 44100);
    e().silenceAll();
    for (const MixerVoice& m : e().custom.mixerVoices) EXPECT_EQ(m.active, 0);
    const auto out = rig.mix(10);
    EXPECT_EQ(left(out, 0), 0);
}

}  // namespace
}  // namespace tonvero
