// What a Zone keeps of its SoundFont layer beyond its samples: every
// articulation generator as the format combines the instrument and preset
// levels (global zones as defaults, preset values added, ranges intersected,
// instrument-only generators ignored at preset level, sums limited), the
// format's defaults where nothing is set; every layer over every key in the
// order that lets the Custom Mixer play what it always played; stereo sides
// linked; every drum kit kept; short loops repeated whole.

#include "bank/Sf2Fading.h"
#include "bank/Sf2Import.h"
#include "bank/Sf2Reader.h"
#include "bank/Sf2WaveMaker.h"
#include "bank/Sf2ZonePlanner.h"
#include "support/Sf2Writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace tonvero {
namespace {

using test::Sf2TestSample;
using test::Sf2TestZone;
using test::Sf2Writer;

Sf2TestSample sample(const std::string& name, std::vector<int16_t> data, uint32_t loopStart = 0, uint32_t loopEnd = 0) {
    Sf2TestSample s;
    s.name = name;
    s.data = std::move(data);
    s.loopStart = loopStart;
    s.loopEnd = loopEnd;
    return s;
}

std::vector<int16_t> ramp(size_t count) {
    std::vector<int16_t> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<int16_t>(i);
    return values;
}

Bank importImage(const std::vector<uint8_t>& image, Sf2ImportReport* report = nullptr) {
    Sf2Font font;
    std::string error;
    Bank bank;
    EXPECT_TRUE(Sf2Reader::parse(image, font, error)) << error;
    EXPECT_TRUE(buildBankFromSoundFont(font, bank, error, report)) << error;
    return bank;
}

Sf2TestZone presetZone(uint16_t instrument) { return Sf2TestZone{}.gen(Sf2Gen::Instrument, instrument); }

TEST(Sf2Articulation, GeneratorsCombineAsTheSoundFontFormatSays) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", ramp(1500), 100, 1200));
    const uint16_t instrument = w.addInstrument("I", {// The instrument's global zone: defaults for its other zones.
                                                      Sf2TestZone{}
                                                          .gen(Sf2Gen::DelayModLfo, -1000)
                                                          .gen(Sf2Gen::FreqVibLfo, -500)
                                                          .gen(Sf2Gen::InitialFilterQ, 100)
                                                          .gen(Sf2Gen::Pan, -100),
                                                      Sf2TestZone{}
                                                          .range(Sf2Gen::KeyRange, 60, 61)
                                                          .range(Sf2Gen::VelRange, 20, 90)
                                                          .gen(Sf2Gen::DelayVolEnv, -6000)
                                                          .gen(Sf2Gen::AttackVolEnv, -2000)
                                                          .gen(Sf2Gen::HoldVolEnv, -3000)
                                                          .gen(Sf2Gen::DecayVolEnv, -4000)
                                                          .gen(Sf2Gen::SustainVolEnv, 300)
                                                          .gen(Sf2Gen::ReleaseVolEnv, -5000)
                                                          .gen(Sf2Gen::KeynumToVolEnvHold, 50)
                                                          .gen(Sf2Gen::KeynumToVolEnvDecay, -60)
                                                          .gen(Sf2Gen::DelayModEnv, -6100)
                                                          .gen(Sf2Gen::AttackModEnv, -2100)
                                                          .gen(Sf2Gen::HoldModEnv, -3100)
                                                          .gen(Sf2Gen::DecayModEnv, -4100)
                                                          .gen(Sf2Gen::SustainModEnv, 400)
                                                          .gen(Sf2Gen::ReleaseModEnv, -5100)
                                                          .gen(Sf2Gen::KeynumToModEnvHold, 30)
                                                          .gen(Sf2Gen::KeynumToModEnvDecay, -40)
                                                          .gen(Sf2Gen::ModEnvToPitch, 700)
                                                          .gen(Sf2Gen::ModEnvToFilterFc, -2400)
                                                          .gen(Sf2Gen::FreqModLfo, -600)
                                                          .gen(Sf2Gen::ModLfoToPitch, 25)
                                                          .gen(Sf2Gen::ModLfoToFilterFc, 300)
                                                          .gen(Sf2Gen::ModLfoToVolume, 40)
                                                          .gen(Sf2Gen::DelayVibLfo, -1500)
                                                          .gen(Sf2Gen::VibLfoToPitch, 15)
                                                          .gen(Sf2Gen::InitialAttenuation, 120)
                                                          .gen(Sf2Gen::Pan, 200)
                                                          .gen(Sf2Gen::CoarseTune, 2)
                                                          .gen(Sf2Gen::FineTune, -7)
                                                          .gen(Sf2Gen::ScaleTuning, 90)
                                                          .gen(Sf2Gen::InitialFilterFc, 9000)
                                                          .gen(Sf2Gen::ExclusiveClass, 5)
                                                          .gen(Sf2Gen::SampleModes, 3)
                                                          .gen(Sf2Gen::SampleID, s)});
    w.addPreset("P", 0, 0,
                {// The preset's global zone, added to every layer.
                 Sf2TestZone{}.gen(Sf2Gen::ReleaseVolEnv, 1000).gen(Sf2Gen::Pan, 50),
                 Sf2TestZone{}
                     .range(Sf2Gen::VelRange, 30, 127)
                     .gen(Sf2Gen::AttackVolEnv, 500)
                     .gen(Sf2Gen::InitialFilterFc, 1000)
                     .gen(Sf2Gen::FineTune, 3)
                     .gen(Sf2Gen::FreqVibLfo, 100)
                     // Only an instrument may set these: ignored here.
                     .gen(Sf2Gen::ExclusiveClass, 9)
                     .gen(Sf2Gen::SampleModes, 0)
                     .gen(Sf2Gen::OverridingRootKey, 40)
                     .gen(Sf2Gen::Instrument, instrument)});
    const Bank bank = importImage(w.image());
    const Instrument& i = *bank.instrumentForProgram(0);

