#include "engine/MixKernels.h"

#include "engine/Clones.h"

#include <algorithm>
#include <bit>

namespace tonvero {

TONVERO_CLONED void addRampedStereo(const float* __restrict mono, int32_t frames, float fromLeft, float stepLeft,
                                    float fromRight, float stepRight, float* __restrict left,
                                    float* __restrict right) noexcept {
    for (int32_t k = 0; k < frames; ++k) {
        const float s = mono[k];
        const auto n = static_cast<float>(k + 1);
        left[k] += s * (fromLeft + stepLeft * n);
        right[k] += s * (fromRight + stepRight * n);
    }
}

TONVERO_CLONED float addPairWithPeak(const float* __restrict fromLeft, const float* __restrict fromRight,
                                     int32_t frames, float* __restrict left, float* __restrict right) noexcept {
    // The magnitudes compared as their bit patterns (sign cleared), which
    // order as the values do: an integer maximum the compiler vectorises.
    int32_t peak = 0;
    for (int32_t k = 0; k < frames; ++k) {
        left[k] += fromLeft[k];
        right[k] += fromRight[k];
        const int32_t l = std::bit_cast<int32_t>(fromLeft[k]) & 0x7fffffff;
        const int32_t r = std::bit_cast<int32_t>(fromRight[k]) & 0x7fffffff;
        peak = std::max(peak, std::max(l, r));
    }
    return std::bit_cast<float>(peak);
}

TONVERO_CLONED void addPairRamped(const float* __restrict inLeft, const float* __restrict inRight, int32_t frames,
                                  float from, float step, float* __restrict left, float* __restrict right) noexcept {
    for (int32_t k = 0; k < frames; ++k) {
        const float s = from + step * static_cast<float>(k + 1);
        left[k] += s * inLeft[k];
        right[k] += s * inRight[k];
    }
}

TONVERO_CLONED void addSumRamped(const float* __restrict inLeft, const float* __restrict inRight, int32_t frames,
                                 float from, float step, float* __restrict out) noexcept {
    for (int32_t k = 0; k < frames; ++k) out[k] += (from + step * static_cast<float>(k + 1)) * (inLeft[k] + inRight[k]);
}

TONVERO_CLONED float peakOf(const float* values, int32_t count) noexcept {
    int32_t peak = 0;
    for (int32_t k = 0; k < count; ++k) peak = std::max(peak, std::bit_cast<int32_t>(values[k]) & 0x7fffffff);
    return std::bit_cast<float>(peak);
}

}  // namespace tonvero
