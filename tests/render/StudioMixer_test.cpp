// The Studio mixer, heard: songs written here rendered on the offline engine
// and their sound measured. Every note on its exact frame; pitch kept through
// short loops; the General MIDI level, pan and vibrato laws; registered
// parameters and resets; 100 notes at once; no click where a voice is taken
// or cut; the Instrument's fadings lasting as long as in the Custom Mixer.

#include "render/SoundMeasure.h"

#include <cmath>

namespace tonvero::test {
namespace {

constexpr int32_t kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// A constant level, looped whole, with no fading: a note's level is its sample values.
WaveShape steady(int16_t value, uint32_t loopFading = 0) {
    WaveShape tone;
    tone.samples.assign(1000, value);
    tone.looped = 1;
    tone.loopEnd = 999;
    tone.loopFading = loopFading;
    return tone;
}

// One Zone playing `samples` (looped over loopBegin..loopEnd when asked),
// sounding at `frequency` Hz at `basicNote`.
void addWave(Bank& bank, std::vector<int16_t> samples, uint32_t frequency, int32_t basicNote, bool looped,
             int32_t loopBegin = 0, int32_t loopEnd = -1, uint32_t cutoffFading = 0) {
    WaveShape tone;
    tone.samples = std::move(samples);
    tone.frequency = frequency;
    tone.looped = looped ? 1 : 0;
    tone.loopBegin = loopBegin;
    tone.loopEnd = loopEnd < 0 ? static_cast<int32_t>(tone.samples.size()) - 1 : loopEnd;
    tone.cutoffFading = cutoffFading;
    const int32_t slot = addTone(bank, "wave", tone);
    bank.instruments[static_cast<size_t>(slot)]->zones[0]->basicNote = basicNote;
}

std::vector<int16_t> sinePeriods(int periodSamples, int periods, double amplitude = 20000) {
    std::vector<int16_t> s(static_cast<size_t>(periodSamples * periods));
    for (size_t k = 0; k < s.size(); ++k)
        s[k] =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * static_cast<double>(k) / periodSamples)));
    return s;
}

Rendered renderStudio(const Bytes& song, const std::function<void(Bank&)>& fill,
                      StudioSettings settings = dryStudio()) {
    return renderSong(song, fill, MixerMode::Studio, kRate, settings);
}

// The sample value of `side` at song time `seconds`.
int32_t at(const Rendered& r, double seconds, int which = 0) {
    return r.samples[2 * framesAt(seconds) + static_cast<size_t>(which)];
}

// ---- timing ----

struct Stretch {
    uint32_t tick;
    uint32_t tempo;
};

// The frame of `tick`: sum of ticks x tempo over the stretches, times the
// rate over division x 1e6, rounded down; for SMPTE, ticks x rate x frame
// length over ticks per frame.
uint64_t expectedFrame(uint32_t tick, int division, const std::vector<Stretch>& stretches) {
    if (division & 0x8000) {
        const int fps = -static_cast<int8_t>(division >> 8);
        const uint64_t ticksPerFrame = static_cast<uint64_t>(division & 0xFF);
        if (fps == 29) return uint64_t{tick} * kRate * 1001 / (30000 * ticksPerFrame);
        return uint64_t{tick} * kRate / (static_cast<uint64_t>(fps) * ticksPerFrame);
    }
    uint64_t sum = 0;  // ticks x microseconds
    uint32_t from = 0, tempo = 500000;
    for (const Stretch& s : stretches) {
        if (s.tick >= tick) break;
        sum += uint64_t{s.tick - from} * tempo;
        from = s.tick;
        tempo = s.tempo;
    }
    sum += uint64_t{tick - from} * tempo;
    return sum * kRate / (static_cast<uint64_t>(division) * 1000000);
}

class ExactFrames : public ::testing::TestWithParam<int> {};