    ZoneArticulation expected;
    expected.volumeEnvelope = {-6000, -2000 + 500, -3000, -4000, 300, -5000 + 1000, 50, -60};
    expected.modulationEnvelope = {-6100, -2100, -3100, -4100, 400, -5100, 30, -40};
    expected.modulationEnvelopeToPitch = 700;
    expected.modulationEnvelopeToFilter = -2400;
    expected.modulationLfo = {-1000, -600, 25, 300, 40};
    expected.vibratoLfo = {-1500, -500 + 100, 15, 0, 0};
    // Attenuation and tuning ride in the Wave (its samples and frequency), not on top of it.
    expected.attenuation = 0;
    expected.pan = 200 + 50;
    expected.coarseTune = 0;
    expected.fineTune = 0;
    expected.scaleTuning = 90;
    expected.filterCutoff = 9000 + 1000;
    expected.filterResonance = 100;
    expected.exclusiveClass = 5;
    expected.velocityLow = 30;
    expected.velocityHigh = 90;
    expected.tailOnRelease = true;
    for (int32_t key : {60, 61}) {
        const Zone* zone = Bank::findZone(&i, key);
        ASSERT_NE(zone, nullptr);
        ASSERT_NE(zone->articulation, nullptr);
        EXPECT_EQ(*zone->articulation, expected) << "key " << key;
        // The frequency carries the tuning (root 60 kept: the preset cannot override it).
        EXPECT_EQ(zone->basicNote, key);
        EXPECT_EQ(zone->wave->frequency,
                  static_cast<uint32_t>(std::lround(44100 * std::exp2(((key - 60) * 90 + 196) / 1200.0))));
        EXPECT_EQ(zone->wave->holdPos, 100);  // sample mode 3 from the instrument, not 0 from the preset
    }
}

