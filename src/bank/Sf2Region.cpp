#include "bank/Sf2Region.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tonvero {
namespace {

// A generator's default (its value when no zone sets it) and its range.
struct GeneratorRule {
    int32_t initial = 0, low = -32768, high = 32767;
};

// The SoundFont's defaults and ranges of the generators a Zone keeps.
constexpr std::array<GeneratorRule, Sf2Gen::Count> makeRules() {
    std::array<GeneratorRule, Sf2Gen::Count> rules{};
    const GeneratorRule delay{kInstantTimecents, -12000, 5000};
    const GeneratorRule time{kInstantTimecents, -12000, 8000};
    const GeneratorRule perKey{0, -1200, 1200};
    const GeneratorRule modulation{0, -12000, 12000};
    rules[Sf2Gen::ModLfoToPitch] = modulation;
    rules[Sf2Gen::VibLfoToPitch] = modulation;
    rules[Sf2Gen::ModEnvToPitch] = modulation;
    rules[Sf2Gen::InitialFilterFc] = {kOpenFilterCents, 1500, kOpenFilterCents};
    rules[Sf2Gen::InitialFilterQ] = {0, 0, 960};
    rules[Sf2Gen::ModLfoToFilterFc] = modulation;
    rules[Sf2Gen::ModEnvToFilterFc] = modulation;
    rules[Sf2Gen::ModLfoToVolume] = {0, -960, 960};
    rules[Sf2Gen::Pan] = {0, -500, 500};
    rules[Sf2Gen::ChorusEffectsSend] = {0, 0, 1000};
    rules[Sf2Gen::ReverbEffectsSend] = {0, 0, 1000};
    rules[Sf2Gen::DelayModLfo] = delay;
    rules[Sf2Gen::FreqModLfo] = {0, -16000, 4500};
    rules[Sf2Gen::DelayVibLfo] = delay;
    rules[Sf2Gen::FreqVibLfo] = {0, -16000, 4500};
    for (uint16_t first : {Sf2Gen::DelayModEnv, Sf2Gen::DelayVolEnv}) {
        rules[first] = delay;       // delay
        rules[first + 1] = time;    // attack
        rules[first + 2] = delay;   // hold
        rules[first + 3] = time;    // decay
        rules[first + 5] = time;    // release
        rules[first + 6] = perKey;  // key number to hold
        rules[first + 7] = perKey;  // key number to decay
    }
    rules[Sf2Gen::SustainModEnv] = {0, 0, 1000};
    rules[Sf2Gen::SustainVolEnv] = {0, 0, 1440};
    rules[Sf2Gen::InitialAttenuation] = {0, 0, 1440};
    rules[Sf2Gen::CoarseTune] = {0, -120, 120};
    rules[Sf2Gen::FineTune] = {0, -99, 99};
    rules[Sf2Gen::ScaleTuning] = {100, 0, 1200};
    rules[Sf2Gen::ExclusiveClass] = {0, 0, 127};
    rules[Sf2Gen::OverridingRootKey] = {-1, -1, 127};
    rules[Sf2Gen::Keynum] = {-1, -1, 127};
    rules[Sf2Gen::Velocity] = {-1, -1, 127};
    return rules;
}

constexpr std::array<GeneratorRule, Sf2Gen::Count> kRules = makeRules();

// Generators only an instrument zone may set; at preset level they are ignored.
constexpr bool instrumentOnly(uint16_t oper) {
    switch (oper) {
    case Sf2Gen::StartAddrsOffset:
    case Sf2Gen::EndAddrsOffset:
    case Sf2Gen::StartloopAddrsOffset:
    case Sf2Gen::EndloopAddrsOffset:
    case Sf2Gen::StartAddrsCoarseOffset:
    case Sf2Gen::EndAddrsCoarseOffset:
    case Sf2Gen::StartloopAddrsCoarseOffset:
    case Sf2Gen::EndloopAddrsCoarseOffset:
    case Sf2Gen::Keynum:
    case Sf2Gen::Velocity:
    case Sf2Gen::SampleModes:
    case Sf2Gen::ExclusiveClass:
    case Sf2Gen::OverridingRootKey: return true;
    default: return false;
    }
}

// The standard links a Zone keeps the amounts of, and how a modulator is
// told to be one: its source (index and controller flag, whatever its
// curve) and the generator it moves.
enum Link { VelocityToFilter, WheelToVibrato, PressureToVibrato, kLinks };
struct LinkRule {
    uint16_t sourceIndex;  // the source operator's low 8 bits: index and controller flag
    uint16_t destination;
    int32_t initial;  // the SoundFont's standard amount
};
constexpr LinkRule kLinkRules[kLinks] = {
    {0x02, Sf2Gen::InitialFilterFc, -2400},  // note-on velocity
    {0x81, Sf2Gen::VibLfoToPitch, 50},       // controller 1, the modulation wheel
    {0x0D, Sf2Gen::VibLfoToPitch, 50},       // channel pressure
};

// The generator values of one zone level: the instrument level starts from
// the SoundFont defaults, the preset level from 0 (its values are added).
// The standard links' amounts go the same way: a zone's own modulator for
// one replaces it, a preset's adds to it.
struct GeneratorSet {
    std::array<int32_t, Sf2Gen::Count> value{};
    std::array<int32_t, kLinks> link{};
    int32_t keyLow = 0, keyHigh = 127, velLow = 0, velHigh = 127;
    bool hasIndex = false;
    uint16_t index = 0;  // the instrument (preset level) or the sample (instrument level)

