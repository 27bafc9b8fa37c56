#include "bank/Sf2Import.h"

#include "bank/Sf2Fading.h"
#include "bank/Sf2Reader.h"
#include "bank/Sf2Region.h"
#include "bank/Sf2WaveMaker.h"
#include "bank/Sf2ZonePlanner.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <utility>

namespace tonvero {
namespace {

constexpr int32_t kDrumProgram = Bank::kDrumEntry;
constexpr int32_t kDrumBank = 128;
constexpr int32_t kKeys = 128;
// The most samples a bank made from a SoundFont may hold (2 GiB of them): far
// above any real SoundFont's, and a damaged one cannot exhaust the memory.
constexpr uint64_t kMostBankSamples = uint64_t{1} << 30;

// One program's Instrument, or one drum kit's, before it is built.
struct Plan {
    int32_t program = 0;  // 0..127, or 128 for the drum entry's kit
    int32_t kit = -1;     // for the other kits of bank 128: their program, 1..127
    std::string name;
    std::vector<Sf2Region> regions;
    std::vector<Sf2WaveKey> waves;  // one per region
    std::vector<Sf2PlannedZone> zones;
    std::array<int32_t, kKeys> first{};  // the Zone the Custom Mixer plays for each key, or -1
    std::set<uint32_t> played;           // the samples those Zones play
    Sf2Fading fading;
    // Per Zone: the attenuation its Wave's samples are scaled by (the rest of
    // its layer's attenuation is its articulation's), see planStoredAttenuation.
    std::vector<int32_t> storedAttenuation;
    int32_t sharedWith = -1;  // index of the plan whose Instrument this program uses
    int32_t slot = -1;