TEST(Sf2Articulation, ModulatorsSetTheStandardLinksAmounts) {
    // Velocity to cutoff turned off in the instrument's global zone, the
    // wheel's vibrato in a zone of its own; the preset adds to pressure's.
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", ramp(10)));
    const uint16_t instrument = w.addInstrument(
        "I",
        {Sf2TestZone{}.mod(0x0102, Sf2Gen::InitialFilterFc, 0, 0x0D02),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 63).mod(0x0081, Sf2Gen::VibLfoToPitch, 0).gen(Sf2Gen::SampleID, s),
         Sf2TestZone{}
             .range(Sf2Gen::KeyRange, 64, 127)
             .mod(0x000D, Sf2Gen::VibLfoToPitch, 20)
             .gen(Sf2Gen::SampleID, s)});
    w.addPreset("P", 0, 0, {Sf2TestZone{}.mod(0x000D, Sf2Gen::VibLfoToPitch, 5).gen(Sf2Gen::Instrument, instrument)});
    w.addPreset("Plain", 1, 0, {presetZone(w.addInstrument("J", {Sf2TestZone{}.gen(Sf2Gen::SampleID, s)}))});
    const Bank bank = importImage(w.image());
    const ZoneArticulation& low = *Bank::findZone(bank.instrumentForProgram(0), 40)->articulation;
    const ZoneArticulation& high = *Bank::findZone(bank.instrumentForProgram(0), 80)->articulation;
    EXPECT_EQ(low.velocityToFilter, 0);
    EXPECT_EQ(low.modulationToVibrato, 0);
    EXPECT_EQ(low.pressureToVibrato, 50 + 5);
    EXPECT_EQ(high.velocityToFilter, 0);
    EXPECT_EQ(high.modulationToVibrato, 50);
    EXPECT_EQ(high.pressureToVibrato, 20 + 5);
    const ZoneArticulation& plain = *Bank::findZone(bank.instrumentForProgram(1), 60)->articulation;
    EXPECT_EQ(plain.velocityToFilter, -2400);
    EXPECT_EQ(plain.modulationToVibrato, 50);
}

TEST(Sf2Articulation, AZoneSettingNothingHasTheFormatsDefaults) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", ramp(10)));
    w.addPreset("P", 0, 0, {presetZone(w.addInstrument("I", {Sf2TestZone{}.gen(Sf2Gen::SampleID, s)}))});
    const Bank bank = importImage(w.image());
    const Zone* zone = Bank::findZone(bank.instrumentForProgram(0), 60);
    ASSERT_NE(zone, nullptr);
    ASSERT_NE(zone->articulation, nullptr);
    EXPECT_EQ(*zone->articulation, ZoneArticulation{});
}

TEST(Sf2Articulation, SumsAreLimitedToTheirRanges) {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", ramp(10)));
    const uint16_t high = w.addInstrument("High", {Sf2TestZone{}
                                                       .gen(Sf2Gen::Pan, 400)
                                                       .gen(Sf2Gen::InitialAttenuation, 1000)
                                                       .gen(Sf2Gen::InitialFilterFc, 13000)
                                                       .gen(Sf2Gen::FineTune, 90)
                                                       .gen(Sf2Gen::AttackVolEnv, 7000)
                                                       .gen(Sf2Gen::KeynumToVolEnvHold, 1000)
                                                       .gen(Sf2Gen::ExclusiveClass, 200)
                                                       .gen(Sf2Gen::SampleID, s)});
    w.addPreset("High", 0, 0,
                {Sf2TestZone{}
                     .gen(Sf2Gen::Pan, 300)
                     .gen(Sf2Gen::InitialAttenuation, 1000)
                     .gen(Sf2Gen::InitialFilterFc, 1000)
                     .gen(Sf2Gen::FineTune, 20)
                     .gen(Sf2Gen::AttackVolEnv, 2000)
                     .gen(Sf2Gen::KeynumToVolEnvHold, 500)
                     .gen(Sf2Gen::Instrument, high)});
    const uint16_t low = w.addInstrument("Low", {Sf2TestZone{}
                                                     .gen(Sf2Gen::Pan, -600)
                                                     .gen(Sf2Gen::InitialFilterFc, 1200)
                                                     .gen(Sf2Gen::CoarseTune, -130)
                                                     .gen(Sf2Gen::FineTune, -120)
                                                     .gen(Sf2Gen::DelayVolEnv, -13000)
                                                     .gen(Sf2Gen::SampleID, s)});
    w.addPreset("Low", 1, 0, {presetZone(low)});
    const Bank bank = importImage(w.image());

    const ZoneArticulation& a = *Bank::findZone(bank.instrumentForProgram(0), 60)->articulation;
    EXPECT_EQ(a.pan, 500);
    EXPECT_EQ(a.filterCutoff, 13500);
    EXPECT_EQ(a.volumeEnvelope.attack, 8000);
    EXPECT_EQ(a.volumeEnvelope.keyToHold, 1200);
    EXPECT_EQ(a.exclusiveClass, 127);

    const Zone& lowZone = *Bank::findZone(bank.instrumentForProgram(1), 60);
    const ZoneArticulation& b = *lowZone.articulation;
    EXPECT_EQ(b.pan, -500);
    EXPECT_EQ(b.filterCutoff, 1500);
    EXPECT_EQ(b.volumeEnvelope.delay, -12000);
    // The Wave's pitch follows the limited tuning: 120 semitones and 99 cents down.
    EXPECT_EQ(lowZone.wave->frequency, static_cast<uint32_t>(std::lround(44100 * std::exp2(-12099 / 1200.0))));
}

