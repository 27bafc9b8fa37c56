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
#include "bank/SampleData.h"

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
    auto operator<=>(const Sf2WaveKey&) const = default;
};

// A Wave's samples and loop as the importer stores them.
struct Sf2WaveData {
    SampleData samples;
    int32_t loopEnd = 0;  // inclusive; moved past the copies of a short loop
};

class Sf2WaveMaker {
public:
    // Loops shorter than this many samples are repeated up to at least this length.
    static constexpr int32_t kShortestLoop = 1000;

    static Sf2WaveKey keyFor(const Sf2Region& region);
    // How many samples make() gives for `key`, without making them.
    static uint64_t madeLength(const Sf2WaveKey& key);
    // The Wave's loopEnd for `key`: moved past the copies of a short loop.
    static int32_t madeLoopEnd(const Sf2WaveKey& key);
    // What decides the samples alone: `key` without its loop and hold unless
    // its loop is short and repeated. Waves whose keys give the same storage
    // key play the same samples.
    static Sf2WaveKey storageKey(Sf2WaveKey key);
    // The samples of `key` with its attenuation applied and a short loop
    // repeated, read from the font's sample data into their storage (the
    // font's memory for the range is given back after).
    static Sf2WaveData make(const Sf2Font& font, const Sf2WaveKey& key);
};

}  // namespace tonvero
