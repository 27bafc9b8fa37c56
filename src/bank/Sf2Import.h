#pragma once
// Builds a bank from a SoundFont 2 or 3 file: one Instrument per General
// MIDI program (the presets of bank 0, in program order), one for the
// standard drum kit (bank 128, preset 0), with the ProgramMap naming them,
// and every other drum kit of bank 128 in Bank::kits by its program.
//
// What carries over, and how:
//  - Zones: every layer of a preset (each instrument zone under each preset
//    zone, generators combined as the SoundFont format does: see
//    Sf2Region.h) becomes Zones over its keys, with its velocity range. The
//    Zones the Custom Mixer plays come first, so that it plays the notes it
//    always has; the Studio mixer plays every layer. Sf2ZonePlanner.h says
//    how the keys are split and ordered, and where a Zone is made per key.
//  - Articulation: every Zone has one, from its layer's generators (volume
//    and modulation envelopes, modulation and vibrato LFOs, filter, pan,
//    tuning, exclusive class, velocity range, sample mode 3 as
//    tailOnRelease), in the SoundFont's own units and limited to the ranges
//    of Articulation.h. The Wave already carries three of them, so that every
//    mixer hears them and none must apply them again: its frequency includes
//    coarseTune and fineTune (and, for a Zone of one key, scale tuning at that
//    key), and its samples are scaled by the attenuation (0.4 dB per 1 dB
//    written, as SoundFont players hear it), or by part of it with the rest
//    in the articulation where that lets layers share samples (below).
//  - Shared samples: every Wave made from the same samples (the same sample,
//    offsets, scaling and repeated short loop) shares one storage, so the
//    bank holds each sample about once however many layers, programs and
//    kits play it. Layers of one sample at different attenuations share the
//    samples scaled by the least of them and attenuate the rest in their
//    articulation; the Zones the Custom Mixer plays get samples of their own
//    only where sharing would make them more than 5 dB louder there.
//  - Stereo pairs: each side is a mono Zone of its own samples, and the two
//    Zones of a pair over the same keys and velocities are linked
//    (ZoneArticulation::linkedZone). The Custom Mixer plays the side that
//    comes first.
//  - Samples, loops and loops repeated to a playable length: Sf2WaveMaker.h.
//    The compressed samples of a SoundFont 3 file are read decoded (Sf2Reader.h).
//  - Fading: from the volume envelope of the layer that plays middle C (the
//    acoustic snare, key 38, for a drum kit), as Sf2Fading.h describes.
//  - The bank has 128 Instrument slots and a full General MIDI SoundFont
//    needs 129. When there are too many, programs share an Instrument, the
//    most alike first: identical ones (Zones, articulation and fading), then
//    ones with the same Zones and different fading, then ones playing the
//    same samples, then programs of the same family of eight. Each sharing is
//    listed in the report's notes. Kits are counted apart and never share.
//  - Programs without a preset map to slot 0; a kit without sound is left
//    out (its program plays the standard kit).
//  - Not kept, and said so in a note: modulators (beyond the amounts of the
//    standard links the articulation holds), fixed key and velocity numbers;
//    and layers past the Zones an Instrument can hold (Sf2ZonePlanner::kMostZones).
//
// Threads: no shared state; any thread. The bank given is replaced only on success.

#include "bank/Bank.h"
#include "bank/Sf2Font.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

struct Sf2ImportReport {
    int32_t instruments = 0;         // Instruments made (in the 128 slots)
    int32_t kits = 0;                // drum kits made besides, in Bank::kits
    int32_t zones = 0;               // Zones made, over all Instruments and kits
    uint64_t sampleFrames = 0;       // samples held by all Waves, each Wave counted
    uint64_t storedFrames = 0;       // samples stored: Waves sharing samples count once
    int32_t mappedEntries = 0;       // ProgramMap entries (of 129) naming an Instrument made from a preset
    std::vector<std::string> notes;  // what could not be carried over as it is
};

// Reads the SoundFont (2 or 3) at `path` and replaces `out` with the bank built from
// it. On failure returns false with `error` set; `out` is unchanged.
bool importSoundFont(const std::string& path, Bank& out, std::string& error, Sf2ImportReport* report = nullptr);

// Builds the bank from an already read SoundFont; same rules and results.
bool buildBankFromSoundFont(const Sf2Font& font, Bank& out, std::string& error, Sf2ImportReport* report = nullptr);

}  // namespace tonvero