// A layer as the test defines it, to work out which should sound.
struct Layer {
    std::string name;
    uint8_t keyLow, keyHigh, velLow, velHigh;
};

TEST(Sf2Articulation, EveryLayerSoundsAndTheCustomMixerPlaysWhatItAlwaysPlayed) {
    const std::vector<Layer> layers = {
        {"A", 0, 63, 0, 63},      {"B", 0, 63, 64, 127},  {"C", 40, 100, 0, 127},
        {"D", 90, 127, 100, 127}, {"E", 110, 127, 0, 50}, {"F", 50, 52, 0, 127},
    };
    Sf2Writer w;
    std::vector<Sf2TestZone> zones;
    for (size_t l = 0; l < layers.size(); ++l) {
        const Layer& layer = layers[l];
        const uint16_t s = w.addSample(sample(layer.name, std::vector<int16_t>(8, static_cast<int16_t>(l))));
        Sf2TestZone zone = Sf2TestZone{}
                               .range(Sf2Gen::KeyRange, layer.keyLow, layer.keyHigh)
                               .range(Sf2Gen::VelRange, layer.velLow, layer.velHigh);
        if (layer.name == "F") zone.gen(Sf2Gen::ScaleTuning, 50);  // one Zone a key
        zones.push_back(zone.gen(Sf2Gen::SampleID, s));
    }
    w.addPreset("P", 0, 0, {presetZone(w.addInstrument("I", zones))});
    const Bank bank = importImage(w.image());
    const Instrument& i = *bank.instrumentForProgram(0);

    for (int32_t key = 0; key < 128; ++key) {
        // The Custom Mixer's choice: the first layer holding velocity 100, else the nearest.
        std::string chosen;
        int32_t nearest = 1000;
        for (const Layer& layer : layers) {
            if (key < layer.keyLow || key > layer.keyHigh) continue;
            const int32_t distance = std::max({0, layer.velLow - 100, 100 - layer.velHigh});
            if (distance < nearest) {
                nearest = distance;
                chosen = layer.name;
            }
        }
        const Zone* first = Bank::findZone(&i, key);
        ASSERT_EQ(first ? first->wave->name : "", chosen) << "key " << key;
        for (int32_t velocity : {1, 30, 50, 51, 63, 64, 99, 100, 127}) {
            std::vector<std::string> expected, found;
            for (const Layer& layer : layers)
                if (layer.keyLow <= key && key <= layer.keyHigh && layer.velLow <= velocity &&
                    velocity <= layer.velHigh)
                    expected.push_back(layer.name);
            const Zone* sounding[16] = {};
            const int32_t count = Bank::findLayers(&i, key, velocity, sounding, 16);
            for (int32_t z = 0; z < count; ++z) found.push_back(sounding[z]->wave->name);
            std::sort(found.begin(), found.end());
            ASSERT_EQ(found, expected) << "key " << key << " velocity " << velocity;
        }
    }
    // Each Zone keeps its layer's velocity range and plays its samples.
    for (int32_t z = 0; z < i.zones.count(); ++z) {
        const Zone& zone = *i.zones[z];
        const Layer& layer = layers[static_cast<size_t>(zone.wave->samples[0])];
        EXPECT_EQ(zone.wave->name, layer.name);
        EXPECT_EQ(zone.articulation->velocityLow, layer.velLow);
        EXPECT_EQ(zone.articulation->velocityHigh, layer.velHigh);
        EXPECT_GE(zone.rangeStart, layer.keyLow);
        EXPECT_LE(zone.rangeEnd, layer.keyHigh);
    }
}

