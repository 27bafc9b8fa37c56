// Building a bank from small SoundFonts written byte by byte: key ranges,
// root keys and tuning, loops, stereo pairs, velocity layers, drum kits,
// the ProgramMap, sharing when 128 slots do not suffice, attenuation and the
// fading values. (Articulation, layers over many keys, stereo links and kits:
// Sf2Articulation_test.cpp.)

#include "bank/Sf2Fading.h"
#include "bank/Sf2Import.h"
#include "bank/Sf2Reader.h"
#include "support/Sf2Writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace tonvero {
namespace {

using test::Sf2TestSample;
using test::Sf2TestZone;
using test::Sf2Writer;

std::vector<int16_t> constant(size_t count, int16_t value) { return std::vector<int16_t>(count, value); }

std::vector<int16_t> ramp(size_t count) {
    std::vector<int16_t> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<int16_t>(i);
    return values;
}

Sf2TestSample sample(const std::string& name, std::vector<int16_t> data, uint32_t rate = 44100, uint8_t pitch = 60) {
    Sf2TestSample s;
    s.name = name;
    s.data = std::move(data);
    s.sampleRate = rate;
    s.originalPitch = pitch;
    return s;
}

Sf2TestZone zoneFor(uint16_t sampleId) { return Sf2TestZone{}.gen(Sf2Gen::SampleID, sampleId); }
Sf2TestZone presetZone(uint16_t instrument) { return Sf2TestZone{}.gen(Sf2Gen::Instrument, instrument); }

Bank importImage(const std::vector<uint8_t>& image, Sf2ImportReport* report = nullptr) {
    Sf2Font font;
    std::string error;
    Bank bank;
    EXPECT_TRUE(Sf2Reader::parse(image, font, error)) << error;
    EXPECT_TRUE(buildBankFromSoundFont(font, bank, error, report)) << error;
    return bank;
}

// A font whose program 0 plays one instrument made of `zones`.
Bank importProgram0(Sf2Writer& w, std::vector<Sf2TestZone> zones, std::vector<Sf2TestZone> preset = {}) {
    const uint16_t instrument = w.addInstrument("Instrument", std::move(zones));
    preset.push_back(presetZone(instrument));
    w.addPreset("Program Zero", 0, 0, std::move(preset));
    return importImage(w.image());
}

const Instrument& program(const Bank& bank, int32_t p) {
    const Instrument* instrument = bank.instrumentForProgram(p);
    EXPECT_NE(instrument, nullptr);
    return *instrument;
}

TEST(Sf2Import, KeyRangesAreTheIntersectionOfPresetAndInstrument) {
    Sf2Writer w;
    const uint16_t low = w.addSample(sample("Low", constant(10, 1)));
    const uint16_t high = w.addSample(sample("High", constant(10, 2)));
    const Bank bank =
        importProgram0(w, {zoneFor(low).range(Sf2Gen::KeyRange, 0, 59), zoneFor(high).range(Sf2Gen::KeyRange, 60, 127)},
                       {Sf2TestZone{}.range(Sf2Gen::KeyRange, 48, 71)});
    const Instrument& piano = program(bank, 0);
    ASSERT_EQ(piano.zones.count(), 2);
    EXPECT_EQ(piano.zones[0]->rangeStart, 48);
    EXPECT_EQ(piano.zones[0]->rangeEnd, 59);
    EXPECT_EQ(piano.zones[0]->wave->name, "Low");
    EXPECT_EQ(piano.zones[1]->rangeStart, 60);
    EXPECT_EQ(piano.zones[1]->rangeEnd, 71);
    EXPECT_EQ(piano.zones[1]->wave->name, "High");
    EXPECT_EQ(Bank::findZone(&piano, 47), nullptr);
    EXPECT_EQ(Bank::findZone(&piano, 72), nullptr);
    EXPECT_EQ(piano.name, "Program Zero");
}

TEST(Sf2Import, RootKeyIsTheOverridingRootKeyOrTheOriginalPitch) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("A", constant(10, 1), 44100, 57));
    Sf2TestSample unpitched = sample("Noise", constant(10, 1), 44100, 255);
    const uint16_t n = w.addSample(unpitched);
    const Bank bank = importProgram0(
        w, {zoneFor(s).range(Sf2Gen::KeyRange, 0, 39),
            Sf2TestZone{}.range(Sf2Gen::KeyRange, 40, 79).gen(Sf2Gen::OverridingRootKey, 69).gen(Sf2Gen::SampleID, s),
            zoneFor(n).range(Sf2Gen::KeyRange, 80, 127)});
    const Instrument& i = program(bank, 0);
    ASSERT_EQ(i.zones.count(), 3);
    EXPECT_EQ(i.zones[0]->basicNote, 57);
    EXPECT_EQ(i.zones[1]->basicNote, 69);
    EXPECT_EQ(i.zones[2]->basicNote, 60);  // unpitched: its own rate on middle C
    for (int z = 0; z < 3; ++z) EXPECT_EQ(i.zones[z]->wave->frequency, 44100u);
}

