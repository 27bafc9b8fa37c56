#pragma once
// Properties of rendered sound, measured: pitch by zero crossings, level,
// and the largest step between neighbouring samples.

#include "render/RenderRig.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace tonvero::test {

// Side 0 (left) or 1 (right) of frames [from, to) as doubles.
inline std::vector<double> side(const Rendered& r, int which, size_t from, size_t to) {
    std::vector<double> out;
    to = std::min(to, r.frames());
    for (size_t f = from; f < to; ++f) out.push_back(r.samples[2 * f + static_cast<size_t>(which)]);
    return out;
}

// The times (in frames from the start of `x`) at which it rises through zero,
// placed between samples by straight-line interpolation.
inline std::vector<double> risingCrossings(const std::vector<double>& x) {
    std::vector<double> at;
    for (size_t k = 1; k < x.size(); ++k)
        if (x[k - 1] < 0 && x[k] >= 0) at.push_back(static_cast<double>(k - 1) + x[k - 1] / (x[k - 1] - x[k]));
    return at;
}

// Frequency in Hz from the rising zero crossings of `x` at `rate`; 0 when too few.
inline double zeroCrossingHz(const std::vector<double>& x, int32_t rate) {
    const std::vector<double> at = risingCrossings(x);
    if (at.size() < 3) return 0;
    return (static_cast<double>(at.size()) - 1) * rate / (at.back() - at.front());
}

inline double cents(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

// Root mean square of `x`.
inline double rms(const std::vector<double>& x) {
    double sum = 0;
    for (double v : x) sum += v * v;
    return x.empty() ? 0 : std::sqrt(sum / static_cast<double>(x.size()));
}

inline double decibels(double ratio) { return 20.0 * std::log10(ratio); }

// The largest difference between neighbouring samples of either side in frames [from, to).
inline int32_t largestStep(const Rendered& r, size_t from, size_t to) {
    int32_t largest = 0;
    to = std::min(to, r.frames());
    for (size_t f = std::max<size_t>(from, 1); f < to; ++f)
        for (size_t c = 0; c < 2; ++c)
            largest = std::max(largest, std::abs(int32_t{r.samples[2 * f + c]} - int32_t{r.samples[2 * (f - 1) + c]}));
    return largest;
}

inline size_t framesAt(double seconds, int32_t rate = 44100) { return static_cast<size_t>(seconds * rate); }

}  // namespace tonvero::test