TEST(Sf2Articulation, TheSidesOfAStereoPairGetZonesOfTheSameKeysAndAreLinked) {
    Sf2Writer w;
    const uint16_t mono = w.addSample(sample("Mono", std::vector<int16_t>(8, 1)));
    Sf2TestSample left = sample("Left", std::vector<int16_t>(8, 2));
    left.type = Sf2SampleType::Left;
    left.link = 2;
    Sf2TestSample right = sample("Right", std::vector<int16_t>(8, 3));
    right.type = Sf2SampleType::Right;
    right.link = 1;
    w.addSample(left);
    w.addSample(right);
    // The mono layer comes first on keys 0..30, so the left side plays first only from key 31.
    w.addPreset(
        "P", 0, 0,
        {presetZone(w.addInstrument(
            "I", {Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 30).gen(Sf2Gen::SampleID, mono),
                  Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 60).gen(Sf2Gen::Pan, -500).gen(Sf2Gen::SampleID, 1),
                  Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 60).gen(Sf2Gen::Pan, 500).gen(Sf2Gen::SampleID, 2)}))});
    const Bank bank = importImage(w.image());
    const Instrument& i = *bank.instrumentForProgram(0);
    ASSERT_EQ(i.zones.count(), 5);  // mono; left 31..60; left 0..30; right 0..30; right 31..60
    for (int32_t z = 0; z < i.zones.count(); ++z) {
        const Zone& zone = *i.zones[z];
        if (zone.wave->name == "Mono") {
            EXPECT_EQ(zone.articulation->linkedZone, -1);
            continue;
        }
        const int32_t other = zone.articulation->linkedZone;
        ASSERT_GE(other, 0) << zone.wave->name << " " << zone.rangeStart;
        ASSERT_LT(other, i.zones.count());
        const Zone& partner = *i.zones[other];
        EXPECT_EQ(partner.articulation->linkedZone, z);
        EXPECT_EQ(partner.wave->name, zone.wave->name == "Left" ? "Right" : "Left");
        EXPECT_EQ(partner.rangeStart, zone.rangeStart);
        EXPECT_EQ(partner.rangeEnd, zone.rangeEnd);
    }
    EXPECT_EQ(Bank::findZone(&i, 30)->wave->name, "Mono");
    EXPECT_EQ(Bank::findZone(&i, 31)->wave->name, "Left");
}

