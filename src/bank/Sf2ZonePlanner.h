#pragma once
// Plans the Zones of one Instrument from the layers (Sf2Regions) of a
// SoundFont preset: which keys each Zone holds, its basic note and frequency,
// the layer it plays, and its stereo link.
//
// The Custom Mixer and the hardware mixer play only the first Zone, in list
// order, that holds a key (Bank::findZone); the Studio mixer plays every Zone
// whose key and velocity ranges hold the note (Bank::findLayers). So the
// Zones come in two parts:
//  - First the Zones of the chosen layers: for every key the one layer that
//    plays it in the Custom Mixer, among the layers covering the key the first
//    whose velocity range holds 100, else the one whose range comes nearest to
//    100. Runs of keys that choose the same layer become one Zone, in key
//    order, and neighbouring Zones that would play alike (same samples, loop,
//    pitch and articulation, no stereo partner) are joined.
//  - Then every other layer over the keys where it was not chosen, in layer
//    order: other velocity layers, the other side of a stereo pair, layers
//    hidden under an earlier one. Their keys are split where the choice of
//    their stereo partner changes, so that the two sides of a pair always get
//    Zones of the same keys.
//  A drum kit's layer of a single key, and any layer whose scale tuning is not
//  100 cents per key, gets one Zone per key with that key as basicNote and the
//  frequency at which the key sounds (scale tuning, tuning and pitch
//  correction included): the Custom Mixer moves a Zone's pitch by whole
//  semitones only, and an audition plays a Zone at its basic note, which is
//  then the drum's own sound. Other Zones have the layer's root key as
//  basicNote and the sample rate corrected by coarse tune, fine tune and the
//  sample's pitch correction as frequency, rounded to whole Hz.
//  Each side of a stereo pair plays its own samples; two Zones playing the
//  two samples of a pair over the same keys and velocities are linked.
//  An Instrument holds at most kMostZones Zones: layers past that are left out
//  (the first part, at most a Zone a key, always fits).
//
// Threads: pure functions; any thread.

#include "bank/Sf2Font.h"
#include "bank/Sf2Region.h"
#include "bank/Sf2WaveMaker.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonvero {

struct Sf2PlannedZone {
    int32_t rangeStart = 0, rangeEnd = 0, basicNote = 60;
    uint32_t frequency = 0;
    size_t region = 0;    // the layer it plays, an index into the regions planned from
    int32_t linked = -1;  // position of the Zone playing the other side of a stereo pair
};

class Sf2ZonePlanner {
public:
    // Far more than the layers of any real SoundFont preset (a piano of 88
    // keys, 16 velocities and two sides has 2816), few enough that a damaged
    // file cannot make the bank hold millions of Waves.
    static constexpr size_t kMostZones = 16384;

    // The Zones for `regions` (with `waves[i]` the Wave key of regions[i]),
    // in Instrument order. `drumKit` gives single-key layers a Zone each.
    // `layersLeftOut` counts the layers that had no room (see kMostZones).
    static std::vector<Sf2PlannedZone> plan(const Sf2Font& font, const std::vector<Sf2Region>& regions,
                                            const std::vector<Sf2WaveKey>& waves, bool drumKit, int32_t& layersLeftOut);
    // The layer the Custom Mixer plays for `key`, or -1 when no layer covers it.
    static int32_t chosenLayer(const std::vector<Sf2Region>& regions, int32_t key);
};

}  // namespace tonvero