    static GeneratorSet instrumentDefaults() {
        GeneratorSet set;
        for (size_t g = 0; g < kRules.size(); ++g) set.value[g] = kRules[g].initial;
        for (size_t l = 0; l < kLinks; ++l) set.link[l] = kLinkRules[l].initial;
        return set;
    }

    // A later zone's generators replace the earlier (global) values one by one.
    void apply(const Sf2Zone& zone, uint16_t indexOper) {
        for (const Sf2Generator& gen : zone.generators) {
            if (gen.oper == Sf2Gen::KeyRange) {
                keyLow = gen.rangeLow();
                keyHigh = gen.rangeHigh();
            } else if (gen.oper == Sf2Gen::VelRange) {
                velLow = gen.rangeLow();
                velHigh = gen.rangeHigh();
            } else if (gen.oper == indexOper) {
                hasIndex = true;
                index = gen.amount;
            } else if (gen.oper == Sf2Gen::SampleModes) {
                value[gen.oper] = gen.amount & 3;
            } else if (gen.oper < Sf2Gen::Count) {
                value[gen.oper] = gen.signedAmount();
            }
        }
        for (const Sf2Modulator& mod : zone.modulatorList)
            for (size_t l = 0; l < kLinks; ++l)
                if ((mod.source & 0xFF) == kLinkRules[l].sourceIndex && mod.destination == kLinkRules[l].destination)
                    link[l] = mod.amount;
    }

    // Adds a preset level's values to these instrument values.
    void add(const GeneratorSet& preset) {
        for (uint16_t g = 0; g < Sf2Gen::Count; ++g)
            if (!instrumentOnly(g) && g != Sf2Gen::Instrument && g != Sf2Gen::SampleID) value[g] += preset.value[g];
        for (size_t l = 0; l < kLinks; ++l) link[l] += preset.link[l];
    }