TEST(Sf2Import, TuningSetsTheFrequencyAtTheRootKey) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("Half rate", constant(10, 1), 22050, 60));
    Sf2TestSample corrected = sample("Corrected", constant(10, 1), 44100, 60);
    corrected.pitchCorrection = -50;
    const uint16_t c = w.addSample(corrected);
    const Bank bank = importProgram0(
        w,
        {Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 49).gen(Sf2Gen::CoarseTune, 12).gen(Sf2Gen::SampleID, s),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 50, 79).gen(Sf2Gen::FineTune, 50).gen(Sf2Gen::SampleID, c),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 80, 127).gen(Sf2Gen::CoarseTune, 7).gen(Sf2Gen::SampleID, s)},
        {Sf2TestZone{}.gen(Sf2Gen::CoarseTune, 5)});  // preset tuning adds to the instrument's
    const Instrument& i = program(bank, 0);
    ASSERT_EQ(i.zones.count(), 3);
    EXPECT_EQ(i.zones[0]->basicNote, 60);
    // 22050 Hz, coarse +12 and +5 from the preset: 17 semitones up.
    EXPECT_EQ(i.zones[0]->wave->frequency, static_cast<uint32_t>(std::lround(44100 * std::exp2(5 / 12.0))));
    EXPECT_EQ(i.zones[1]->wave->frequency,
              static_cast<uint32_t>(std::lround(44100 * std::exp2(5 / 12.0))));  // fine +50, correction -50
    EXPECT_EQ(i.zones[2]->wave->frequency, 44100u);                              // 22050 Hz, 7 + 5 semitones up
    EXPECT_EQ(i.zones[0]->wave->format.samplesPerSec, i.zones[0]->wave->frequency);
}

TEST(Sf2Import, AnOctaveUpFromHalfRateSoundsAtTheFullRate) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("Half rate", constant(10, 1), 22050, 69));
    const Bank bank = importProgram0(w, {Sf2TestZone{}.gen(Sf2Gen::CoarseTune, 12).gen(Sf2Gen::SampleID, s)});
    const Zone* zone = Bank::findZone(&program(bank, 0), 69);
    ASSERT_NE(zone, nullptr);
    EXPECT_EQ(zone->basicNote, 69);
    EXPECT_EQ(zone->wave->frequency, 44100u);
}

