#pragma once
// Turns a SoundFont volume envelope into an Instrument's three fading values.
//
// The mixer knows only one kind of fade: a fixed decrement of a voice's
// 0..128 gain, once per 20 ms pass, in 16.16 fixed point. A SoundFont
// envelope falls at a fixed number of decibels per second instead. The two
// are matched at the time a note takes to die away:
//  - reference gain 63.5, the gain of a velocity-127 note at centre pan; a
//    fade that takes that gain to 0 in T seconds subtracts 63.5 * 0.02 / T per
//    pass (quieter notes reach silence sooner, in proportion);
//  - T is the time the envelope takes to fall 40 dB: a linear fade stays
//    louder than a falling-in-decibels one for most of its length, and a
//    note that has fallen 40 dB is lost in any mix. Envelope times are "from
//    full level to silence" (100 dB), so falling 40 dB takes 0.4 of them;
//  - cutoffFading (after note-off): T = 0.4 * release time. A sample that
//    loops while held and then plays its tail (sample mode 3) gets 0: the mixer
//    then leaves the loop and plays the tail out, just as the SoundFont asks;
//  - loopFading (held, looped) and sustainFading (released with the hold
//    pedal down, which in a SoundFont keeps the note in its held state): 0
//    when the sustain level is less than 20 dB below full (organs, strings,
//    winds keep sounding while held); otherwise T = delay + attack + hold +
//    the decay time to the sustain level or 40 dB down, whichever comes first.
// Every non-zero fade lies between 1 (the slowest) and 128.0 (silence after
// one pass).
//
// Threads: pure functions; any thread.

#include "bank/Sf2Region.h"

#include <cstdint>

namespace tonvero {

struct Sf2Fading {
    uint32_t loopFading = 0;
    uint32_t sustainFading = 0;
    uint32_t cutoffFading = 0;
};

// Seconds of a SoundFont time in timecents, limited to the SoundFont's range (1 ms .. 101 s).
double sf2Seconds(int32_t timecents);

// The 16.16 per-pass decrement that takes gain 63.5 to 0 in `seconds` (rounded up, so never later).
uint32_t fadeForSeconds(double seconds);

// The fading values for `envelope` as heard on `key`; `loopThenTail` for sample mode 3.
Sf2Fading fadingFromEnvelope(const Sf2Envelope& envelope, int32_t key, bool loopThenTail);

}  // namespace tonvero
