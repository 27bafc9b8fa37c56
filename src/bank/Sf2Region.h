#pragma once
// One playable layer of a SoundFont preset: a preset zone joined with one of
// its instrument's zones, every generator resolved as the SoundFont format
// combines them: an instrument zone's generators replace those of the
// instrument's global zone, which replace the format's defaults; a preset
// zone's replace its preset's global zone's; the preset's values are then
// added to the instrument's (except the generators only an instrument may
// set: sample offsets, sample modes, exclusive class, root key, fixed key and
// velocity), key and velocity ranges are intersected, and each sum is limited
// to the generator's range.
//
// Threads: plain data and a pure function; any thread.

#include "bank/Articulation.h"
#include "bank/Sf2Font.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

// The volume envelope as the fading values are made from it: times in
// timecents (seconds = 2^(tc / 1200)) as summed, sustain in centibels below
// full level (0..1440).
struct Sf2Envelope {
    int32_t delay = -12000;
    int32_t attack = -12000;
    int32_t hold = -12000;
    int32_t decay = -12000;
    int32_t sustain = 0;
    int32_t release = -12000;
    int32_t keynumToHold = 0;   // timecents per key below 60 added to `hold`
    int32_t keynumToDecay = 0;  // timecents per key below 60 added to `decay`
};

struct Sf2Region {
    int32_t keyLow = 0, keyHigh = 127;  // inclusive
    int32_t velLow = 0, velHigh = 127;  // inclusive
    uint32_t sample = 0;                // index into Sf2Font::samples
    int32_t rootKey = 60;               // the key at which the sample sounds untransposed
    int32_t tuneCents = 0;              // coarse * 100 + fine (each limited) + the sample's pitch correction
    int32_t scaleTuning = 100;          // cents per key
    // Sample extent in Sf2Font::sampleData after the offset generators: start
    // and end (exclusive) always lie inside the data and start < end.
    int64_t start = 0, end = 0;
    // Loop after the offset generators, end exclusive; only meaningful when
    // `loopValid` (start <= loopStart < loopEnd <= end).
    int64_t loopStart = 0, loopEnd = 0;
    bool loopValid = false;
    int32_t sampleModes = 0;  // 0 unlooped, 1 looped, 3 looped while held then the tail
    int32_t attenuation = 0;  // centibels, 0..1440
    Sf2Envelope envelope;
    // Every shaping generator, limited to the ranges Articulation.h gives
    // (and, where it gives none, to the SoundFont's), except attenuation and
    // tuning, which the Wave carries (0 here). The velocity range is the
    // region's; linkedZone is left -1 (Zones are linked by the importer).
    ZoneArticulation articulation;
    int32_t order = 0;  // position among the preset's regions, file order

    bool looped() const { return loopValid && (sampleModes == 1 || sampleModes == 3); }
    bool coversKey(int32_t key) const { return keyLow <= key && key <= keyHigh; }
};

// Resolves every layer of `preset` that can sound: zones without an
// instrument or sample, ROM samples, empty samples and empty ranges are left
// out. Returns false with `error` set when a zone's sample offsets reach
// outside the sample data (a damaged file).
bool collectRegions(const Sf2Font& font, const Sf2Preset& preset, std::vector<Sf2Region>& regions, std::string& error);

}  // namespace tonvero