TEST(Sf2Import, LoopPointsBecomeAnInclusiveLoopEnd) {
    // Loops of 1000 samples and more stay as they are (shorter ones: Sf2Articulation.ShortLoopsAreRepeatedWhole).
    Sf2Writer w;
    Sf2TestSample looped = sample("Loop", ramp(1500));
    looped.loopStart = 100;
    looped.loopEnd = 1200;  // the first sample after the loop
    const uint16_t s = w.addSample(looped);
    auto z = [](uint8_t low, uint8_t high, int mode) {
        return Sf2TestZone{}.range(Sf2Gen::KeyRange, low, high).gen(Sf2Gen::SampleModes, mode);
    };
    const Bank bank = importProgram0(
        w, {z(0, 19, 1).gen(Sf2Gen::SampleID, s),
            z(20, 39, 1)
                .gen(Sf2Gen::StartloopAddrsOffset, 10)
                .gen(Sf2Gen::EndloopAddrsOffset, -10)
                .gen(Sf2Gen::SampleID, s),
            z(40, 59, 1).gen(Sf2Gen::StartAddrsOffset, 20).gen(Sf2Gen::EndAddrsOffset, -50).gen(Sf2Gen::SampleID, s),
            z(60, 79, 0).gen(Sf2Gen::SampleID, s),
            z(80, 99, 1).gen(Sf2Gen::EndloopAddrsOffset, 400).gen(Sf2Gen::SampleID, s),  // loop past the end
            z(100, 127, 3).gen(Sf2Gen::SampleID, s)});
    const Instrument& i = program(bank, 0);
    // Keys 60..99 play alike (unlooped), so they are one Zone.
    ASSERT_EQ(i.zones.count(), 5);
    const Wave& plain = *i.zones[0]->wave;
    EXPECT_EQ(plain.looped, 1);
    EXPECT_EQ(plain.loopBegin, 100);
    EXPECT_EQ(plain.loopEnd, 1199);
    EXPECT_EQ(plain.holdPos, 0);
    EXPECT_EQ(plain.sampleCount, 1500u);
    EXPECT_EQ(plain.samples[1199], 1199);

    EXPECT_EQ(i.zones[1]->wave->loopBegin, 110);
    EXPECT_EQ(i.zones[1]->wave->loopEnd, 1189);

    const Wave& trimmed = *i.zones[2]->wave;  // 20 samples off the start, 50 off the end
    EXPECT_EQ(trimmed.sampleCount, 1430u);
    EXPECT_EQ(trimmed.samples[0], 20);
    EXPECT_EQ(trimmed.loopBegin, 80);
    EXPECT_EQ(trimmed.loopEnd, 1179);

    EXPECT_EQ(i.zones[3]->rangeStart, 60);
    EXPECT_EQ(i.zones[3]->rangeEnd, 99);
    EXPECT_EQ(i.zones[3]->wave->looped, 0);
    EXPECT_EQ(i.zones[3]->wave->loopBegin, 0);
    EXPECT_EQ(i.zones[3]->wave->loopEnd, 0);

    const Wave& tail = *i.zones[4]->wave;  // loops while held, then plays its tail
    EXPECT_EQ(tail.looped, 1);
    EXPECT_EQ(tail.holdPos, 100);
    EXPECT_TRUE(i.zones[4]->articulation->tailOnRelease);
    EXPECT_FALSE(i.zones[0]->articulation->tailOnRelease);
}

TEST(Sf2Import, LoopThenTailLeavesTheCutoffToTheTail) {
    Sf2Writer w;
    Sf2TestSample looped = sample("Loop", ramp(300));
    looped.loopStart = 100;
    looped.loopEnd = 200;
    const uint16_t s = w.addSample(looped);
    const Bank bank = importProgram0(w, {Sf2TestZone{}.gen(Sf2Gen::SampleModes, 3).gen(Sf2Gen::SampleID, s)});
    EXPECT_EQ(program(bank, 0).cutoffFading, 0u);
}