TEST(Sf2Articulation, EveryDrumKitIsKeptWithAZoneForEachKey) {
    Sf2Writer w;
    const uint16_t kick = w.addSample(sample("Kick", std::vector<int16_t>(8, 1)));
    const uint16_t snare = w.addSample(sample("Snare", std::vector<int16_t>(8, 2)));
    const uint16_t standard =
        w.addInstrument("Standard", {Sf2TestZone{}.range(Sf2Gen::KeyRange, 36, 36).gen(Sf2Gen::SampleID, kick)});
    const uint16_t room = w.addInstrument(
        "Room",
        {Sf2TestZone{}.range(Sf2Gen::KeyRange, 35, 36).gen(Sf2Gen::ScaleTuning, 0).gen(Sf2Gen::SampleID, kick),
         Sf2TestZone{}
             .range(Sf2Gen::KeyRange, 38, 38)
             .gen(Sf2Gen::ReleaseVolEnv, 1200)
             .gen(Sf2Gen::ExclusiveClass, 1)
             .gen(Sf2Gen::SampleID, snare),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 38, 38).range(Sf2Gen::VelRange, 0, 40).gen(Sf2Gen::SampleID, kick)});
    w.addPreset("Room Kit", 8, 128, {presetZone(room)});
    w.addPreset("Standard Kit", 0, 128, {presetZone(standard)});
    w.addPreset("TR 808", 25, 128, {presetZone(standard)});
    w.addPreset("Second Room", 8, 128, {presetZone(standard)});  // the first of a program counts
    Sf2ImportReport report;
    const Bank bank = importImage(w.image(), &report);
    EXPECT_EQ(bank.instrumentCount, 1);  // kits are counted apart from the 128 Instruments
    EXPECT_EQ(report.instruments, 1);
    EXPECT_EQ(report.kits, 2);
    EXPECT_EQ(bank.instrumentForProgram(Bank::kDrumEntry)->name, "Standard Kit");
    EXPECT_EQ(bank.kits[0], nullptr);
    ASSERT_NE(bank.kits[25], nullptr);
    EXPECT_EQ(bank.kits[25]->name, "TR 808");
    const Instrument* kit = bank.kitForProgram(8);
    ASSERT_EQ(kit, bank.kits[8].get());
    EXPECT_EQ(kit->name, "Room Kit");
    EXPECT_EQ(bank.kitForProgram(9), bank.instrumentForProgram(Bank::kDrumEntry));
    // One Zone a key, at its own key; the soft layer of key 38 after the ones the Custom Mixer plays.
    ASSERT_EQ(kit->zones.count(), 4);
    for (int32_t z = 0; z < 3; ++z) {
        EXPECT_EQ(kit->zones[z]->rangeStart, kit->zones[z]->rangeEnd);
        EXPECT_EQ(kit->zones[z]->basicNote, kit->zones[z]->rangeStart);
    }
    EXPECT_EQ(Bank::findZone(kit, 38)->wave->name, "Snare");
    EXPECT_EQ(Bank::findZone(kit, 38)->articulation->exclusiveClass, 1);
    EXPECT_EQ(kit->zones[3]->wave->name, "Kick");
    EXPECT_EQ(kit->zones[3]->articulation->velocityHigh, 40);
    // Fading from the snare's envelope: released over 2 s, gone 40 dB down in 0.8 s.
    EXPECT_EQ(kit->cutoffFading, fadeForSeconds(2.0 * 0.4));
}

TEST(Sf2Articulation, LayersPastTheZonesAnInstrumentHoldsAreLeftOutWithANote) {
    // 200 layers over every key with a scale tuning of their own: 128 Zones each.
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("S", ramp(8)));
    std::vector<Sf2TestZone> zones;
    for (int l = 0; l < 200; ++l)
        zones.push_back(Sf2TestZone{}.gen(Sf2Gen::ScaleTuning, 200 + l).gen(Sf2Gen::SampleID, s));
    w.addPreset("Many", 0, 0, {presetZone(w.addInstrument("I", zones))});
    Sf2ImportReport report;
    const Bank bank = importImage(w.image(), &report);
    const Instrument& i = *bank.instrumentForProgram(0);
    EXPECT_EQ(i.zones.count(), 128 * 128);  // the first layer's, then 127 more of 128 Zones each
    EXPECT_EQ(static_cast<size_t>(i.zones.count()), Sf2ZonePlanner::kMostZones);
    EXPECT_EQ(Bank::findZone(&i, 127)->articulation->scaleTuning, 200);
    ASSERT_FALSE(report.notes.empty());
    EXPECT_EQ(report.notes[0], "program 0 'Many': 72 layers are left out; an Instrument holds 16384 Zones.");
}