TEST_P(ExactFrames, EveryNoteStartsOnTheFrameItsTickFallsOn) {
    const int division = GetParam();
    const bool smpte = (division & 0x8000) != 0;
    // Ticks a little over 40 ms apart, at irregular offsets.
    const double ticksPerSecond = smpte ? 1000.0 : division * 2.0;
    const uint32_t spacing = std::max<uint32_t>(2, static_cast<uint32_t>(ticksPerSecond * 0.041));
    std::vector<Stretch> stretches;
    if (!smpte)
        stretches = {{spacing * 7, 431234}, {spacing * 15 + 1, 871111}, {spacing * 22, 250003}, {spacing * 31, 612345}};
    MidiWriter w(1, static_cast<uint16_t>(division));
    auto& tempo = w.track();
    uint32_t from = 0;
    for (const Stretch& s : stretches) {
        tempo.tempo(s.tick - from, s.tempo);
        from = s.tick;
    }
    tempo.endOfTrack(0);
    auto& notes = w.track();
    std::vector<uint32_t> ticks;
    from = 0;
    for (uint32_t k = 0; k < 40; ++k) {
        const uint32_t tick = k * spacing + (k * k) % (spacing / 2 + 1);
        notes.noteOn(tick - from, 0, 60, 127).noteOff(1, 0, 60);
        from = tick + 1;
        ticks.push_back(tick);
    }
    notes.endOfTrack(0);

    const Rendered r = renderStudio(w.bytes(), [](Bank& bank) {
        WaveShape click;
        click.samples.assign(40, 6000);
        addTone(bank, "click", click);
    });
    ASSERT_TRUE(r.report.endedWhole);
    const std::vector<size_t> found = onsets(r, 20);
    ASSERT_EQ(found.size(), ticks.size());
    for (size_t k = 0; k < ticks.size(); ++k)
        EXPECT_EQ(found[k], expectedFrame(ticks[k], division, stretches)) << "note " << k << " at tick " << ticks[k];
}

// Ticks per quarter note 96, 480, 960 and 7; SMPTE 25 x 40, 29.97 x 80, 24 x 4, 30 x 10.
INSTANTIATE_TEST_SUITE_P(Divisions, ExactFrames, ::testing::Values(96, 480, 960, 7, 0xE728, 0xE350, 0xE804, 0xE20A));

// ---- pitch ----

class LoopPitch : public ::testing::TestWithParam<Interpolation> {};

TEST_P(LoopPitch, ATenSampleLoopAtKey108KeepsItsPitch) {
    // One period of a sine in 10 samples, recorded at 26370 Hz: 2637 Hz at
    // basic note 100, so key 108 is C8, 4186.0 Hz, a step of 0.949 samples.
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 108, 127).noteOff(192, 0, 108).endOfTrack(0);
    StudioSettings settings = dryStudio();
    settings.interpolation = GetParam();
    const Rendered r = renderStudio(
        w.bytes(), [](Bank& bank) { addWave(bank, sinePeriods(10, 1), 26370, 100, true); }, settings);
    const double hz = zeroCrossingHz(side(r, 0, framesAt(0.1), framesAt(0.9)), kRate);
    EXPECT_NEAR(cents(hz, 2637.0 * std::pow(2.0, 8.0 / 12)), 0.0, 3.0) << hz << " Hz";
}

TEST_P(LoopPitch, ALongLoopPlaysSeamlesslyAtAnyStep) {
    // 37 periods of 100 samples looped after an attack of 3 periods, a fifth
    // up (1.498 samples a frame): the sine comes out whole across every wrap,
    // no step between samples larger than the sine's own steepest.
    std::vector<int16_t> samples = sinePeriods(100, 40);
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 67, 127).noteOff(192, 0, 67).endOfTrack(0);
    StudioSettings settings = dryStudio();
    settings.interpolation = GetParam();
    const Rendered r = renderStudio(
        w.bytes(), [&](Bank& bank) { addWave(bank, samples, 44100, 60, true, 300, 3999); }, settings);
    const std::vector<double> heard = side(r, 0, framesAt(0.05), framesAt(0.95));
    const double hz = 441.0 * std::pow(2.0, 7.0 / 12);
    EXPECT_NEAR(cents(zeroCrossingHz(heard, kRate), hz), 0.0, 1.0);
    double amplitude = 0;
    for (double x : heard) amplitude = std::max(amplitude, std::abs(x));
    const double steepest = 2 * kPi * hz / kRate * amplitude;
    EXPECT_LT(largestStep(r, framesAt(0.05), framesAt(0.95)), 1.02 * steepest + 1);
}