TEST(Sf2Import, OffsetsOutsideTheSampleDataAreRefused) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("Short", constant(100, 1)));
    const uint16_t i =
        w.addInstrument("Far", {Sf2TestZone{}.gen(Sf2Gen::StartAddrsCoarseOffset, 1).gen(Sf2Gen::SampleID, s)});
    w.addPreset("Far", 0, 0, {presetZone(i)});
    Sf2Font font;
    std::string error;
    ASSERT_TRUE(Sf2Reader::parse(w.image(), font, error)) << error;
    Bank bank;
    bank.insertInstrument("Kept");
    EXPECT_FALSE(buildBankFromSoundFont(font, bank, error));
    EXPECT_NE(error.find("outside the 146 samples of sample data"), std::string::npos) << error;
    EXPECT_EQ(bank.instrumentCount, 1);  // the bank given is unchanged
    EXPECT_EQ(bank.instruments[0]->name, "Kept");
}

TEST(Sf2Import, StereoPairsBecomeTwoLinkedMonoZones) {
    Sf2Writer w;
    Sf2TestSample left = sample("Piano L", {1000, 32767, -32768, 32767, 7});
    left.type = Sf2SampleType::Left;
    left.link = 1;
    Sf2TestSample right = sample("Piano R", {3000, 32767, -32768, -32768, 8});
    right.type = Sf2SampleType::Right;
    right.link = 0;
    w.addSample(left);
    w.addSample(right);
    const Bank bank = importProgram0(w, {Sf2TestZone{}.gen(Sf2Gen::Pan, -500).gen(Sf2Gen::SampleID, 0),
                                         Sf2TestZone{}.gen(Sf2Gen::Pan, 500).gen(Sf2Gen::SampleID, 1)});
    const Instrument& i = program(bank, 0);
    ASSERT_EQ(i.zones.count(), 2);  // each side on its own, each its own samples
    EXPECT_EQ(i.zones[0]->wave->samples, (std::vector<int16_t>{1000, 32767, -32768, 32767, 7}));
    EXPECT_EQ(i.zones[1]->wave->samples, (std::vector<int16_t>{3000, 32767, -32768, -32768, 8}));
    EXPECT_EQ(i.zones[0]->articulation->pan, -500);
    EXPECT_EQ(i.zones[1]->articulation->pan, 500);
    EXPECT_EQ(i.zones[0]->articulation->linkedZone, 1);
    EXPECT_EQ(i.zones[1]->articulation->linkedZone, 0);
    for (int32_t z = 0; z < 2; ++z) {
        EXPECT_EQ(i.zones[z]->rangeStart, 0);
        EXPECT_EQ(i.zones[z]->rangeEnd, 127);
    }
    EXPECT_EQ(Bank::findZone(&i, 60), i.zones[0]);  // the Custom Mixer plays the first side
    const Zone* layers[4] = {};
    ASSERT_EQ(Bank::findLayers(&i, 60, 100, layers, 4), 2);  // the Studio mixer both
    EXPECT_EQ(layers[0], i.zones[0]);
    EXPECT_EQ(layers[1], i.zones[1]);
}

TEST(Sf2Import, AStereoSideWithoutAMatchingPartnerPlaysAlone) {
    Sf2Writer w;
    Sf2TestSample left = sample("L", {100, 200, 300});
    left.type = Sf2SampleType::Left;
    left.link = 1;
    Sf2TestSample right = sample("R", {1, 2});  // a different length
    right.type = Sf2SampleType::Right;
    w.addSample(left);
    w.addSample(right);
    const Bank bank = importProgram0(w, {zoneFor(0)});
    ASSERT_EQ(program(bank, 0).zones.count(), 1);
    EXPECT_EQ(program(bank, 0).zones[0]->wave->samples, (std::vector<int16_t>{100, 200, 300}));
    EXPECT_EQ(program(bank, 0).zones[0]->articulation->linkedZone, -1);
}

