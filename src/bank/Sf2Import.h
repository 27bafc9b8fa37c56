#pragma once
// Builds a bank from a SoundFont 2 file: one Instrument per General MIDI
// program (the presets of bank 0, in program order) and one for the standard
// drum kit (bank 128, preset 0), with the ProgramMap naming them.
//
// What carries over, and how:
//  - Zones: for every key 0..127 the importer picks the one layer that plays
//    it: among the layers covering the key, the first whose velocity range
//    holds 100, else the one whose range comes nearest to 100. Runs of keys
//    that pick the same layer become one Zone. A layer whose scale tuning is
//    not 100 cents per key becomes one Zone per key.
//  - Pitch: a Zone over several keys has the layer's root key (the overriding
//    root key, else the sample's original pitch) as basicNote and the sample
//    rate corrected by coarse tune, fine tune and the sample's pitch
//    correction as frequency. A Zone of one key (every drum) has that key as
//    basicNote and the frequency at which the key sounds, scale tuning
//    included. Frequencies are rounded to whole Hz (under 0.04 cents at 44 kHz).
//  - Samples: the layer's 16-bit data after the offset generators, scaled by
//    its initial attenuation (0.4 dB per 1 dB written, as the hardware the
//    format comes from does, so instruments keep their balance). The two
//    sides of a stereo pair are mixed into mono as (left + right) / 2, which
//    cannot clip.
//  - Loops: looped when the sample mode loops and the loop lies inside the
//    sample; loopEnd is the last sample of the loop (the SoundFont's loop end
//    minus one). holdPos is 0, so the release fades start at note-off as the
//    SoundFont's release does; for sample mode 3 (loop while held, then the
//    tail) it is loopBegin, so the tail never skips the attack.
//  - Fading: from the volume envelope of the layer that plays middle C (the
//    acoustic snare, key 38, for the drum kit), as Sf2Fading.h describes.
//  - The bank has 128 Instrument slots and a full General MIDI SoundFont
//    needs 129. When there are too many, programs share an Instrument, the
//    most alike first: identical ones, then ones with the same Zones and
//    different fading, then ones playing the same samples, then programs of
//    the same family of eight. Each sharing is listed in the report's notes.
//  - Programs without a preset map to slot 0.
//
// Threads: no shared state; any thread. The bank given is replaced only on success.

#include "bank/Bank.h"
#include "bank/Sf2Font.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

struct Sf2ImportReport {
    int32_t instruments = 0;        // Instruments made
    int32_t zones = 0;              // Zones made, over all Instruments
    uint64_t sampleFrames = 0;      // samples held by all Waves
    int32_t mappedEntries = 0;      // ProgramMap entries (of 129) naming an Instrument made from a preset
    std::vector<std::string> notes; // what could not be carried over as it is
};

// Reads the SoundFont at `path` and replaces `out` with the bank built from
// it. On failure returns false with `error` set; `out` is unchanged.
bool importSoundFont(const std::string& path, Bank& out, std::string& error,
                     Sf2ImportReport* report = nullptr);

// Builds the bank from an already read SoundFont; same rules and results.
bool buildBankFromSoundFont(const Sf2Font& font, Bank& out, std::string& error,
                            Sf2ImportReport* report = nullptr);

}  // namespace tonvero