INSTANTIATE_TEST_SUITE_P(Interpolations, LoopPitch,
                         ::testing::Values(Interpolation::Linear, Interpolation::Cubic, Interpolation::Sinc));

// Pitch of the left side over [from, to) seconds.
double pitchHz(const Rendered& r, double from, double to) {
    return zeroCrossingHz(side(r, 0, framesAt(from), framesAt(to)), kRate);
}

TEST(StudioPitch, RegisteredParametersSetBendRangeAndTuningAndTheNullParameterChangesNothing) {
    // 441 Hz at key 60; each note 0.4 s, with what comes before it.
    MidiWriter w(0, 100);  // 5 ms ticks
    auto& t = w.track();
    auto note = [&t](uint32_t delta) { t.noteOn(delta, 0, 60, 127).noteOff(80, 0, 60); };
    // 1: bend range 12 semitones through RPN 0, bend fully up.
    t.controller(0, 0, 101, 0).controller(0, 0, 100, 0).controller(0, 0, 6, 12).controller(0, 0, 38, 0);
    t.pitchBend(0, 0, 16383);
    note(0);
    // 2: the null parameter chosen, then data entry: the range stays 12.
    t.controller(20, 0, 101, 127).controller(0, 0, 100, 127).controller(0, 0, 6, 2);
    note(0);
    // 3: a non-registered parameter chosen, then data entry: still 12.
    t.controller(20, 0, 99, 1).controller(0, 0, 98, 2).controller(0, 0, 6, 5);
    note(0);
    // 4: bend centred, fine tuning +50 cents (RPN 1, 96 x 128 = 8192 + 4096).
    t.pitchBend(20, 0, 8192)
        .controller(0, 0, 101, 0)
        .controller(0, 0, 100, 1)
        .controller(0, 0, 6, 96)
        .controller(0, 0, 38, 0);
    note(0);
    // 5: coarse tuning +2 semitones (RPN 2), fine back in tune.
    t.controller(20, 0, 6, 64).controller(0, 0, 100, 2).controller(0, 0, 6, 66);
    note(0);
    t.endOfTrack(0);
    const Rendered r =
        renderStudio(w.bytes(), [](Bank& bank) { addWave(bank, sinePeriods(100, 10), 44100, 60, true); });
    const double bentUp = 12.0 * (16383 - 8192) / 8192.0 * 100;  // cents
    const double expected[] = {bentUp, bentUp, bentUp, 50, 200};
    for (int n = 0; n < 5; ++n) {
        const double start = n * 0.5;  // each note 0.4 s, 0.1 s apart
        EXPECT_NEAR(cents(pitchHz(r, start + 0.05, start + 0.35), 441.0), expected[n], 1.0) << "note " << n + 1;
    }
}

TEST(StudioPitch, ModulationWheelGivesAFiveHertzVibratoOfFiftyCents) {
    MidiWriter w(0, 100);
    w.track()
        .noteOn(0, 0, 60, 127)
        .noteOff(200, 0, 60)  // 1 s plain
        .controller(20, 0, 1, 127)
        .noteOn(0, 0, 60, 127)
        .noteOff(400, 0, 60)
        .endOfTrack(0);
    const Rendered r =
        renderStudio(w.bytes(), [](Bank& bank) { addWave(bank, sinePeriods(100, 10), 44100, 60, true); });
    // Pitch period by period: the deviation from 441 Hz in cents.
    auto deviations = [&](double from, double to) {
        const std::vector<double> at = risingCrossings(side(r, 0, framesAt(from), framesAt(to)));
        std::vector<double> c;
        for (size_t k = 1; k < at.size(); ++k) c.push_back(cents(kRate / (at[k] - at[k - 1]), 441.0));
        return c;
    };
    const std::vector<double> plain = deviations(0.1, 0.9);
    for (double c : plain) ASSERT_NEAR(c, 0.0, 1.0);
    const std::vector<double> vibrato = deviations(1.3, 3.0);
    const auto [low, high] = std::minmax_element(vibrato.begin(), vibrato.end());
    EXPECT_NEAR(*high, 50.0, 5.0);
    EXPECT_NEAR(*low, -50.0, 5.0);
    // The rate: upward passes of the deviation through zero, over 1.7 s.
    int rises = 0;
    for (size_t k = 1; k < vibrato.size(); ++k) rises += vibrato[k - 1] < 0 && vibrato[k] >= 0;
    EXPECT_NEAR(rises / 1.7, 5.0, 0.7);
}

