#include "bank/Sf2ZonePlanner.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <map>
#include <tuple>

namespace tonvero {
namespace {

constexpr int32_t kKeys = 128;
constexpr int32_t kPreferredVelocity = 100;
// Highest Wave frequency: its 16.16 step at 44100 Hz still fits 32 bits.
constexpr double kMaxFrequency = 2000000.0;

uint32_t frequencyFor(uint32_t sampleRate, double cents) {
    const double hz = sampleRate * std::exp2(cents / 1200.0);
    return static_cast<uint32_t>(std::clamp(std::round(hz), 1.0, kMaxFrequency));
}

// The sample playing the other side of `region`'s stereo pair, or -1 for a mono sample.
int64_t partnerSample(const Sf2Font& font, const Sf2Region& region) {
    const Sf2Sample& sample = font.samples[region.sample];
    if ((sample.type & (Sf2SampleType::Left | Sf2SampleType::Right | Sf2SampleType::Linked)) == 0) return -1;
    if (sample.link >= font.samples.size() || sample.link == region.sample) return -1;
    return sample.link;
}

bool zonePerKey(const Sf2Region& r, bool drumKit) { return (drumKit && r.keyLow == r.keyHigh) || r.scaleTuning != 100; }

// Appends the Zones of layer `index` over keys first..last.
void addZones(const Sf2Font& font, const std::vector<Sf2Region>& regions, size_t index, int32_t first, int32_t last,
              bool drumKit, std::vector<Sf2PlannedZone>& out) {
    const Sf2Region& r = regions[index];
    const uint32_t rate = font.samples[r.sample].sampleRate;
    if (zonePerKey(r, drumKit)) {
        for (int32_t k = first; k <= last; ++k) {
            const double cents = (k - r.rootKey) * static_cast<double>(r.scaleTuning) + r.tuneCents;
            out.push_back({k, k, k, frequencyFor(rate, cents), index, -1});
        }
    } else {
        out.push_back({first, last, r.rootKey, frequencyFor(rate, r.tuneCents), index, -1});
    }
}

// Whether `next` may be joined onto `previous`: it follows on, and plays alike.
bool joinable(const Sf2Font& font, const std::vector<Sf2Region>& regions, const std::vector<Sf2WaveKey>& waves,
              const Sf2PlannedZone& previous, const Sf2PlannedZone& next) {
    const Sf2Region& a = regions[previous.region];
    const Sf2Region& b = regions[next.region];
    return previous.rangeEnd + 1 == next.rangeStart && previous.basicNote == next.basicNote &&
           previous.frequency == next.frequency && waves[previous.region] == waves[next.region] &&
           a.articulation == b.articulation && partnerSample(font, a) < 0 && partnerSample(font, b) < 0;
}

}  // namespace

int32_t Sf2ZonePlanner::chosenLayer(const std::vector<Sf2Region>& regions, int32_t key) {
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

std::vector<Sf2PlannedZone> Sf2ZonePlanner::plan(const Sf2Font& font, const std::vector<Sf2Region>& regions,
                                                 const std::vector<Sf2WaveKey>& waves, bool drumKit,
                                                 int32_t& layersLeftOut) {
    layersLeftOut = 0;
    // Region keys are clamped to 0..127 when the regions are made.
    std::array<int32_t, kKeys> layers{};
    for (int32_t key = 0; key < kKeys; ++key) layers[static_cast<size_t>(key)] = chosenLayer(regions, key);
    const auto layer = [&layers](int32_t key) { return layers[static_cast<size_t>(key)]; };

    // The chosen layers, run by run, in key order.
    std::vector<Sf2PlannedZone> chosen;
    for (int32_t key = 0; key < kKeys;) {
        int32_t last = key;
        while (last + 1 < kKeys && layer(last + 1) == layer(key)) ++last;
        if (layer(key) >= 0) addZones(font, regions, static_cast<size_t>(layer(key)), key, last, drumKit, chosen);
        key = last + 1;
    }
    std::vector<Sf2PlannedZone> zones;
    for (const Sf2PlannedZone& zone : chosen) {
        if (!zones.empty() && joinable(font, regions, waves, zones.back(), zone))
            zones.back().rangeEnd = zone.rangeEnd;
        else
            zones.push_back(zone);
    }

    // Every layer where it was not chosen; split where its partner's choice changes.
    for (size_t i = 0; i < regions.size(); ++i) {
        const Sf2Region& r = regions[i];
        const int64_t partner = partnerSample(font, r);
        const auto part = [&](int32_t key) {
            const int32_t l = layer(key);
            if (l == static_cast<int32_t>(i)) return 0;  // chosen: its Zone is in the first part
            return partner >= 0 && l >= 0 && regions[static_cast<size_t>(l)].sample == partner ? 1 : 2;
        };
        std::vector<Sf2PlannedZone> more;
        for (int32_t key = r.keyLow; key <= r.keyHigh;) {
            int32_t last = key;
            while (last + 1 <= r.keyHigh && part(last + 1) == part(key)) ++last;
            if (part(key) != 0) addZones(font, regions, i, key, last, drumKit, more);
            key = last + 1;
        }
        if (zones.size() + more.size() > kMostZones) {
            ++layersLeftOut;
            continue;
        }
        zones.insert(zones.end(), more.begin(), more.end());
    }

    // Stereo links: the two sides of a pair over the same keys and velocities.
    // A side's Zone waits under what its partner's Zone must be: the partner's
    // sample, its own sample as the partner's link, the keys and velocities.
    using Match = std::tuple<int64_t, int64_t, int32_t, int32_t, int32_t, int32_t>;
    const auto matchOf = [&](const Sf2PlannedZone& zone, int64_t sample, int64_t link) {
        const Sf2Region& r = regions[zone.region];
        return Match{sample, link, zone.rangeStart, zone.rangeEnd, r.velLow, r.velHigh};
    };
    std::map<Match, std::vector<size_t>> waiting;
    for (size_t z = 0; z < zones.size(); ++z) {
        const int64_t own = regions[zones[z].region].sample;
        const int64_t partner = partnerSample(font, regions[zones[z].region]);
        if (partner < 0) continue;
        auto found = waiting.find(matchOf(zones[z], own, partner));
        if (found != waiting.end() && !found->second.empty()) {
            const size_t other = found->second.front();
            found->second.erase(found->second.begin());
            zones[z].linked = static_cast<int32_t>(other);
            zones[other].linked = static_cast<int32_t>(z);
        } else {
            waiting[matchOf(zones[z], partner, own)].push_back(z);
        }
    }
    return zones;
}

}  // namespace tonvero