    bool drumKit() const { return program == kDrumProgram || kit >= 0; }
};

// Fading from the layer that plays the Instrument's main key (or the nearest key that sounds).
void planFading(Plan& plan) {
    const int32_t mainKey = plan.drumKit() ? 38 : 60;
    for (int32_t distance = 0; distance < kKeys; ++distance) {
        for (int32_t key : {mainKey - distance, mainKey + distance}) {
            if (key < 0 || key >= kKeys) continue;
            const int32_t chosen = Sf2ZonePlanner::chosenLayer(plan.regions, key);
            if (chosen < 0) continue;
            const Sf2Region& r = plan.regions[static_cast<size_t>(chosen)];
            plan.fading = fadingFromEnvelope(r.envelope, key, r.looped() && r.sampleModes == 3);
            return;
        }
    }
}

// The Zone the Custom Mixer plays for each key (the first holding it), and the samples they play.
void planFirstZones(Plan& plan) {
    plan.first.fill(-1);
    for (size_t z = plan.zones.size(); z-- > 0;)
        for (int32_t k = plan.zones[z].rangeStart; k <= plan.zones[z].rangeEnd; ++k)
            plan.first[static_cast<size_t>(k)] = static_cast<int32_t>(z);
    for (int32_t z : plan.first)
        if (z >= 0) plan.played.insert(plan.waves[plan.zones[static_cast<size_t>(z)].region].sample);
}

// Whether the Custom Mixer plays the same Wave at the same pitch for every key.
bool sameForCustomMixer(const Plan& a, const Plan& b) {
    for (size_t k = 0; k < a.first.size(); ++k) {
        if ((a.first[k] < 0) != (b.first[k] < 0)) return false;
        if (a.first[k] < 0) continue;
        const Sf2PlannedZone& x = a.zones[static_cast<size_t>(a.first[k])];
        const Sf2PlannedZone& y = b.zones[static_cast<size_t>(b.first[k])];
        if (x.basicNote != y.basicNote || x.frequency != y.frequency || !(a.waves[x.region] == b.waves[y.region]))
            return false;
    }
    return true;
}

// Whether every Zone is the same, articulation and stereo links included.
bool sameZones(const Plan& a, const Plan& b) {
    if (a.zones.size() != b.zones.size()) return false;
    for (size_t i = 0; i < a.zones.size(); ++i) {
        const Sf2PlannedZone& x = a.zones[i];
        const Sf2PlannedZone& y = b.zones[i];
        if (x.rangeStart != y.rangeStart || x.rangeEnd != y.rangeEnd || x.basicNote != y.basicNote ||
            x.frequency != y.frequency || x.linked != y.linked || !(a.waves[x.region] == b.waves[y.region]) ||
            !(a.regions[x.region].articulation == b.regions[y.region].articulation))
            return false;
    }
    return true;
}

// How unlike two programs' Instruments are: 0 identical; 1 the same in the
// Custom Mixer (the same Wave at the same pitch on every key, the same
// fading) but not in articulation or other layers; 2 the same Zones in the
// Custom Mixer with different fading; 3 the same samples; 4 the same family
// of eight programs; 5 otherwise. Articulation only ever tells apart programs
// the Custom Mixer plays alike, so the programs that share are the ones they
// always were, or ones the Custom Mixer cannot tell from them.
int32_t mergeCost(const Plan& a, const Plan& b) {
    if (sameForCustomMixer(a, b)) {
        const bool sameFading = a.fading.loopFading == b.fading.loopFading &&
                                a.fading.sustainFading == b.fading.sustainFading &&
                                a.fading.cutoffFading == b.fading.cutoffFading;
        if (!sameFading) return 2;
        return sameZones(a, b) ? 0 : 1;
    }
    if (a.played == b.played) return 3;
    return a.program / 8 == b.program / 8 ? 4 : 5;
}

std::string planLabel(const Plan& plan) {
    const std::string what = plan.kit >= 0                  ? "kit " + std::to_string(plan.kit)
                             : plan.program == kDrumProgram ? std::string("drum kit")
                                                            : "program " + std::to_string(plan.program);
    return what + " '" + plan.name + "'";
}

// Lets programs share Instruments until the bank's slots suffice. The drum
// kit always keeps an Instrument of its own; a melodic program gives its
// Instrument up to the most alike earlier one (the latest program first
// among equals). The other kits have places of their own and never share.
void shareInstruments(std::vector<Plan>& plans, Sf2ImportReport& report) {
    const auto melodic = [](const Plan& p) { return p.program != kDrumProgram && p.kit < 0; };
    auto owners = [&plans] {
        return std::count_if(plans.begin(), plans.end(), [](const Plan& p) { return p.sharedWith < 0 && p.kit < 0; });
    };
    while (owners() > Bank::kInstrumentSlots) {
        int32_t bestCost = INT_MAX;
        size_t giver = 0, keeper = 0;
        for (size_t b = plans.size(); b-- > 0;) {
            if (plans[b].sharedWith >= 0 || !melodic(plans[b])) continue;
            for (size_t a = b; a-- > 0;) {
                if (plans[a].sharedWith >= 0 || !melodic(plans[a])) continue;
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
        report.notes.push_back(planLabel(plans[giver]) + " plays the Instrument of " + planLabel(plans[keeper]) +
                               ": the bank holds 128 Instruments.");
    }
}

std::string uniqueName(std::string name, std::set<std::string>& used) {
    std::string candidate = name;
    for (int32_t n = 2; used.count(candidate) != 0; ++n) candidate = name + " (" + std::to_string(n) + ")";
    used.insert(candidate);
    return candidate;
}

// The samples made so far, by what decides them: every Wave of the bank made
// from the same samples shares them.
using MadeSamples = std::map<Sf2WaveKey, SampleData>;

// The most a Zone the Custom Mixer plays may sound louder there than its
// layer asks, in centibels heard, so that it can share the samples of a
// quieter layer: 5 dB.
constexpr double kCustomMixerLouder = 50;

// Chooses the attenuation each Zone's samples are stored with, so that layers
// playing the same samples at different attenuations share them. Each Zone
// takes the stored samples of its sample with the largest attenuation not
// above its own, and its articulation attenuates the rest (0.4 dB per 1 dB
// written, in whole centibels: within 0.05 dB of the samples' own scaling),
// so the Studio mixer hears every layer as the SoundFont asks. The samples
// are stored with the least attenuation any layer of them has, and again for
// a Zone the Custom Mixer plays (which hears no articulation) that would
// otherwise sound more than kCustomMixerLouder louder there.
void planStoredAttenuation(std::vector<Plan>& plans, std::vector<Plan>& kitPlans) {
    const auto unscaled = [](Sf2WaveKey key) {
        key.attenuation = 0;
        return Sf2WaveMaker::storageKey(key);
    };
    const auto lists = {&plans, &kitPlans};
    // By unscaled key: the attenuations the Custom Mixer's Zones have, the least of all, then those stored.
    std::map<Sf2WaveKey, std::set<int32_t>> custom;
    std::map<Sf2WaveKey, int32_t> least;
    for (const std::vector<Plan>* list : lists)
        for (const Plan& plan : *list) {
            if (plan.sharedWith >= 0) continue;
            for (size_t z = 0; z < plan.zones.size(); ++z) {
                const Sf2WaveKey& key = plan.waves[plan.zones[z].region];
                const Sf2WaveKey base = unscaled(key);
                const bool playedByCustomMixer =
                    list == &plans &&
                    std::find(plan.first.begin(), plan.first.end(), static_cast<int32_t>(z)) != plan.first.end();
                if (playedByCustomMixer) custom[base].insert(key.attenuation);
                const auto [found, added] = least.emplace(base, key.attenuation);
                if (!added) found->second = std::min(found->second, key.attenuation);
            }
        }
    std::map<Sf2WaveKey, std::set<int32_t>> stored;
    for (const auto& [base, attenuation] : least) {
        std::set<int32_t>& choices = stored[base];
        choices.insert(attenuation);
        for (int32_t wanted : custom[base])  // in ascending order
            if (0.4 * (wanted - *choices.rbegin()) > kCustomMixerLouder) choices.insert(wanted);
    }
    for (std::vector<Plan>* list : lists)
        for (Plan& plan : *list) {
            if (plan.sharedWith >= 0) continue;
            plan.storedAttenuation.resize(plan.zones.size());
            for (size_t z = 0; z < plan.zones.size(); ++z) {
                const Sf2WaveKey& key = plan.waves[plan.zones[z].region];
                const std::set<int32_t>& choices = stored[unscaled(key)];
                plan.storedAttenuation[z] = *std::prev(choices.upper_bound(key.attenuation));
            }
        }
}

// Fills `instrument` from `plan`.
void buildInstrument(const Sf2Font& font, const Plan& plan, Instrument& instrument, MadeSamples& made,
                     Sf2ImportReport& report) {
    instrument.loopFading = plan.fading.loopFading;
    instrument.sustainFading = plan.fading.sustainFading;
    instrument.cutoffFading = plan.fading.cutoffFading;
    for (size_t z = 0; z < plan.zones.size(); ++z) {
        const Sf2PlannedZone& planned = plan.zones[z];
        Sf2WaveKey key = plan.waves[planned.region];
        const int32_t unstored = key.attenuation - plan.storedAttenuation[z];
        key.attenuation = plan.storedAttenuation[z];
        const Sf2WaveKey stored = Sf2WaveMaker::storageKey(key);
        auto found = made.find(stored);
        if (found == made.end()) {
            found = made.emplace(stored, Sf2WaveMaker::make(font, stored).samples).first;
            report.storedFrames += found->second.size();
        }
        auto wave = std::make_unique<Wave>();
        wave->setSamples(found->second);
        wave->name = font.samples[key.sample].name;
        wave->looped = key.looped ? 1 : 0;
        wave->loopBegin = key.loopBegin;
        wave->loopEnd = Sf2WaveMaker::madeLoopEnd(key);
        wave->holdPos = key.holdPos;
        wave->frequency = planned.frequency;
        wave->updateFormat();
        report.sampleFrames += wave->sampleCount;
        Zone* zone = Bank::addZone(instrument, std::move(wave));
        zone->rangeStart = planned.rangeStart;
        zone->rangeEnd = planned.rangeEnd;
        zone->basicNote = planned.basicNote;
        zone->articulation = std::make_unique<ZoneArticulation>(plan.regions[planned.region].articulation);
        zone->articulation->linkedZone = planned.linked;
        zone->articulation->attenuation = static_cast<int32_t>(std::lround(0.4 * unstored));
        ++report.zones;
    }
}

// The presets that make the bank: bank 0 by program and the drum entry's kit
// (entries 0..128), then the other kits of bank 128 by program (`kits`).
std::vector<const Sf2Preset*> choosePresets(const Sf2Font& font, std::vector<const Sf2Preset*>& kits,
                                            Sf2ImportReport& report) {
    std::vector<const Sf2Preset*> chosen(kKeys + 1, nullptr);
    kits.assign(Bank::kKitSlots, nullptr);
    for (const Sf2Preset& preset : font.presets) {
        if (preset.bank == 0 && preset.program < kKeys && !chosen[preset.program]) chosen[preset.program] = &preset;
        if (preset.bank == kDrumBank && preset.program < kKeys && !kits[preset.program]) kits[preset.program] = &preset;
    }
    chosen[kDrumProgram] = kits[0];
    kits[0] = nullptr;
    if (!chosen[kDrumProgram]) {
        // No standard kit: the lowest-numbered kit stands in for it, and its
        // own program then finds it as the standard kit.
        for (int32_t p = 1; p < Bank::kKitSlots && !chosen[kDrumProgram]; ++p)
            std::swap(chosen[kDrumProgram], kits[static_cast<size_t>(p)]);
        if (chosen[kDrumProgram])
            report.notes.push_back("No standard drum kit (bank 128, preset 0); using kit " +
                                   std::to_string(chosen[kDrumProgram]->program) + " '" + chosen[kDrumProgram]->name +
                                   "'.");
    }
    return chosen;
}

// Plans the Instrument of one preset; false with `error` for a damaged zone.
bool planPreset(const Sf2Font& font, const Sf2Preset& preset, Plan& plan, std::string& error, Sf2ImportReport& report) {
    const std::string fallback = plan.kit >= 0                  ? "Drum Kit " + std::to_string(plan.kit)
                                 : plan.program == kDrumProgram ? std::string("Drum Kit")
                                                                : "Program " + std::to_string(plan.program);
    plan.name = preset.name.empty() ? fallback : preset.name;
    if (!collectRegions(font, preset, plan.regions, error)) return false;
    for (const Sf2Region& region : plan.regions) plan.waves.push_back(Sf2WaveMaker::keyFor(region));
    int32_t leftOut = 0;
    plan.zones = Sf2ZonePlanner::plan(font, plan.regions, plan.waves, plan.drumKit(), leftOut);
    if (!plan.zones.empty()) planFading(plan);
    planFirstZones(plan);
    if (leftOut > 0)
        report.notes.push_back(planLabel(plan) + ": " + std::to_string(leftOut) +
                               (leftOut == 1 ? " layer is" : " layers are") + " left out; an Instrument holds " +
                               std::to_string(Sf2ZonePlanner::kMostZones) + " Zones.");
    return true;
}

// A note naming what of the SoundFont's zones the bank has no place for, if any.
void noteWhatIsLeftOut(const Sf2Font& font, Sf2ImportReport& report) {
    uint64_t modulators = 0;
    bool fixed = false;
    const auto visit = [&](const std::vector<Sf2Zone>& zones) {
        for (const Sf2Zone& zone : zones) {
            modulators += zone.modulators;
            for (const Sf2Generator& gen : zone.generators) {
                if (gen.oper == Sf2Gen::Keynum || gen.oper == Sf2Gen::Velocity) fixed = true;
            }
        }
    };
    for (const Sf2Preset& preset : font.presets) visit(preset.zones);
    for (const Sf2Instrument& instrument : font.instruments) visit(instrument.zones);
    std::vector<std::string> parts;
    if (modulators > 0) parts.push_back(std::to_string(modulators) + (modulators == 1 ? " modulator" : " modulators"));
    if (fixed) parts.push_back("the fixed key and velocity numbers");
    if (parts.empty()) return;
    std::string what = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) what += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
    report.notes.push_back("Not kept: " + what + " of the SoundFont's zones; the bank has no place for them.");
}

}  // namespace

bool buildBankFromSoundFont(const Sf2Font& font, Bank& out, std::string& error, Sf2ImportReport* report) {
    Sf2ImportReport local;
    Sf2ImportReport& r = report ? *report : local;
    r = Sf2ImportReport{};

    std::vector<Plan> plans;
    std::vector<const Sf2Preset*> kits;
    const std::vector<const Sf2Preset*> presets = choosePresets(font, kits, r);
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
        if (!planPreset(font, *preset, plan, error, r)) return false;
        if (plan.zones.empty()) {
            r.notes.push_back(planLabel(plan) + " has no sound the bank can play; it plays slot 0.");
            continue;
        }
        plans.push_back(std::move(plan));
    }
    std::vector<Plan> kitPlans;
    for (int32_t program = 1; program < Bank::kKitSlots; ++program) {
        const Sf2Preset* preset = kits[static_cast<size_t>(program)];
        if (!preset) continue;
        Plan plan;
        plan.program = kDrumProgram;
        plan.kit = program;
        if (!planPreset(font, *preset, plan, error, r)) return false;
        if (plan.zones.empty()) {
            r.notes.push_back(planLabel(plan) + " has no sound the bank can play; it plays the standard kit.");
            continue;
        }
        kitPlans.push_back(std::move(plan));
    }
    if (plans.empty()) {
        error = "The SoundFont has no playable General MIDI preset (bank 0) and no drum kit (bank 128).";
        return false;
    }
    shareInstruments(plans, r);
    planStoredAttenuation(plans, kitPlans);
    // The samples the bank will store: each distinct Wave's once.
    uint64_t samples = 0;
    std::set<Sf2WaveKey> counted;
    for (const std::vector<Plan>* list : {&plans, &kitPlans})
        for (const Plan& plan : *list)
            if (plan.sharedWith < 0)
                for (size_t z = 0; z < plan.zones.size(); ++z) {
                    Sf2WaveKey key = plan.waves[plan.zones[z].region];
                    key.attenuation = plan.storedAttenuation[z];
                    key = Sf2WaveMaker::storageKey(key);
                    if (counted.insert(key).second) samples += Sf2WaveMaker::madeLength(key);
                }
    if (samples > kMostBankSamples) {
        error = "The SoundFont would make a bank of " + std::to_string(samples) + " samples, more than the " +
                std::to_string(kMostBankSamples) + " a bank can hold.";
        return false;
    }