// ---- level and pan ----

TEST(StudioLevel, VelocityVolumeAndExpressionFollowFortyLogTen) {
    // Each note 0.2 s, 0.1 s apart; the level read in its middle.
    struct Case {
        int velocity, volume, expression;
    };
    const std::vector<Case> cases = {{127, 127, 127}, {100, 127, 127}, {64, 127, 127}, {32, 127, 127},
                                     {8, 127, 127},   {127, 100, 127}, {127, 64, 127}, {127, 16, 127},
                                     {127, 127, 90},  {127, 127, 40},  {127, 0, 127}};
    MidiWriter w(0, 100);
    auto& t = w.track();
    for (const Case& c : cases)
        t.controller(0, 0, 7, c.volume)
            .controller(0, 0, 11, c.expression)
            .noteOn(0, 0, 60, c.velocity)
            .noteOff(40, 0, 60)
            .controller(20, 0, 7, 127);
    t.endOfTrack(0);
    const Rendered r = renderStudio(w.bytes(), [](Bank& bank) { addTone(bank, "dc", steady(6000)); });
    const double full = at(r, 0.1);
    ASSERT_GT(full, 500);
    for (size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        const double heard = at(r, 0.3 * static_cast<double>(k) + 0.1);
        const double expected =
            40 * (std::log10(c.velocity / 127.0) + std::log10(c.volume / 127.0) + std::log10(c.expression / 127.0));
        if (c.volume == 0)
            EXPECT_EQ(heard, 0) << "volume 0 is silent";
        else
            EXPECT_NEAR(decibels(heard / full), expected, 0.5)
                << "velocity " << c.velocity << ", volume " << c.volume << ", expression " << c.expression;
    }
}

TEST(StudioLevel, PanIsConstantPowerAndFollowsAHeldNote) {
    const std::vector<int> pans = {0, 1, 32, 64, 96, 127};
    MidiWriter w(0, 100);
    auto& t = w.track();
    uint32_t gap = 0;
    for (int p : pans) {
        t.controller(gap, 0, 10, p).noteOn(0, 0, 60, 127).noteOff(40, 0, 60);
        gap = 20;
    }
    // Then one note held for 1.28 s while the pan moves from 0 to 127 every 10 ms.
    t.controller(20, 0, 10, 0).noteOn(0, 0, 60, 127);
    for (int p = 1; p <= 127; ++p) t.controller(2, 0, 10, p);
    t.noteOff(4, 0, 60).endOfTrack(0);
    const Rendered r = renderStudio(w.bytes(), [](Bank& bank) { addTone(bank, "dc", steady(6000)); });

    const double reference = at(r, 0.1, 0);  // hard left: all of the level on the left
    ASSERT_GT(reference, 500);
    EXPECT_EQ(at(r, 0.1, 1), 0);
    for (size_t k = 0; k < pans.size(); ++k) {
        const double time = 0.3 * static_cast<double>(k) + 0.1;
        const double left = at(r, time, 0) / reference;
        const double right = at(r, time, 1) / reference;
        const double angle = std::clamp(pans[k] - 1, 0, 126) / 126.0 * kPi / 2;
        EXPECT_NEAR(left, std::cos(angle), 0.002) << "pan " << pans[k];
        EXPECT_NEAR(right, std::sin(angle), 0.002) << "pan " << pans[k];
        EXPECT_NEAR(decibels(std::hypot(left, right)), 0.0, 0.05) << "pan " << pans[k];
    }
    EXPECT_NEAR(decibels(at(r, 0.3 * 3 + 0.1, 0) / reference), -3.01, 0.05) << "centre";

    // The sweep: from the left to the right during the note, with no step
    // larger than a small part of the level.
    const double sweep = 0.3 * static_cast<double>(pans.size());
    EXPECT_GT(at(r, sweep + 0.05, 0), 10 * at(r, sweep + 0.05, 1));
    EXPECT_GT(at(r, sweep + 1.25, 1), 10 * at(r, sweep + 1.25, 0));
    EXPECT_LT(largestStep(r, framesAt(sweep + 0.01), framesAt(sweep + 1.26)), reference / 200);
}

