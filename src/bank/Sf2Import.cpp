#include "bank/Sf2Import.h"

#include "bank/Sf2Fading.h"
#include "bank/Sf2Reader.h"
#include "bank/Sf2Region.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <memory>
#include <set>
#include <utility>

namespace tonvero {
namespace {

constexpr int32_t kDrumProgram = Bank::kDrumEntry;
constexpr int32_t kKeys = 128;
constexpr int32_t kPreferredVelocity = 100;
// Highest Wave frequency: its 16.16 step at 44100 Hz still fits 32 bits.
constexpr double kMaxFrequency = 2000000.0;

// Everything that decides a Wave's contents and playing values.
struct WaveKey {
    uint32_t sample = 0;
    int64_t start = 0, end = 0;
    int64_t partnerStart = -1;  // the other side of a stereo pair mixed in, or -1
    int32_t attenuation = 0;
    bool looped = false;
    int32_t loopBegin = 0, loopEnd = 0, holdPos = 0;
    bool operator==(const WaveKey&) const = default;
};

struct PlannedZone {
    int32_t rangeStart = 0, rangeEnd = 0, basicNote = 60;
    uint32_t frequency = 0;
    size_t region = 0;
};

// One program's Instrument before it is built.
struct Plan {
    int32_t program = 0;  // 0..127, or 128 for the drum kit
    std::string name;
    std::vector<Sf2Region> regions;
    std::vector<WaveKey> waves;  // one per region
    std::vector<PlannedZone> zones;
    Sf2Fading fading;
    int32_t sharedWith = -1;  // index of the plan whose Instrument this program uses
    int32_t slot = -1;
};

// The start of the other side of a stereo pair, aligned with `region`, or -1
// when the pair cannot be mixed (no partner, a partner of another length or
// one whose data would run outside the file).
int64_t partnerStart(const Sf2Font& font, const Sf2Region& region) {
    const Sf2Sample& sample = font.samples[region.sample];
    if ((sample.type & (Sf2SampleType::Left | Sf2SampleType::Right)) == 0) return -1;
    if (sample.link >= font.samples.size() || sample.link == region.sample) return -1;
    const Sf2Sample& partner = font.samples[sample.link];
    if ((partner.type & Sf2SampleType::Rom) != 0) return -1;
    if (partner.end - partner.start != sample.end - sample.start) return -1;
    const int64_t start = static_cast<int64_t>(partner.start) + (region.start - sample.start);
    const int64_t dataSize = static_cast<int64_t>(font.sampleData.size());
    if (start < 0 || start + (region.end - region.start) > dataSize) return -1;
    return start;
}

WaveKey waveKeyFor(const Sf2Font& font, const Sf2Region& region) {
    WaveKey key;
    key.sample = region.sample;
    key.start = region.start;
    key.end = region.end;
    key.partnerStart = partnerStart(font, region);
    key.attenuation = region.attenuation;
    key.looped = region.looped();
    if (key.looped) {
        key.loopBegin = static_cast<int32_t>(region.loopStart - region.start);
        key.loopEnd = static_cast<int32_t>(region.loopEnd - 1 - region.start);
        if (region.sampleModes == 3) key.holdPos = key.loopBegin;
    }
    return key;
}

uint32_t frequencyFor(uint32_t sampleRate, double cents) {
    const double hz = sampleRate * std::exp2(cents / 1200.0);
    return static_cast<uint32_t>(std::clamp(std::round(hz), 1.0, kMaxFrequency));
}

// The layer that plays `key`: velocity range holding 100 first, then nearest to it; -1 none.
int32_t layerForKey(const std::vector<Sf2Region>& regions, int32_t key) {
    int32_t best = -1;
    int32_t bestDistance = INT_MAX;
    for (size_t i = 0; i < regions.size(); ++i) {
        const Sf2Region& r = regions[i];
        if (!r.coversKey(key)) continue;
        const int32_t distance = kPreferredVelocity < r.velLow    ? r.velLow - kPreferredVelocity
                                 : kPreferredVelocity > r.velHigh ? kPreferredVelocity - r.velHigh
                                                                  : 0;
        if (distance < bestDistance) {
            best = static_cast<int32_t>(i);
            bestDistance = distance;
        }
    }
    return best;
}

// Zones from the layer chosen for each key. A drum kit's single-key layer,
// and any layer whose scale tuning is not 100 cents per key, get one Zone per
// key pitched for that key; other runs of keys get one Zone on the root key.
// Neighbouring Zones that would play alike are joined.
void planZones(const Sf2Font& font, Plan& plan) {
    std::array<int32_t, kKeys> layer{};
    for (int32_t key = 0; key < kKeys; ++key) layer[key] = layerForKey(plan.regions, key);
    std::vector<PlannedZone> zones;
    for (int32_t key = 0; key < kKeys;) {
        const int32_t chosen = layer[key];
        int32_t last = key;
        while (last + 1 < kKeys && layer[last + 1] == chosen) ++last;
        if (chosen >= 0) {
            const Sf2Region& r = plan.regions[static_cast<size_t>(chosen)];
            const uint32_t rate = font.samples[r.sample].sampleRate;
            const auto index = static_cast<size_t>(chosen);
            const bool drumKey = plan.program == kDrumProgram && r.keyLow == r.keyHigh;
            if (drumKey || r.scaleTuning != 100) {
                for (int32_t k = key; k <= last; ++k) {
                    const double cents = (k - r.rootKey) * static_cast<double>(r.scaleTuning) + r.tuneCents;
                    zones.push_back({k, k, k, frequencyFor(rate, cents), index});
                }
            } else {
                zones.push_back({key, last, r.rootKey, frequencyFor(rate, r.tuneCents), index});
            }
        }
        key = last + 1;
    }
    for (const PlannedZone& zone : zones) {
        if (!plan.zones.empty()) {
            PlannedZone& previous = plan.zones.back();
            if (previous.rangeEnd + 1 == zone.rangeStart && previous.basicNote == zone.basicNote &&
                previous.frequency == zone.frequency &&
                plan.waves[previous.region] == plan.waves[zone.region]) {
                previous.rangeEnd = zone.rangeEnd;
                continue;
            }
        }
        plan.zones.push_back(zone);
    }
}

// Fading from the layer that plays the Instrument's main key (or the nearest key that sounds).
void planFading(Plan& plan) {
    const int32_t mainKey = plan.program == kDrumProgram ? 38 : 60;
    for (int32_t distance = 0; distance < kKeys; ++distance) {
        for (int32_t key : {mainKey - distance, mainKey + distance}) {
            if (key < 0 || key >= kKeys) continue;
            const int32_t chosen = layerForKey(plan.regions, key);
            if (chosen < 0) continue;
            const Sf2Region& r = plan.regions[static_cast<size_t>(chosen)];
            plan.fading = fadingFromEnvelope(r.envelope, key, r.looped() && r.sampleModes == 3);
            return;
        }
    }
}

bool sameZones(const Plan& a, const Plan& b) {
    if (a.zones.size() != b.zones.size()) return false;
    for (size_t i = 0; i < a.zones.size(); ++i) {
        const PlannedZone& x = a.zones[i];
        const PlannedZone& y = b.zones[i];
        if (x.rangeStart != y.rangeStart || x.rangeEnd != y.rangeEnd || x.basicNote != y.basicNote ||
            x.frequency != y.frequency || !(a.waves[x.region] == b.waves[y.region]))
            return false;
    }
    return true;
}

std::set<uint32_t> samplesPlayed(const Plan& plan) {
    std::set<uint32_t> samples;
    for (const PlannedZone& zone : plan.zones) samples.insert(plan.waves[zone.region].sample);
    return samples;
}

// How unlike two programs' Instruments are: 0 identical, 1 same Zones, 2 same
// samples, 3 same family of eight programs, 4 otherwise.
int32_t mergeCost(const Plan& a, const Plan& b) {
    if (sameZones(a, b)) {
        const bool sameFading = a.fading.loopFading == b.fading.loopFading &&
                                a.fading.sustainFading == b.fading.sustainFading &&
                                a.fading.cutoffFading == b.fading.cutoffFading;
        return sameFading ? 0 : 1;
    }
    if (samplesPlayed(a) == samplesPlayed(b)) return 2;
    return a.program / 8 == b.program / 8 ? 3 : 4;
}

std::string programLabel(const Plan& plan) {
    return (plan.program == kDrumProgram ? std::string("drum kit") : "program " + std::to_string(plan.program)) +
           " '" + plan.name + "'";
}

// Lets programs share Instruments until the bank's slots suffice. The drum
// kit always keeps an Instrument of its own; a melodic program gives its
// Instrument up to the most alike earlier one (the latest program first
// among equals).
void shareInstruments(std::vector<Plan>& plans, Sf2ImportReport& report) {
    auto owners = [&plans] {
        return std::count_if(plans.begin(), plans.end(), [](const Plan& p) { return p.sharedWith < 0; });
    };
    while (owners() > Bank::kInstrumentSlots) {
        int32_t bestCost = INT_MAX;
        size_t giver = 0, keeper = 0;
        for (size_t b = plans.size(); b-- > 0;) {
            if (plans[b].sharedWith >= 0 || plans[b].program == kDrumProgram) continue;
            for (size_t a = b; a-- > 0;) {
                if (plans[a].sharedWith >= 0 || plans[a].program == kDrumProgram) continue;
                const int32_t cost = mergeCost(plans[a], plans[b]);
                if (cost < bestCost) {
                    bestCost = cost;
                    giver = b;
                    keeper = a;
                }
            }
            if (bestCost == 0) break;
        }
        if (bestCost == INT_MAX) return;  // cannot happen: more than 128 melodic programs do not exist
        plans[giver].sharedWith = static_cast<int32_t>(keeper);
        for (Plan& p : plans)
            if (p.sharedWith == static_cast<int32_t>(giver)) p.sharedWith = static_cast<int32_t>(keeper);
        report.notes.push_back(programLabel(plans[giver]) + " plays the Instrument of " +
                               programLabel(plans[keeper]) + ": the bank holds 128 Instruments.");
    }
}

std::vector<int16_t> waveSamples(const Sf2Font& font, const WaveKey& key) {
    const size_t count = static_cast<size_t>(key.end - key.start);
    std::vector<int16_t> samples(count);
    const int16_t* data = font.sampleData.data();
    const double gain = std::pow(10.0, -0.4 * key.attenuation / 200.0);
    for (size_t i = 0; i < count; ++i) {
        int32_t s = data[static_cast<size_t>(key.start) + i];
        if (key.partnerStart >= 0) s = (s + data[static_cast<size_t>(key.partnerStart) + i]) >> 1;
        if (key.attenuation > 0) s = static_cast<int32_t>(std::lround(s * gain));
        samples[i] = static_cast<int16_t>(s);
    }
    return samples;
}

std::string uniqueName(std::string name, std::set<std::string>& used) {
    std::string candidate = name;
    for (int32_t n = 2; used.count(candidate) != 0; ++n) candidate = name + " (" + std::to_string(n) + ")";
    used.insert(candidate);
    return candidate;
}

// Builds plan's Instrument into `bank`; Waves of the same layer share the samples made once.
void buildInstrument(const Sf2Font& font, Plan& plan, const std::string& name, Bank& bank,
                     Sf2ImportReport& report) {
    plan.slot = bank.insertInstrument(name);
    Instrument& instrument = *bank.instruments[static_cast<size_t>(plan.slot)];
    instrument.loopFading = plan.fading.loopFading;
    instrument.sustainFading = plan.fading.sustainFading;
    instrument.cutoffFading = plan.fading.cutoffFading;
    std::vector<std::vector<int16_t>> made(plan.regions.size());
    for (const PlannedZone& planned : plan.zones) {
        const WaveKey& key = plan.waves[planned.region];
        std::vector<int16_t>& samples = made[planned.region];
        if (samples.empty()) samples = waveSamples(font, key);
        auto wave = std::make_unique<Wave>();
        wave->setSamples(samples);
        wave->name = font.samples[key.sample].name;
        wave->looped = key.looped ? 1 : 0;
        wave->loopBegin = key.loopBegin;
        wave->loopEnd = key.loopEnd;
        wave->holdPos = key.holdPos;
        wave->frequency = planned.frequency;
        wave->updateFormat();
        report.sampleFrames += wave->sampleCount;
        Zone* zone = Bank::addZone(instrument, std::move(wave));
        zone->rangeStart = planned.rangeStart;
        zone->rangeEnd = planned.rangeEnd;
        zone->basicNote = planned.basicNote;
        ++report.zones;
    }
    ++report.instruments;
}

// The presets that make the bank: bank 0 by program, then the drum kit.
std::vector<const Sf2Preset*> choosePresets(const Sf2Font& font, Sf2ImportReport& report) {
    std::vector<const Sf2Preset*> chosen(kKeys + 1, nullptr);
    for (const Sf2Preset& preset : font.presets) {
        if (preset.bank == 0 && preset.program < kKeys && !chosen[preset.program])
            chosen[preset.program] = &preset;
        if (preset.bank == 128 && preset.program == 0 && !chosen[kDrumProgram])
            chosen[kDrumProgram] = &preset;
    }
    if (!chosen[kDrumProgram]) {
        // No standard kit: the lowest-numbered kit stands in for it.
        for (const Sf2Preset& preset : font.presets)
            if (preset.bank == 128 && (!chosen[kDrumProgram] || preset.program < chosen[kDrumProgram]->program))
                chosen[kDrumProgram] = &preset;
        if (chosen[kDrumProgram])
            report.notes.push_back("No standard drum kit (bank 128, preset 0); using kit " +
                                   std::to_string(chosen[kDrumProgram]->program) + " '" +
                                   chosen[kDrumProgram]->name + "'.");
    }
    return chosen;
}

}  // namespace

bool buildBankFromSoundFont(const Sf2Font& font, Bank& out, std::string& error, Sf2ImportReport* report) {
    Sf2ImportReport local;
    Sf2ImportReport& r = report ? *report : local;
    r = Sf2ImportReport{};

    std::vector<Plan> plans;
    const std::vector<const Sf2Preset*> presets = choosePresets(font, r);
    for (int32_t program = 0; program <= kDrumProgram; ++program) {
        const Sf2Preset* preset = presets[static_cast<size_t>(program)];
        if (!preset) {
            if (program == kDrumProgram)
                r.notes.push_back("The SoundFont has no drum kit; entry 128 names slot 0.");
            else
                r.notes.push_back("No preset for program " + std::to_string(program) + "; it plays slot 0.");
            continue;
        }
        Plan plan;
        plan.program = program;
        plan.name = preset->name.empty()
                        ? (program == kDrumProgram ? std::string("Drum Kit") : "Program " + std::to_string(program))
                        : preset->name;
        if (!collectRegions(font, *preset, plan.regions, error)) return false;
        for (const Sf2Region& region : plan.regions) plan.waves.push_back(waveKeyFor(font, region));
        planZones(font, plan);
        if (plan.zones.empty()) {
            r.notes.push_back(programLabel(plan) + " has no sound the bank can play; it plays slot 0.");
            continue;
        }
        planFading(plan);
        plans.push_back(std::move(plan));
    }
    if (plans.empty()) {
        error = "The SoundFont has no playable General MIDI preset (bank 0) and no drum kit (bank 128).";
        return false;
    }
    shareInstruments(plans, r);

    Bank bank;
    std::set<std::string> usedNames;
    for (Plan& plan : plans)
        if (plan.sharedWith < 0) buildInstrument(font, plan, uniqueName(plan.name, usedNames), bank, r);
    for (const Plan& plan : plans) {
        const Plan& owner = plan.sharedWith < 0 ? plan : plans[static_cast<size_t>(plan.sharedWith)];
        bank.programMap[static_cast<size_t>(plan.program)] = owner.slot;
        ++r.mappedEntries;
    }
    out = std::move(bank);
    return true;
}

bool importSoundFont(const std::string& path, Bank& out, std::string& error, Sf2ImportReport* report) {
    Sf2Font font;
    if (!Sf2Reader::readFile(path, font, error)) return false;
    return buildBankFromSoundFont(font, out, error, report);
}

}  // namespace tonvero
