#pragma once
// The Studio mixer's innermost loops over a chunk's frames, each built twice:
// for the processor's plain vectors and for AVX2, chosen when the program
// starts. Every frame's value comes from the same operations in the same
// order either way (no fused multiply-add, nothing summed across frames), so
// the two give the same bits.
//
// No two arrays given to one call may overlap.
//
// A gain "ramp" runs from `from` by `step` a frame: frame k (0-based) takes
// from + step * (k + 1), reaching the target on the last frame.
//
// Threads: any; real-time safe (no allocation, no lock).

#include <cstdint>

namespace tonvero {

// left[k] += mono[k] x the left ramp, right[k] += mono[k] x the right ramp.
void addRampedStereo(const float* mono, int32_t frames, float fromLeft, float stepLeft, float fromRight,
                     float stepRight, float* left, float* right) noexcept;

// left[k] += fromLeft[k], right[k] += fromRight[k]; returns the largest
// magnitude among the added values.
float addPairWithPeak(const float* fromLeft, const float* fromRight, int32_t frames, float* left,
                      float* right) noexcept;

// left[k] += inLeft[k] x the ramp, right[k] += inRight[k] x the ramp.
void addPairRamped(const float* inLeft, const float* inRight, int32_t frames, float from, float step, float* left,
                   float* right) noexcept;

// out[k] += (inLeft[k] + inRight[k]) x the ramp.
void addSumRamped(const float* inLeft, const float* inRight, int32_t frames, float from, float step,
                  float* out) noexcept;

// The largest magnitude among `count` values.
float peakOf(const float* values, int32_t count) noexcept;

}  // namespace tonvero