// ---- voices ----

// `count` notes at once on 15 channels (not the drums), held 0.5 s.
Bytes chord(int count) {
    MidiWriter w(0, 100);
    auto& t = w.track();
    for (int n = 0; n < count; ++n) t.noteOn(0, n % 15 < 9 ? n % 15 : n % 15 + 1, 20 + n % 100, 100);
    t.controller(100, 0, 123, 0);
    for (int c = 1; c < 16; ++c) t.controller(0, c, 123, 0);
    t.endOfTrack(0);
    return w.bytes();
}

TEST(StudioVoices, AHundredNotesAtOnceAllSoundAndTheLimitTakesTheRest) {
    auto bank = [](Bank& b) { addTone(b, "dc", steady(150)); };
    // A tenth of the chord as the measure (one note alone is too quiet to measure to 1 %).
    const double one = at(renderStudio(chord(10), bank), 0.25) / 10.0;
    ASSERT_GT(one, 20);
    EXPECT_NEAR(at(renderStudio(chord(100), bank), 0.25) / one, 100.0, 0.5);

    StudioSettings few = dryStudio();
    few.voices = 32;
    SongRenderer renderer(MixerMode::Studio, kRate, few);
    ASSERT_TRUE(renderer.openOutput());
    {
        EngineLock lock(renderer.engine().mutex);
        bank(renderer.engine().bank);
    }
    ASSERT_EQ(loadBytes(renderer, chord(100)), SongLoadResult::Loaded);
    const Rendered limited = renderToMemory(renderer, kRate);
    EXPECT_NEAR(at(limited, 0.25) / one, 32.0, 0.2);
    EngineLock lock(renderer.engine().mutex);
    EXPECT_EQ(renderer.engine().studio->counters().stolenVoices, 68u);
}

TEST(StudioVoices, ATakenVoiceAndAllSoundOffRampToSilenceWithoutAClick) {
    // A steady loud note cut by All Sound Off at 0.5 s; then, with one voice
    // only, a steady note taken at 1.5 s by a note that itself rises slowly.
    const int16_t level = 16000;
    std::vector<int16_t> rising(4000);
    for (size_t k = 0; k < rising.size(); ++k) rising[k] = static_cast<int16_t>(k);
    MidiWriter w(0, 100);
    w.track()
        .program(0, 1, 1)
        .noteOn(0, 0, 60, 127)
        .controller(100, 0, 120, 0)
        .noteOn(100, 0, 60, 127)
        .noteOn(100, 1, 60, 127)
        .controller(100, 0, 123, 0)
        .controller(0, 1, 123, 0)
        .endOfTrack(0);
    StudioSettings one = dryStudio();
    one.voices = 1;
    const Rendered r = renderStudio(
        w.bytes(),
        [&](Bank& bank) {
            addTone(bank, "steady", steady(level));   // slot 0: program 0
            addWave(bank, rising, 44100, 60, false);  // slot 1: program 1, on channel 1
            bank.programMap[1] = 1;
        },
        one);
    const int32_t full = at(r, 0.25);
    ASSERT_GT(full, 4000);
    EXPECT_EQ(at(r, 0.7), 0) << "cut";
    EXPECT_LT(largestStep(r, framesAt(0.4), framesAt(0.6)), full / 100) << "All Sound Off";
    EXPECT_LT(largestStep(r, framesAt(1.4), framesAt(1.6)), full / 100) << "taken for a new note";
}

// ---- pedals, resets and fadings ----

