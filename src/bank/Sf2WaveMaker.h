#pragma once
// Makes the samples and loop of a Wave from one SoundFont layer.
//
//  - Samples: the layer's 16-bit mono data after the offset generators,
//    scaled by its initial attenuation at 0.4 dB per 1 dB written (as the
//    hardware the format comes from does, and as SoundFont players do), so
//    every mixer hears the Instrument's balance.
//  - Loops: looped when the sample mode loops and the loop lies inside the
//    sample; loopEnd is the last sample of the loop (the SoundFont's loop end
//    minus one). holdPos is 0, so the release fades start at note-off as the
//    SoundFont's release does; for sample mode 3 (loop while held, then the
//    tail) it is loopBegin, so the tail never skips the attack.
//  - Short loops: the Custom Mixer drops the position's fraction each time it
//    wraps from the loop's end to its start, so a loop of a few samples plays
//    flat (by over a semitone for a 10-sample loop two octaves up). A loop
//    shorter than kShortestLoop samples is therefore repeated whole inside the
//    Wave: its samples are written again right after it as many times as it
//    takes to reach that length, the samples after the loop follow the last
//    copy, and loopEnd moves to the end of the last copy. Every mixer plays
//    the same sound at the same pitch, the Custom Mixer now within a few
//    cents (one fraction lost per repeated loop instead of per short one).
//
// Threads: pure functions; any thread.

#include "bank/Sf2Font.h"
#include "bank/Sf2Region.h"

#include <cstdint>
#include <vector>

namespace tonvero {

// Everything that decides a Wave's samples and loop, before short loops are repeated.
struct Sf2WaveKey {
    uint32_t sample = 0;
    int64_t start = 0, end = 0;  // in Sf2Font::sampleData, end exclusive
    int32_t attenuation = 0;     // centibels
    bool looped = false;
    int32_t loopBegin = 0, loopEnd = 0, holdPos = 0;  // from `start`; loopEnd inclusive
    bool operator==(const Sf2WaveKey&) const = default;
};

// A Wave's samples and loop as the importer stores them.
struct Sf2WaveData {
    std::vector<int16_t> samples;
    int32_t loopEnd = 0;  // inclusive; moved past the copies of a short loop
};

class Sf2WaveMaker {
public:
    // Loops shorter than this many samples are repeated up to at least this length.
    static constexpr int32_t kShortestLoop = 1000;

    static Sf2WaveKey keyFor(const Sf2Region& region);
    // How many samples make() gives for `key`, without making them.
    static uint64_t madeLength(const Sf2WaveKey& key);
    // The samples of `key` with its attenuation applied and a short loop repeated.
    static Sf2WaveData make(const Sf2Font& font, const Sf2WaveKey& key);
    // Repeats the loop loopBegin..loopEnd (inclusive) of `samples` whole until
    // it is at least kShortestLoop long; returns the new loopEnd. A loop that
    // is already long enough, or does not lie inside the samples, is left as it is.
    static int32_t repeatShortLoop(std::vector<int16_t>& samples, int32_t loopBegin, int32_t loopEnd);
};

}  // namespace tonvero