TEST(Sf2Import, VelocityLayersAreKeptWithTheOneThatPlaysVelocity100First) {
    Sf2Writer w;
    const uint16_t soft = w.addSample(sample("Soft", constant(10, 1)));
    const uint16_t mid = w.addSample(sample("Mid", constant(10, 2)));
    const uint16_t loud = w.addSample(sample("Loud", constant(10, 3)));
    auto layer = [](uint8_t low, uint8_t high, uint16_t s, uint8_t keyLow = 0, uint8_t keyHigh = 127) {
        return Sf2TestZone{}
            .range(Sf2Gen::KeyRange, keyLow, keyHigh)
            .range(Sf2Gen::VelRange, low, high)
            .gen(Sf2Gen::SampleID, s);
    };
    const Bank layered = importProgram0(w, {layer(0, 63, soft), layer(64, 110, mid), layer(111, 127, loud)});
    const Instrument& all = program(layered, 0);
    ASSERT_EQ(all.zones.count(), 3);
    // The Custom Mixer plays the first: the layer velocity 100 plays.
    EXPECT_EQ(all.zones[0]->wave->name, "Mid");
    EXPECT_EQ(all.zones[1]->wave->name, "Soft");
    EXPECT_EQ(all.zones[2]->wave->name, "Loud");
    EXPECT_EQ(all.zones[0]->articulation->velocityLow, 64);
    EXPECT_EQ(all.zones[0]->articulation->velocityHigh, 110);

    // Without a layer holding 100, the nearest one plays first; keys with one layer keep it.
    Sf2Writer gap;
    gap.addSample(sample("Soft", constant(10, 1)));
    gap.addSample(sample("Mid", constant(10, 2)));
    gap.addSample(sample("Loud", constant(10, 3)));
    const Bank nearest = importProgram0(gap, {layer(0, 63, soft), layer(111, 127, loud, 0, 59)});
    const Instrument& i = program(nearest, 0);
    ASSERT_EQ(i.zones.count(), 3);
    EXPECT_EQ(i.zones[0]->wave->name, "Loud");
    EXPECT_EQ(i.zones[0]->rangeEnd, 59);
    EXPECT_EQ(i.zones[1]->wave->name, "Soft");
    EXPECT_EQ(i.zones[1]->rangeStart, 60);
    EXPECT_EQ(i.zones[2]->wave->name, "Soft");  // the soft layer where the loud one plays first
    EXPECT_EQ(i.zones[2]->rangeStart, 0);
    EXPECT_EQ(i.zones[2]->rangeEnd, 59);
    const Zone* layers[4] = {};
    EXPECT_EQ(Bank::findLayers(&i, 30, 100, layers, 4), 0);  // no layer plays velocity 100 there
}

TEST(Sf2Import, DrumKeysHaveTheirOwnBasicNoteAndPitch) {
    Sf2Writer w;
    const uint16_t kick = w.addSample(sample("Kick", constant(10, 1), 40000, 60));
    const uint16_t snare = w.addSample(sample("Snare", constant(10, 2), 32000, 60));
    const uint16_t tom = w.addSample(sample("Tom", constant(10, 3), 30000, 45));
    const uint16_t kit = w.addInstrument(
        "Kit", {Sf2TestZone{}.range(Sf2Gen::KeyRange, 36, 36).gen(Sf2Gen::SampleID, kick),
                Sf2TestZone{}.range(Sf2Gen::KeyRange, 38, 38).gen(Sf2Gen::ScaleTuning, 0).gen(Sf2Gen::SampleID, snare),
                Sf2TestZone{}.range(Sf2Gen::KeyRange, 41, 43).gen(Sf2Gen::ScaleTuning, 50).gen(Sf2Gen::SampleID, tom)});
    w.addPreset("Standard", 0, 128, {presetZone(kit)});
    const Bank bank = importImage(w.image());
    ASSERT_EQ(bank.instrumentCount, 1);
    EXPECT_EQ(bank.programMap[Bank::kDrumEntry], 0);
    const Instrument& drums = program(bank, Bank::kDrumEntry);
    EXPECT_EQ(drums.name, "Standard");
    ASSERT_EQ(drums.zones.count(), 5);
    const Zone* k = Bank::findZone(&drums, 36);
    EXPECT_EQ(k->basicNote, 36);
    EXPECT_EQ(k->wave->frequency, 10000u);  // two octaves below its root key 60
    const Zone* s = Bank::findZone(&drums, 38);
    EXPECT_EQ(s->basicNote, 38);
    EXPECT_EQ(s->wave->frequency, 32000u);  // scale tuning 0: every key at the root pitch
    for (int key = 41; key <= 43; ++key) {
        const Zone* t = Bank::findZone(&drums, key);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->rangeStart, key);
        EXPECT_EQ(t->rangeEnd, key);
        EXPECT_EQ(t->basicNote, key);
        // Half a semitone per key from the root 45.
        EXPECT_EQ(t->wave->frequency, static_cast<uint32_t>(std::lround(30000 * std::exp2((key - 45) * 50 / 1200.0))));
    }
    EXPECT_EQ(Bank::findZone(&drums, 37), nullptr);
}