TEST(StudioPedals, SostenutoHoldsOnlyTheNotesDownWhenItWasPressedAndSustainHoldsAll) {
    // Released notes fade out in about 40 ms; held by a pedal they keep their level.
    auto bank = [](Bank& b) {
        WaveShape tone = steady(8000);
        tone.cutoffFading = 0x200000;
        addTone(b, "dc", tone);
    };
    MidiWriter w(0, 100);
    w.track()
        .noteOn(0, 0, 60, 127)       // A
        .controller(10, 0, 66, 127)  // sostenuto with A down
        .noteOn(10, 0, 64, 64)       // B, after: a quarter of A's level
        .noteOff(80, 0, 60)
        .noteOff(0, 0, 64)          // both let go at 0.5 s
        .controller(100, 0, 66, 0)  // sostenuto up at 1.0 s: A fades
        .controller(40, 0, 64, 127)
        .noteOn(0, 0, 62, 127)  // sustain down at 1.2 s, C
        .noteOff(20, 0, 62)
        .controller(60, 0, 64, 0)  // C let go at 1.3 s, pedal up at 1.6 s
        .endOfTrack(40);
    const Rendered r = renderStudio(w.bytes(), bank);
    const double a = at(r, 0.05);
    EXPECT_NEAR(at(r, 0.3), a * 1.25, a * 0.01) << "A and B";
    EXPECT_NEAR(at(r, 0.8), a, a * 0.01) << "A held by sostenuto, B gone";
    EXPECT_EQ(at(r, 1.1), 0) << "A faded once sostenuto was let go";
    EXPECT_NEAR(at(r, 1.5), a, a * 0.01) << "C held by sustain";
    EXPECT_EQ(at(r, 1.7), 0) << "C faded once sustain was let go";
}

TEST(StudioResets, SystemResetsRestoreEveryChannelAndResetAllControllersKeepsVolumeAndPan) {
    const Bytes gm = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
    const Bytes gs = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    const Bytes xg = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    MidiWriter w(0, 100);
    auto& t = w.track();
    t.noteOn(0, 0, 60, 127).noteOff(40, 0, 60);  // the default channel: the reference
    for (const Bytes* reset : {&gm, &gs, &xg}) {
        t.controller(20, 0, 7, 20).controller(0, 0, 10, 0).controller(0, 0, 11, 30).pitchBend(0, 0, 0);
        t.sysex(0, *reset).noteOn(0, 0, 60, 127).noteOff(40, 0, 60);
    }
    // Reset All Controllers: expression and bend come back, volume and pan stay.
    t.controller(20, 0, 7, 64).controller(0, 0, 10, 0).controller(0, 0, 11, 30).controller(0, 0, 121, 0);
    t.noteOn(0, 0, 60, 127).noteOff(40, 0, 60).endOfTrack(0);
    const Rendered r = renderStudio(w.bytes(), [](Bank& bank) { addTone(bank, "dc", steady(6000)); });
    const int32_t left = at(r, 0.1, 0), right = at(r, 0.1, 1);
    ASSERT_GT(left, 500);
    EXPECT_EQ(left, right);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(at(r, 0.3 * n + 0.1, 0), left) << "reset " << n;
        EXPECT_EQ(at(r, 0.3 * n + 0.1, 1), right) << "reset " << n;
    }
    // Volume 64 from the default 100, all on the left.
    const double expected = 40 * std::log10(64.0 / 100) + decibels(std::sqrt(2.0));
    EXPECT_NEAR(decibels(at(r, 1.3, 0) / static_cast<double>(left)), expected, 0.1);
    EXPECT_EQ(at(r, 1.3, 1), 0);
}

TEST(StudioFadings, ALoopedNoteFadesAsLongAsInTheCustomMixer) {
    // A loop fading of 0.25 a pass takes the Custom Mixer's velocity-127
    // centred note (gain 63.5) to silence in 254 passes, 5.08 s, and its
    // velocity-64 note (gain 32) in 128, 2.56 s.
    for (const int velocity : {127, 64}) {
        MidiWriter w(0, 100);
        w.track().noteOn(0, 0, 60, velocity).noteOff(1400, 0, 60).endOfTrack(0);
        auto bank = [](Bank& b) { addTone(b, "dc", steady(8000, 0x4000)); };
        const Rendered studio = renderStudio(w.bytes(), bank);
        const Rendered custom = renderSong(w.bytes(), bank);
        const double studioEnd = static_cast<double>(lastSound(studio)) / kRate;
        const double customEnd = static_cast<double>(lastSound(custom)) / kRate;
        const double life = 5.08 * velocity / 127.0;
        EXPECT_NEAR(studioEnd, life, 0.005) << "velocity " << velocity;
        // The Custom Mixer falls silent a pass or few sooner, once its
        // whole-number gain reaches 0.
        EXPECT_NEAR(customEnd, studioEnd, 0.1) << "velocity " << velocity;
        // And the fall is smooth: halfway there, half the level.
        EXPECT_NEAR(at(studio, life / 2) / static_cast<double>(at(studio, 0.001)), 0.5, 0.01);
    }
}