    // The value of generator `g` limited to its range.
    int32_t limited(uint16_t g) const { return std::clamp(value[g], kRules[g].low, kRules[g].high); }
};

bool hasGenerator(const Sf2Zone& zone, uint16_t oper) {
    return std::any_of(zone.generators.begin(), zone.generators.end(),
                       [oper](const Sf2Generator& g) { return g.oper == oper; });
}

// The first zone of a list is its global zone when it names no instrument
// (or sample); its values stand for every other zone of the list.
bool isGlobalZone(const std::vector<Sf2Zone>& zones, size_t position, uint16_t indexOper) {
    return position == 0 && zones.size() > 0 && !hasGenerator(zones[0], indexOper);
}

int64_t offset(const GeneratorSet& set, uint16_t fine, uint16_t coarse) {
    return static_cast<int64_t>(set.value[fine]) + 32768 * static_cast<int64_t>(set.value[coarse]);
}

// An envelope from its eight generators, delay first, in SoundFont order.
EnvelopeSettings envelopeFrom(const GeneratorSet& v, uint16_t delay) {
    EnvelopeSettings e;
    e.delay = v.limited(delay);
    e.attack = v.limited(delay + 1);
    e.hold = v.limited(delay + 2);
    e.decay = v.limited(delay + 3);
    e.sustain = v.limited(delay + 4);
    e.release = v.limited(delay + 5);
    // Both count timecents per key below 60.
    e.keyToHold = v.limited(delay + 6);
    e.keyToDecay = v.limited(delay + 7);
    return e;
}

ZoneArticulation articulationFrom(const GeneratorSet& v, const Sf2Region& r) {
    ZoneArticulation a;
    a.volumeEnvelope = envelopeFrom(v, Sf2Gen::DelayVolEnv);
    a.modulationEnvelope = envelopeFrom(v, Sf2Gen::DelayModEnv);
    a.modulationEnvelopeToPitch = v.limited(Sf2Gen::ModEnvToPitch);
    a.modulationEnvelopeToFilter = v.limited(Sf2Gen::ModEnvToFilterFc);
    a.modulationLfo.delay = v.limited(Sf2Gen::DelayModLfo);
    a.modulationLfo.frequency = v.limited(Sf2Gen::FreqModLfo);
    a.modulationLfo.toPitch = v.limited(Sf2Gen::ModLfoToPitch);
    a.modulationLfo.toFilter = v.limited(Sf2Gen::ModLfoToFilterFc);
    a.modulationLfo.toVolume = v.limited(Sf2Gen::ModLfoToVolume);
    a.vibratoLfo.delay = v.limited(Sf2Gen::DelayVibLfo);
    a.vibratoLfo.frequency = v.limited(Sf2Gen::FreqVibLfo);
    a.vibratoLfo.toPitch = v.limited(Sf2Gen::VibLfoToPitch);
    // The layer's tuning is in its Wave already (its frequency), and so is its
    // attenuation as far as the Wave's samples are scaled by it (the importer
    // sets what comes on top), so every mixer hears them.
    a.attenuation = 0;
    a.pan = v.limited(Sf2Gen::Pan);
    a.coarseTune = 0;
    a.fineTune = 0;
    a.scaleTuning = v.limited(Sf2Gen::ScaleTuning);
    a.filterCutoff = v.limited(Sf2Gen::InitialFilterFc);
    a.filterResonance = v.limited(Sf2Gen::InitialFilterQ);
    a.exclusiveClass = v.limited(Sf2Gen::ExclusiveClass);
    a.velocityLow = r.velLow;
    a.velocityHigh = r.velHigh;
    a.tailOnRelease = r.looped() && r.sampleModes == 3;
    a.velocityToFilter = std::clamp(v.link[VelocityToFilter], -12000, 12000);
    a.modulationToVibrato = std::clamp(v.link[WheelToVibrato], -12000, 12000);
    a.pressureToVibrato = std::clamp(v.link[PressureToVibrato], -12000, 12000);
    a.reverbSend = v.limited(Sf2Gen::ReverbEffectsSend);
    a.chorusSend = v.limited(Sf2Gen::ChorusEffectsSend);
    return a;
}

}  // namespace