TEST(Sf2Import, ProgramOrderNamesAndTheProgramMap) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", constant(10, 1)));
    const uint16_t a = w.addInstrument("A", {zoneFor(s)});
    const uint16_t b = w.addInstrument("B", {Sf2TestZone{}.gen(Sf2Gen::CoarseTune, 1).gen(Sf2Gen::SampleID, s)});
    w.addPreset("Piano", 5, 0, {presetZone(b)});
    w.addPreset("Piano", 0, 0, {presetZone(a)});
    w.addPreset("Other bank", 1, 8, {presetZone(a)});  // variation banks are not used
    w.addPreset("Empty", 9, 0, {});                    // nothing to play
    w.addPreset("Room kit", 8, 128, {presetZone(a)});  // no standard kit: the lowest kit stands in
    Sf2ImportReport report;
    const Bank bank = importImage(w.image(), &report);
    ASSERT_EQ(bank.instrumentCount, 3);
    EXPECT_EQ(bank.instruments[0]->name, "Piano");
    EXPECT_EQ(bank.instruments[1]->name, "Piano (2)");
    EXPECT_EQ(bank.instruments[2]->name, "Room kit");
    for (int32_t slot = 0; slot < 3; ++slot) EXPECT_EQ(bank.instruments[slot]->index, slot);
    EXPECT_EQ(bank.programMap[0], 0);
    EXPECT_EQ(bank.programMap[5], 1);
    EXPECT_EQ(bank.programMap[128], 2);
    EXPECT_EQ(bank.programMap[1], 0);  // no preset: slot 0
    EXPECT_EQ(bank.programMap[9], 0);
    EXPECT_EQ(report.instruments, 3);
    EXPECT_EQ(report.mappedEntries, 3);
    EXPECT_EQ(report.zones, 3);
    EXPECT_EQ(report.sampleFrames, 30u);
    const auto mentions = [&report](const std::string& text) {
        for (const std::string& note : report.notes)
            if (note.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(mentions("using kit 8 'Room kit'"));
    EXPECT_TRUE(mentions("program 9 'Empty' has no sound"));
    EXPECT_TRUE(mentions("No preset for program 1;"));
}

TEST(Sf2Import, GlobalZonesApplyToEveryZone) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", constant(10, 1), 22050));
    const Bank bank = importProgram0(
        w,
        {Sf2TestZone{}.gen(Sf2Gen::CoarseTune, 12).gen(Sf2Gen::SampleModes, 0),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 63).gen(Sf2Gen::SampleID, s),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 64, 127).gen(Sf2Gen::CoarseTune, 0).gen(Sf2Gen::SampleID, s)},
        {Sf2TestZone{}.range(Sf2Gen::KeyRange, 10, 100)});
    const Instrument& i = program(bank, 0);
    ASSERT_EQ(i.zones.count(), 2);
    EXPECT_EQ(i.zones[0]->rangeStart, 10);
    EXPECT_EQ(i.zones[0]->wave->frequency, 44100u);  // the global coarse tune
    EXPECT_EQ(i.zones[1]->rangeEnd, 100);
    EXPECT_EQ(i.zones[1]->wave->frequency, 22050u);  // replaced by the zone's own
}

