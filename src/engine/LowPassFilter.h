#pragma once
// A voice's resonant low-pass filter: a two-pole biquad (12 dB per octave)
// whose resonance is the height of its peak above the gain at 0 Hz, as a
// SoundFont gives it; with no resonance the response is 3 dB down at the
// cutoff (Butterworth). Coefficients are set for a chunk at a time; the
// filter state carries over, so a moving cutoff does not click.
//
// Threads: the Studio mixer's renderer; real-time safe.

#include <cstdint>

namespace tonvero {

class LowPassFilter {
public:
    // Sets the cutoff (Hz, held between 5 Hz and 0.45 of the rate) and the
    // resonance (dB above the gain at 0 Hz, 0..96) at `rate` Hz; recomputes
    // only when they change.
    void set(double cutoffHz, double resonanceDb, int32_t rate) noexcept;
    // Moves the cutoff alone (Hz, held as set() holds it), the resonance and
    // rate kept: the cheap change made once a chunk while an envelope or an
    // LFO sweeps the filter.
    void setCutoff(float cutoffHz) noexcept;
    // Filters `frames` samples in place.
    void process(float* samples, uint32_t frames) noexcept;
    // Filters `count` buffers of `frames` samples in place, filters[k] over
    // buffers[k], four side by side at a time.
    static void processBatch(LowPassFilter* const* filters, float* const* buffers, uint32_t frames,
                             uint32_t count) noexcept;
    void reset() noexcept { z1_ = z2_ = 0; }

private:
    void update(float cutoffHz) noexcept;

    double cutoff_ = -1, resonance_ = -1;
    float halfOverQ_ = 0.70710678f;  // 1 / (2 Q)
    float radiansPerHz_ = 0;         // 2 pi / rate
    float highest_ = 0;              // 0.45 x rate
    float b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    float z1_ = 0, z2_ = 0;
};

}  // namespace tonvero