TEST(Sf2Articulation, WavesOfOneSampleShareItAndOnlyDistinctSamplesCountTowardsTheLimit) {
    // 128 layers of one Zone a key, each a copy of 70000 samples: 16384 Waves,
    // over 2^30 samples if each held its own, all sharing one storage.
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("Long", std::vector<int16_t>(70000, 1)));
    std::vector<Sf2TestZone> zones;
    for (int l = 0; l < 128; ++l)
        zones.push_back(Sf2TestZone{}.gen(Sf2Gen::ScaleTuning, 200 + l).gen(Sf2Gen::SampleID, s));
    w.addPreset("Huge", 0, 0, {presetZone(w.addInstrument("I", zones))});
    Sf2ImportReport report;
    const Bank shared = importImage(w.image(), &report);
    EXPECT_EQ(report.sampleFrames, 16384u * 70000u);
    EXPECT_EQ(report.storedFrames, 70000u);
    const Instrument& i = *shared.instrumentForProgram(0);
    ASSERT_EQ(i.zones.count(), 16384);
    for (int32_t z = 1; z < i.zones.count(); ++z)
        ASSERT_TRUE(i.zones[z]->wave->samples.sharesStorageWith(i.zones[0]->wave->samples)) << z;

    // One sample at four attenuations (written centibels). Samples are stored
    // at the least, 100; the quieter velocity layer (300) takes them with 80 cB
    // heard in its articulation; program 1 (150), played by the Custom
    // Mixer, takes them too, 20 cB louder there; program 2 (500) would be 160
    // cB louder, so its samples are stored again at its own attenuation.
    Sf2Writer four;
    const uint16_t tone = four.addSample(sample("Tone", std::vector<int16_t>(1000, 10000)));
    const auto layer = [&](int32_t attenuation, uint8_t low, uint8_t high) {
        return Sf2TestZone{}
            .range(Sf2Gen::VelRange, low, high)
            .gen(Sf2Gen::InitialAttenuation, attenuation)
            .gen(Sf2Gen::SampleID, tone);
    };
    four.addPreset("Layers", 0, 0, {presetZone(four.addInstrument("L", {layer(100, 64, 127), layer(300, 0, 63)}))});
    four.addPreset("Near", 1, 0, {presetZone(four.addInstrument("N", {layer(150, 0, 127)}))});
    four.addPreset("Far", 2, 0, {presetZone(four.addInstrument("F", {layer(500, 0, 127)}))});
    Sf2ImportReport fourReport;
    const Bank attenuated = importImage(four.image(), &fourReport);
    EXPECT_EQ(fourReport.storedFrames, 2000u);
    const auto zoneOf = [&](int32_t program, int32_t z) { return attenuated.instrumentForProgram(program)->zones[z]; };
    const SampleData& least = zoneOf(0, 0)->wave->samples;
    EXPECT_EQ(least[0], std::lround(10000 * std::pow(10.0, -0.4 * 100 / 200)));
    EXPECT_EQ(zoneOf(0, 0)->articulation->attenuation, 0);
    EXPECT_TRUE(zoneOf(0, 1)->wave->samples.sharesStorageWith(least));
    EXPECT_EQ(zoneOf(0, 1)->articulation->attenuation, 80);
    EXPECT_TRUE(zoneOf(1, 0)->wave->samples.sharesStorageWith(least));
    EXPECT_EQ(zoneOf(1, 0)->articulation->attenuation, 20);
    EXPECT_FALSE(zoneOf(2, 0)->wave->samples.sharesStorageWith(least));
    EXPECT_EQ(zoneOf(2, 0)->wave->samples[0], 1000);
    EXPECT_EQ(zoneOf(2, 0)->articulation->attenuation, 0);

    // 16384 layers each starting one sample later: as many distinct Waves, over 2^30 samples.
    Sf2Writer many;
    const uint16_t longer = many.addSample(sample("Longer", std::vector<int16_t>(80000, 1)));
    for (int p = 0; p < 128; ++p) {
        std::vector<Sf2TestZone> keys;
        for (int k = 0; k < 128; ++k)
            keys.push_back(Sf2TestZone{}
                               .range(Sf2Gen::KeyRange, static_cast<uint8_t>(k), static_cast<uint8_t>(k))
                               .gen(Sf2Gen::StartAddrsOffset, p * 128 + k)
                               .gen(Sf2Gen::SampleID, longer));
        many.addPreset("P", static_cast<uint16_t>(p), 0, {presetZone(many.addInstrument("I", keys))});
    }
    Sf2Font font;
    std::string error;
    ASSERT_TRUE(Sf2Reader::parse(many.image(), font, error)) << error;
    Bank bank;
    bank.insertInstrument("Kept");
    EXPECT_FALSE(buildBankFromSoundFont(font, bank, error));
    EXPECT_EQ(error,
              "The SoundFont would make a bank of 1176510464 samples, more than the 1073741824 a bank can hold.");
    EXPECT_EQ(bank.instrumentCount, 1);
}

// What a Wave plays from its start, looping as the mixers loop it, for `length` samples.
std::vector<int16_t> unrolled(const std::vector<int16_t>& samples, int32_t loopBegin, int32_t loopEnd, size_t length) {
    std::vector<int16_t> out;
    for (size_t position = 0; out.size() < length;) {
        if (position > static_cast<size_t>(loopEnd)) position = static_cast<size_t>(loopBegin);
        out.push_back(samples[position++]);
    }
    return out;
}

