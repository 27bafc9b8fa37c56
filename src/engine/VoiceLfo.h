#pragma once
// A voice's low-frequency oscillator: silent through its delay, then a
// triangle from 0 up to +1, down to -1 and back, at its frequency.
//
// Threads: the Studio mixer's renderer; real-time safe.

#include "bank/Articulation.h"

#include <cstdint>

namespace tonvero {

class VoiceLfo {
public:
    VoiceLfo() = default;
    VoiceLfo(const LfoSettings& settings, int32_t rate);
    // The same from a frequency in Hz and a delay in seconds.
    VoiceLfo(double hz, double delaySeconds, int32_t rate);

    // The value at the middle of the next `frames` frames (-1..1), then moves on.
    float advance(uint32_t frames) noexcept;

private:
    double delayFrames_ = 0;
    double phase_ = 0;  // cycles, 0..1
    double cyclesPerFrame_ = 0;
};

}  // namespace tonvero