// ---- output ----

TEST(StudioOutput, LoudSongsAreHeldUnderFullScaleAndTheFloatMixMatchesTheSamples) {
    // Twelve loud notes at once, far above full scale summed.
    MidiWriter w(0, 100);
    auto& t = w.track();
    for (int k = 0; k < 12; ++k) t.controller(0, k, 7, 127).noteOn(0, k, 60, 127);
    t.controller(200, 0, 123, 0);
    for (int k = 1; k < 12; ++k) t.controller(0, k, 123, 0);
    t.endOfTrack(0);
    StudioSettings loud = dryStudio();
    loud.gainDb = 12;
    auto bank = [](Bank& b) { addWave(b, sinePeriods(100, 10, 30000), 44100, 60, true); };
    const Rendered r = renderStudio(w.bytes(), bank, loud);
    SongRenderer renderer(MixerMode::Studio, kRate, loud);
    ASSERT_TRUE(renderer.openOutput());
    {
        EngineLock lock(renderer.engine().mutex);
        bank(renderer.engine().bank);
    }
    ASSERT_EQ(loadBytes(renderer, w.bytes()), SongLoadResult::Loaded);
    std::vector<float> floats;
    const RenderReport again = renderer.renderFloat([&floats](const float* frames, uint32_t count) {
        floats.insert(floats.end(), frames, frames + 2 * static_cast<size_t>(count));
        return true;
    });
    ASSERT_TRUE(again.endedWhole);
    ASSERT_EQ(floats.size(), r.samples.size());
    // Peaks held at -1 dBFS; the 16-bit samples are the float mix rounded.
    float peak = 0;
    for (size_t k = 0; k < floats.size(); ++k) {
        peak = std::max(peak, std::fabs(floats[k]));
        ASSERT_NEAR(floats[k] * 32768.0f, r.samples[k], 0.51f) << "sample " << k;
    }
    EXPECT_LE(peak, 0.8913f);
    EXPECT_GT(peak, 0.85f);
    EXPECT_EQ(r.report.peak, static_cast<int32_t>(std::lround(peak * 32768)));
}

}  // namespace
}  // namespace tonvero::test

namespace tonvero::test {
namespace {

// ---- auditions ----

class Audition : public ::testing::TestWithParam<MixerMode> {};

TEST_P(Audition, AnInstrumentPlaysAtTheKeyAndVelocityAskedUntilStopped) {
    // 441 Hz at key 60: key 72 sounds an octave up, in every mixer.
    SongRig rig(GetParam());
    Instrument* instrument = nullptr;
    {
        EngineLock lock(rig.e().mutex);
        addWave(rig.e().bank, sinePeriods(100, 10), 44100, 60, true);
        instrument = rig.e().bank.instruments[0].get();
        EXPECT_EQ(rig.e().previewKey(nullptr, 60, 100), -1);
    }
    int32_t id = 0;
    {
        EngineLock lock(rig.e().mutex);
        id = rig.e().previewKey(instrument, 72, 100);
    }
    ASSERT_GT(id, 0);
    rig.audio.clearCaptured();
    rig.advance(600000);
    Rendered heard;
    heard.samples = rig.audio.captured();
    EXPECT_NEAR(cents(zeroCrossingHz(side(heard, 0, framesAt(0.35), framesAt(0.55)), kRate), 882.0), 0.0, 5.0);
    {
        EngineLock lock(rig.e().mutex);
        rig.e().stopPreview(id);
        rig.e().setSustain(0, 16);
    }
    // Released with no fading and no pedal, the looped Wave plays its tail:
    // silence after it (the Studio mixer's once its reverb has died away).
    rig.advance(GetParam() == MixerMode::Studio ? 5000000 : 1000000);
    rig.audio.clearCaptured();
    rig.advance(100000);
    for (int16_t s : rig.audio.captured()) ASSERT_EQ(s, 0);
}

INSTANTIATE_TEST_SUITE_P(Mixers, Audition,
                         ::testing::Values(MixerMode::Studio, MixerMode::Software, MixerMode::Hardware));

}  // namespace
}  // namespace tonvero::test