TEST(Sf2Import, AttenuationIsScaledIntoTheSamples) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", {10000, -10000, 0}));
    const Bank bank = importProgram0(w, {Sf2TestZone{}.gen(Sf2Gen::InitialAttenuation, 100).gen(Sf2Gen::SampleID, s)});
    // 100 cB written is 4 dB heard: 10^(-4/20) = 0.631.
    EXPECT_EQ(program(bank, 0).zones[0]->wave->samples, (std::vector<int16_t>{6310, -6310, 0}));
}

TEST(Sf2Import, FadingFollowsTheVolumeEnvelope) {
    // 1 s at 20 ms a pass takes gain 63.5 down by 1.27 a pass: 83231 in 16.16.
    EXPECT_EQ(fadeForSeconds(1.0), 83231u);
    EXPECT_EQ(fadeForSeconds(1e-9), 128u << 16);  // at most silence in one pass
    EXPECT_EQ(fadeForSeconds(1e9), 1u);           // never 0, which means "no fade"

    Sf2Envelope organ;
    organ.release = 1200;  // 2 s to silence: falls 40 dB in 0.8 s
    Sf2Fading f = fadingFromEnvelope(organ, 60, false);
    EXPECT_EQ(f.loopFading, 0u);  // sustains at full level while held
    EXPECT_EQ(f.sustainFading, 0u);
    EXPECT_EQ(f.cutoffFading, fadeForSeconds(0.8));
    // A note of velocity 127 at centre is gone after about 40 passes (0.8 s).
    const uint32_t fullGain = 127u << 15;  // 63.5 in 16.16
    EXPECT_EQ((fullGain + f.cutoffFading - 1) / f.cutoffFading, 40u);

    Sf2Envelope piano;
    piano.decay = 0;       // 1 s
    piano.sustain = 1000;  // decays to nothing while held
    f = fadingFromEnvelope(piano, 60, false);
    const double held = 3 * std::exp2(-10.0) + 0.4;  // delay, attack and hold of ~1 ms each, then 40 dB of decay
    EXPECT_EQ(f.loopFading, fadeForSeconds(held));
    EXPECT_EQ(f.sustainFading, f.loopFading);
    EXPECT_EQ(fadingFromEnvelope(piano, 60, true).cutoffFading, 0u);

    piano.keynumToDecay = 100;  // keys above middle C decay faster
    EXPECT_GT(fadingFromEnvelope(piano, 72, false).loopFading, f.loopFading);

    Sf2Envelope slight = piano;
    slight.sustain = 150;  // 15 dB down: still sounding while held
    EXPECT_EQ(fadingFromEnvelope(slight, 60, false).loopFading, 0u);
}

TEST(Sf2Import, TheInstrumentTakesTheFadingOfItsMiddleCLayer) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", constant(10, 1)));
    const Bank bank = importProgram0(
        w,
        {Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 59).gen(Sf2Gen::ReleaseVolEnv, -1200).gen(Sf2Gen::SampleID, s),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 60, 127).gen(Sf2Gen::ReleaseVolEnv, 0).gen(Sf2Gen::SampleID, s)},
        {Sf2TestZone{}.gen(Sf2Gen::ReleaseVolEnv, 1200)});  // the preset adds 1200 timecents
    EXPECT_EQ(program(bank, 0).cutoffFading, fadeForSeconds(2.0 * 0.4));
}

