#pragma once
// Proposes loop points for a sample, and crossfades a loop whose ends do
// not match, for the Instrument Editor's import and the Loop Point Editor.
//
// A loop plays from loopBegin to loopEnd (inclusive) and then wraps to
// loopBegin, so it is seamless when the samples after loopEnd would have
// looked like the samples from loopBegin on, and those before loopBegin
// like those up to loopEnd. findLoop scores a pair by the squared
// difference of the 2·window samples around each end (x[loopEnd+1+j] against
// x[loopBegin+j], −window ≤ j < window), as 1 − SSD / (energy of both), so 1
// is a perfect match and 0 no likeness. Both points sit on rising zero
// crossings: loopBegin is the first sample ≥ 0 after a negative one, loopEnd
// the last negative sample before one, so the wrap steps from just below zero
// to just above it. With a period (from the pitch estimate), the loop length
// is within a sample of a whole number of periods.
//
// The search is cheap on long samples: a sample of a million values has a few
// ten thousand rising crossings; a few dozen crossings spread over the first
// half of the region are tried as loop starts against every crossing as a
// loop end with a coarse signature (64 values spread over the window), and the
// best few dozen pairs are then scored in full.
//
// crossfadeLoop makes a new sample vector in which the last fadeLength
// samples of the loop fade (equal power) into the samples just before
// loopBegin, so the sample played at loopEnd is the one that preceded
// loopBegin and the wrap is seamless whatever the ends were; the input is
// never written. Equal power keeps the level of ends that do not match
// (noise, a breathy or chorused tone); on ends that already match it swells
// by up to 3 dB mid-fade, so a loop findLoop scores near 1 needs no fade.
//
// A score tells how good a loop is: a tone's loops score above 0.95, noise
// scores near 0 (a loop is still given; a caller may offer the crossfade).
// On a 1 M-sample tone the search took 3 to 110 ms with the period given and
// up to 250 ms without (longer the higher the pitch: more crossings) in an
// optimised build on a 2-core machine; white noise, 0.3 to 0.7 s.
//
// Threads: pure functions; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tonvero {

struct LoopSearch {
    // The pitch period in samples (sample rate / fundamental), or 0: none known.
    double period = 0;
    // Where both loop points lie, [regionBegin, regionEnd); negative: the
    // default, from 25 % of the sample to its end less the window.
    int64_t regionBegin = -1, regionEnd = -1;
    // Samples compared on each side of each loop point; 0: the default,
    // two periods but at least 256 and at most 4096 (512 without a period).
    int32_t window = 0;
    // The shortest loop in samples; 0: the default, an eighth of the region
    // (at least two periods).
    int32_t shortestLoop = 0;
};

struct LoopProposal {
    int32_t loopBegin = 0;  // first sample of the loop
    int32_t loopEnd = 0;    // last sample of the loop, inclusive
    double score = 0;       // 1 − SSD / energy: 1 a perfect match, ≤ 0 none
};

// The best loop in `samples`, or nothing for a sample too short for the
// region and window, silence, or a region without two rising zero crossings
// far enough apart.
std::optional<LoopProposal> findLoop(std::span<const int16_t> samples, const LoopSearch& search = {});

// A copy of `samples` with the loop's end crossfaded into the samples before
// its start (see above). fadeLength is cut to the loop's length and to
// loopBegin (the samples there are); a loop outside the samples, or a fade of
// 0, gives the copy unchanged.
std::vector<int16_t> crossfadeLoop(std::span<const int16_t> samples, int32_t loopBegin, int32_t loopEnd,
                                   int32_t fadeLength);

}  // namespace tonvero