TEST(Sf2Articulation, ShortLoopsAreRepeatedWhole) {
    // 50 samples of attack, a loop of 7, a tail of 23.
    std::vector<int16_t> data;
    for (int16_t v = 0; v < 50; ++v) data.push_back(static_cast<int16_t>(1000 + v));
    for (int16_t v = 1; v <= 7; ++v) data.push_back(v);
    for (int16_t v = 0; v < 23; ++v) data.push_back(static_cast<int16_t>(2000 + v));
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("Short", data, 50, 57));
    w.addPreset(
        "P", 0, 0,
        {presetZone(w.addInstrument(
            "I", {Sf2TestZone{}.range(Sf2Gen::KeyRange, 0, 63).gen(Sf2Gen::SampleModes, 3).gen(Sf2Gen::SampleID, s),
                  Sf2TestZone{}
                      .range(Sf2Gen::KeyRange, 64, 127)
                      .gen(Sf2Gen::SampleModes, 3)
                      .gen(Sf2Gen::ScaleTuning, 50)
                      .gen(Sf2Gen::SampleID, s)}))});
    const Bank bank = importImage(w.image());
    const Instrument& i = *bank.instrumentForProgram(0);
    for (int32_t key : {10, 100}) {
        const Wave& wave = *Bank::findZone(&i, key)->wave;
        // 143 times 7 samples: the first length of at least 1000.
        EXPECT_EQ(wave.loopBegin, 50);
        EXPECT_EQ(wave.loopEnd, 50 + 1001 - 1);
        EXPECT_EQ(wave.holdPos, 50);
        ASSERT_EQ(wave.sampleCount, 50u + 1001u + 23u);
        // The same sound while held, and the same tail after the loop.
        EXPECT_EQ(unrolled(wave.samples.copy(), wave.loopBegin, wave.loopEnd, 5000), unrolled(data, 50, 56, 5000));
        EXPECT_EQ(std::vector<int16_t>(wave.samples.end() - 23, wave.samples.end()),
                  std::vector<int16_t>(data.end() - 23, data.end()));
    }

    Sf2Region region;
    region.end = 80;
    region.loopStart = 50;
    region.loopEnd = 57;
    region.loopValid = true;
    region.sampleModes = 1;
    EXPECT_EQ(Sf2WaveMaker::madeLength(Sf2WaveMaker::keyFor(region)), 50u + 1001u + 23u);  // counted before it is made

    // The length itself and longer loops stay; 999 samples become two copies.
    const std::vector<int16_t> data3000 = ramp(3000);
    std::vector<uint8_t> bytes;
    for (int16_t v : data3000) bytes.insert(bytes.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    Sf2Font font;
    font.sampleData.setPlain(bytes, nullptr, nullptr);
    const auto made = [&](int32_t loopBegin, int32_t loopEnd) {
        Sf2WaveKey key;
        key.end = 3000;
        key.looped = true;
        key.loopBegin = loopBegin;
        key.loopEnd = loopEnd;
        Sf2WaveData wave = Sf2WaveMaker::make(font, key);
        EXPECT_EQ(wave.samples.size(), Sf2WaveMaker::madeLength(key));
        return wave;
    };
    EXPECT_EQ(made(100, 1099).loopEnd, 1099);
    EXPECT_EQ(made(100, 1099).samples, data3000);
    const Sf2WaveData twice = made(100, 1098);
    EXPECT_EQ(twice.loopEnd, 100 + 1998 - 1);
    ASSERT_EQ(twice.samples.size(), 3000u + 999u);
    EXPECT_EQ(twice.samples[1099], 100);  // the second copy starts where the loop did
    EXPECT_EQ(twice.samples[2097], 1098);
    EXPECT_EQ(twice.samples[2098], 1099);  // then what followed the loop
    EXPECT_EQ(twice.samples[3998], 2999);
    // A loop outside the samples is left alone.
    EXPECT_EQ(made(10, 5000).loopEnd, 5000);
    EXPECT_EQ(made(10, 5000).samples, data3000);
}

}  // namespace
}  // namespace tonvero