bool collectRegions(const Sf2Font& font, const Sf2Preset& preset, std::vector<Sf2Region>& regions, std::string& error) {
    regions.clear();
    const int64_t dataSize = static_cast<int64_t>(font.sampleData.size());
    GeneratorSet presetGlobal;
    for (size_t pz = 0; pz < preset.zones.size(); ++pz) {
        if (isGlobalZone(preset.zones, pz, Sf2Gen::Instrument)) {
            presetGlobal.apply(preset.zones[pz], Sf2Gen::Instrument);
            continue;
        }
        GeneratorSet p = presetGlobal;
        p.apply(preset.zones[pz], Sf2Gen::Instrument);
        if (!p.hasIndex || p.index >= font.instruments.size()) continue;  // a stray zone: ignored
        const Sf2Instrument& instrument = font.instruments[p.index];

        GeneratorSet instrumentGlobal = GeneratorSet::instrumentDefaults();
        for (size_t iz = 0; iz < instrument.zones.size(); ++iz) {
            if (isGlobalZone(instrument.zones, iz, Sf2Gen::SampleID)) {
                instrumentGlobal.apply(instrument.zones[iz], Sf2Gen::SampleID);
                continue;
            }
            GeneratorSet v = instrumentGlobal;
            v.apply(instrument.zones[iz], Sf2Gen::SampleID);
            if (!v.hasIndex || v.index >= font.samples.size()) continue;
            const Sf2Sample& sample = font.samples[v.index];
            if ((sample.type & Sf2SampleType::Rom) != 0) continue;  // its data is not in the file

            Sf2Region r;
            r.keyLow = std::max({p.keyLow, v.keyLow, 0});
            r.keyHigh = std::min({p.keyHigh, v.keyHigh, 127});
            r.velLow = std::max({p.velLow, v.velLow, 0});
            r.velHigh = std::min({p.velHigh, v.velHigh, 127});
            if (r.keyLow > r.keyHigh || r.velLow > r.velHigh) continue;
            v.add(p);

            r.start = sample.start + offset(v, Sf2Gen::StartAddrsOffset, Sf2Gen::StartAddrsCoarseOffset);
            r.end = sample.end + offset(v, Sf2Gen::EndAddrsOffset, Sf2Gen::EndAddrsCoarseOffset);
            if (r.start < 0 || r.end > dataSize || r.start > r.end) {
                error = "Damaged SoundFont: a zone of instrument '" + instrument.name + "' moves sample '" +
                        sample.name + "' to " + std::to_string(r.start) + ".." + std::to_string(r.end) +
                        ", outside the " + std::to_string(dataSize) + " samples of sample data.";
                return false;
            }
            if (r.start == r.end) continue;  // nothing to play
            r.loopStart =
                sample.loopStart + offset(v, Sf2Gen::StartloopAddrsOffset, Sf2Gen::StartloopAddrsCoarseOffset);
            r.loopEnd = sample.loopEnd + offset(v, Sf2Gen::EndloopAddrsOffset, Sf2Gen::EndloopAddrsCoarseOffset);
            r.loopValid = r.start <= r.loopStart && r.loopStart < r.loopEnd && r.loopEnd <= r.end;
            r.sampleModes = v.value[Sf2Gen::SampleModes];

            r.sample = v.index;
            const int32_t overriding = v.value[Sf2Gen::OverridingRootKey];
            if (overriding >= 0 && overriding <= 127)
                r.rootKey = overriding;
            else if (sample.originalPitch <= 127)
                r.rootKey = sample.originalPitch;
            else
                r.rootKey = 60;  // unpitched: sounds at its own rate on middle C
            r.tuneCents = v.limited(Sf2Gen::CoarseTune) * 100 + v.limited(Sf2Gen::FineTune) + sample.pitchCorrection;
            r.scaleTuning = v.limited(Sf2Gen::ScaleTuning);
            r.attenuation = v.limited(Sf2Gen::InitialAttenuation);

            // The fading values are made from the times as summed (Sf2Fading
            // limits the seconds itself) and the sustain level as limited.
            Sf2Envelope& e = r.envelope;
            e.delay = v.value[Sf2Gen::DelayVolEnv];
            e.attack = v.value[Sf2Gen::AttackVolEnv];
            e.hold = v.value[Sf2Gen::HoldVolEnv];
            e.decay = v.value[Sf2Gen::DecayVolEnv];
            e.sustain = v.limited(Sf2Gen::SustainVolEnv);
            e.release = v.value[Sf2Gen::ReleaseVolEnv];
            e.keynumToHold = v.value[Sf2Gen::KeynumToVolEnvHold];
            e.keynumToDecay = v.value[Sf2Gen::KeynumToVolEnvDecay];
            r.articulation = articulationFrom(v, r);
            r.order = static_cast<int32_t>(regions.size());
            regions.push_back(r);
        }
    }
    return true;
}

}  // namespace tonvero