    Bank bank;
    MadeSamples made;
    std::set<std::string> usedNames;
    for (Plan& plan : plans) {
        if (plan.sharedWith >= 0) continue;
        plan.slot = bank.insertInstrument(uniqueName(plan.name, usedNames));
        buildInstrument(font, plan, *bank.instruments[static_cast<size_t>(plan.slot)], made, r);
        ++r.instruments;
    }
    for (const Plan& plan : plans) {
        const Plan& owner = plan.sharedWith < 0 ? plan : plans[static_cast<size_t>(plan.sharedWith)];
        bank.programMap[static_cast<size_t>(plan.program)] = owner.slot;
        ++r.mappedEntries;
    }
    for (const Plan& plan : kitPlans) {
        auto kit = std::make_unique<Instrument>(uniqueName(plan.name, usedNames), plan.kit);
        buildInstrument(font, plan, *kit, made, r);
        bank.kits[static_cast<size_t>(plan.kit)] = std::move(kit);
        ++r.kits;
    }
    noteWhatIsLeftOut(font, r);
    out = std::move(bank);
    return true;
}

bool importSoundFont(const std::string& path, Bank& out, std::string& error, Sf2ImportReport* report) {
    Sf2Font font;
    if (!Sf2Reader::readFile(path, font, error)) return false;
    return buildBankFromSoundFont(font, out, error, report);
}

}  // namespace tonvero