TEST(Sf2Import, ProgramsShareInstrumentsWhenTheSlotsRunOut) {
    // 128 melodic presets and a drum kit need 129 Instruments; the bank holds 128.
    Sf2Writer w;
    std::vector<uint16_t> instruments;
    for (int p = 0; p < 128; ++p) {
        const uint16_t s = w.addSample(sample("S" + std::to_string(p), constant(4, static_cast<int16_t>(p))));
        instruments.push_back(w.addInstrument("I" + std::to_string(p), {zoneFor(s)}));
    }
    const uint16_t kit = w.addInstrument("Kit", {zoneFor(0).range(Sf2Gen::KeyRange, 35, 81)});
    // Program 100 sounds like program 3; so does program 120 in the Custom Mixer,
    // but it pans elsewhere: it is the identical one that shares.
    for (int p = 0; p < 128; ++p) {
        std::vector<Sf2TestZone> zones{presetZone(instruments[p == 100 || p == 120 ? 3 : p])};
        if (p == 120) zones.insert(zones.begin(), Sf2TestZone{}.gen(Sf2Gen::Pan, 200));
        w.addPreset("P" + std::to_string(p), static_cast<uint16_t>(p), 0, zones);
    }
    w.addPreset("Drums", 0, 128, {presetZone(kit)});
    // Kits besides the standard one have places of their own.
    w.addPreset("Room", 8, 128, {presetZone(kit)});
    w.addPreset("Power", 16, 128, {presetZone(kit)});
    Sf2ImportReport report;
    Bank bank = importImage(w.image(), &report);
    EXPECT_EQ(bank.instrumentCount, 128);
    EXPECT_EQ(bank.programMap[100], bank.programMap[3]);
    EXPECT_NE(bank.programMap[120], bank.programMap[3]);
    EXPECT_EQ(bank.instruments[bank.programMap[Bank::kDrumEntry]]->name, "Drums");
    EXPECT_EQ(report.mappedEntries, 129);
    EXPECT_EQ(report.kits, 2);
    ASSERT_NE(bank.kits[8], nullptr);
    EXPECT_EQ(bank.kits[8]->name, "Room");
    ASSERT_NE(bank.kits[16], nullptr);
    EXPECT_EQ(bank.kits[16]->name, "Power");
    ASSERT_EQ(report.notes.size(), 1u);
    EXPECT_EQ(report.notes[0],
              "program 100 'P100' plays the Instrument of program 3 'P3': the bank holds 128 Instruments.");
    for (int p = 0; p < 128; ++p) EXPECT_EQ(program(bank, p).zones[0]->wave->samples[0], p == 100 || p == 120 ? 3 : p);

    // With nothing alike, the last program joins its neighbour of the same family.
    Sf2Writer distinct;
    for (int p = 0; p < 128; ++p) {
        const uint16_t s = distinct.addSample(sample("S" + std::to_string(p), constant(4, static_cast<int16_t>(p))));
        distinct.addPreset("P" + std::to_string(p), static_cast<uint16_t>(p), 0,
                           {presetZone(distinct.addInstrument("I", {zoneFor(s)}))});
    }
    distinct.addPreset("Drums", 0, 128, {presetZone(distinct.addInstrument("Kit", {zoneFor(0)}))});
    bank = importImage(distinct.image());
    EXPECT_EQ(bank.instrumentCount, 128);
    EXPECT_EQ(bank.programMap[127], bank.programMap[126]);
}

TEST(Sf2Import, ImportsFromAFileAndRefusesAFontWithoutGeneralMidiPresets) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", constant(10, 1)));
    w.addPreset("Variation", 3, 1, {presetZone(w.addInstrument("I", {zoneFor(s)}))});
    const std::string path = ::testing::TempDir() + "sf2_import_test.sf2";
    {
        const std::vector<uint8_t> image = w.image();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    Bank bank;
    std::string error;
    EXPECT_FALSE(importSoundFont(path, bank, error));
    EXPECT_NE(error.find("no playable General MIDI preset"), std::string::npos) << error;
    std::remove(path.c_str());

    EXPECT_FALSE(importSoundFont(path, bank, error));
    EXPECT_NE(error.find("Cannot open"), std::string::npos);
}

}  // namespace
}  // namespace tonvero
