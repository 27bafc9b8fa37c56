#include "bank/Sf2Region.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tonvero {
namespace {

// The generator values of one zone level: the instrument level starts from
// the SoundFont defaults, the preset level from 0 (its values are added).
struct GeneratorSet {
    std::array<int32_t, Sf2Gen::Count> value{};
    int32_t keyLow = 0, keyHigh = 127, velLow = 0, velHigh = 127;
    bool hasIndex = false;
    uint16_t index = 0;  // the instrument (preset level) or the sample (instrument level)

    static GeneratorSet instrumentDefaults() {
        GeneratorSet set;
        for (uint16_t g = Sf2Gen::DelayVolEnv; g <= Sf2Gen::ReleaseVolEnv; ++g) set.value[g] = -12000;
        set.value[Sf2Gen::SustainVolEnv] = 0;
        set.value[Sf2Gen::ScaleTuning] = 100;
        set.value[Sf2Gen::OverridingRootKey] = -1;
        set.value[Sf2Gen::Keynum] = -1;
        set.value[Sf2Gen::Velocity] = -1;
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
    }
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

// Generators a preset zone adds to its instrument's values; the others
// (sample offsets, root key, modes, fixed key and velocity) are ignored at
// preset level.
constexpr uint16_t kAdditive[] = {
    Sf2Gen::Pan,         Sf2Gen::DelayVolEnv,        Sf2Gen::AttackVolEnv,
    Sf2Gen::HoldVolEnv,  Sf2Gen::DecayVolEnv,        Sf2Gen::SustainVolEnv,
    Sf2Gen::ReleaseVolEnv, Sf2Gen::KeynumToVolEnvHold, Sf2Gen::KeynumToVolEnvDecay,
    Sf2Gen::InitialAttenuation, Sf2Gen::CoarseTune, Sf2Gen::FineTune,
    Sf2Gen::ScaleTuning,
};

int64_t offset(const GeneratorSet& set, uint16_t fine, uint16_t coarse) {
    return static_cast<int64_t>(set.value[fine]) + 32768 * static_cast<int64_t>(set.value[coarse]);
}

}  // namespace

bool collectRegions(const Sf2Font& font, const Sf2Preset& preset, std::vector<Sf2Region>& regions,
                    std::string& error) {
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
            for (uint16_t g : kAdditive) v.value[g] += p.value[g];

            r.start = sample.start + offset(v, Sf2Gen::StartAddrsOffset, Sf2Gen::StartAddrsCoarseOffset);
            r.end = sample.end + offset(v, Sf2Gen::EndAddrsOffset, Sf2Gen::EndAddrsCoarseOffset);
            if (r.start < 0 || r.end > dataSize || r.start > r.end) {
                error = "Damaged SoundFont: a zone of instrument '" + instrument.name +
                        "' moves sample '" + sample.name + "' to " + std::to_string(r.start) + ".." +
                        std::to_string(r.end) + ", outside the " + std::to_string(dataSize) +
                        " samples of sample data.";
                return false;
            }
            if (r.start == r.end) continue;  // nothing to play
            r.loopStart = sample.loopStart +
                          offset(v, Sf2Gen::StartloopAddrsOffset, Sf2Gen::StartloopAddrsCoarseOffset);
            r.loopEnd = sample.loopEnd +
                        offset(v, Sf2Gen::EndloopAddrsOffset, Sf2Gen::EndloopAddrsCoarseOffset);
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
            r.tuneCents = v.value[Sf2Gen::CoarseTune] * 100 + v.value[Sf2Gen::FineTune] +
                          sample.pitchCorrection;
            r.scaleTuning = std::clamp(v.value[Sf2Gen::ScaleTuning], 0, 1200);
            r.attenuation = std::clamp(v.value[Sf2Gen::InitialAttenuation], 0, 1440);

            Sf2Envelope& e = r.envelope;
            e.delay = v.value[Sf2Gen::DelayVolEnv];
            e.attack = v.value[Sf2Gen::AttackVolEnv];
            e.hold = v.value[Sf2Gen::HoldVolEnv];
            e.decay = v.value[Sf2Gen::DecayVolEnv];
            e.sustain = std::clamp(v.value[Sf2Gen::SustainVolEnv], 0, 1440);
            e.release = v.value[Sf2Gen::ReleaseVolEnv];
            e.keynumToHold = v.value[Sf2Gen::KeynumToVolEnvHold];
            e.keynumToDecay = v.value[Sf2Gen::KeynumToVolEnvDecay];
            r.order = static_cast<int32_t>(regions.size());
            regions.push_back(r);
        }
    }
    return true;
}

}  // namespace tonvero
