#include "bank/PitchEstimate.h"

#include <algorithm>
#include <array>
#include <numbers>
#include <cmath>
#include <vector>

namespace tonvero {
namespace {

// The first dip of the normalised difference under this is the period.
constexpr double kDipThreshold = 0.15;
// A window quieter than this (RMS, in 16-bit units) is silence; dither is about 0.6.
constexpr double kSilentRms = 2.0;
// Half the length of the low-pass filter, in taps.
constexpr int kLowPassHalf = 16;

// The minimum of a parabola through (−1, l), (0, c), (1, r), as an offset in −0.5..0.5.
double parabolaOffset(double l, double c, double r) {
    const double denominator = l - 2 * c + r;
    if (!(denominator > 0)) return 0.0;
    return std::clamp(0.5 * (l - r) / denominator, -0.5, 0.5);
}

struct WindowPitch {
    double period = 0;
    double normalisedDifference = 1;
};

// YIN over `x` (window + maxLag + 1 values): the period in samples and the
// normalised difference there, or nothing.
std::optional<WindowPitch> windowPitch(const std::vector<double>& x, size_t window, size_t minLag, size_t maxLag) {
    double energy = 0;
    for (size_t j = 0; j < window; ++j) energy += x[j] * x[j];
    if (energy < kSilentRms * kSilentRms * static_cast<double>(window)) return std::nullopt;

    // d(τ) = Σ (x[j] − x[j+τ])² = Σx[j]² + Σx[j+τ]² − 2 Σ x[j]x[j+τ], for j < window.
    std::vector<double> d(maxLag + 2, 0.0);
    double shifted = energy;  // Σ x[j+τ]² over the window
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        shifted += x[lag + window - 1] * x[lag + window - 1] - x[lag - 1] * x[lag - 1];
        const double* a = x.data();
        const double* b = x.data() + lag;
        double product = 0;
        for (size_t j = 0; j < window; ++j) product += a[j] * b[j];
        d[lag] = std::max(0.0, energy + shifted - 2 * product);
    }
    // The cumulative mean normalised difference d'(τ) = d(τ) · τ / Σ_{1..τ} d.
    std::vector<double> normalised(maxLag + 2, 1.0);
    double running = 0;
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        running += d[lag];
        normalised[lag] = running > 0 ? d[lag] * static_cast<double>(lag) / running : 1.0;
    }

    // The local minima, each refined by a parabola (a minimum between two
    // lags shows its true depth); the first one under the threshold (or near
    // the lowest, so a slightly unclear tone is not taken an octave down).
    struct Dip {
        size_t lag = 0;
        double offset = 0, depth = 1;
    };
    std::vector<Dip> dips;
    for (size_t lag = std::max<size_t>(minLag, 2); lag < maxLag; ++lag) {
        const double l = normalised[lag - 1], c = normalised[lag], r = normalised[lag + 1];
        if (!(c <= l && c < r)) continue;
        const double offset = parabolaOffset(l, c, r);
        const double depth = std::max(0.0, c - 0.25 * (l - r) * offset);
        dips.push_back({lag, offset, depth});
    }
    if (dips.empty()) return std::nullopt;
    double lowest = 2;
    for (const Dip& dip : dips) lowest = std::min(lowest, dip.depth);
    const double threshold = std::max(kDipThreshold, lowest + 0.05);
    const Dip chosen =
        *std::find_if(dips.begin(), dips.end(), [threshold](const Dip& dip) { return dip.depth < threshold; });
    WindowPitch found;
    found.normalisedDifference = chosen.depth;
    found.period = static_cast<double>(chosen.lag) + chosen.offset;

    // Made exact from the dip near 4, 16, 64... periods: each step's error
    // stays far below the quarter period the next one searches.
    for (double periods = 4; periods * found.period + found.period / 4 < static_cast<double>(maxLag); periods *= 4) {
        const double around = periods * found.period;
        const size_t from = static_cast<size_t>(std::max(2.0, std::ceil(around - found.period / 4)));
        const size_t to = static_cast<size_t>(std::floor(around + found.period / 4));
        size_t dip = from;
        for (size_t lag = from; lag <= to; ++lag)
            if (d[lag] < d[dip]) dip = lag;
        if (dip == from || dip == to) break;  // no dip inside: keep what we have
        found.period = (static_cast<double>(dip) + parabolaOffset(d[dip - 1], d[dip], d[dip + 1])) / periods;
    }
    return found;
}

}  // namespace

std::optional<PitchEstimate> estimatePitch(std::span<const int16_t> samples, double sampleRate,
                                           const PitchOptions& options) {
    if (!(sampleRate > 0) || !(options.lowestHz > 0) || !(options.highestHz > options.lowestHz)) return std::nullopt;
    const size_t minLag = std::max<size_t>(2, static_cast<size_t>(std::floor(sampleRate / options.highestHz)));
    size_t maxLag = static_cast<size_t>(
        std::min(std::ceil(sampleRate / options.lowestHz) + 1, static_cast<double>(samples.size())));
    // The window integrates over as many samples as the longest lag.
    if (samples.size() < 2 * maxLag + 2) maxLag = samples.size() < 4 ? 0 : (samples.size() - 2) / 2;
    if (maxLag < 2 * minLag + 2) return std::nullopt;
    const size_t window = maxLag;
    const size_t span = window + maxLag + 2;

    // Windows from 15 % of the sample on, the last one ending at the sample's end at most.
    const size_t room = samples.size() - span;
    std::vector<size_t> starts;
    for (double at : {0.15, 0.35, 0.55}) {
        const size_t start = std::min(room, static_cast<size_t>(at * static_cast<double>(samples.size())));
        if (std::find(starts.begin(), starts.end(), start) == starts.end()) starts.push_back(start);
    }

    // A low-pass a quarter above the highest pitch: harmonics far above it
    // move too much between whole lags to show the period's dip.
    const double cutoff = std::min(1.25 * options.highestHz, 0.45 * sampleRate) / sampleRate;
    std::array<double, 2 * kLowPassHalf + 1> taps{};
    double gain = 0;
    for (int i = -kLowPassHalf; i <= kLowPassHalf; ++i) {
        const double sinc = i == 0 ? 2 * cutoff : std::sin(2 * std::numbers::pi * cutoff * i) / (std::numbers::pi * i);
        const double blackman = 0.42 + 0.5 * std::cos(std::numbers::pi * i / (kLowPassHalf + 1)) +
                                0.08 * std::cos(2 * std::numbers::pi * i / (kLowPassHalf + 1));
        taps[static_cast<size_t>(i + kLowPassHalf)] = sinc * blackman;
        gain += sinc * blackman;
    }
    for (double& tap : taps) tap /= gain;

    std::optional<WindowPitch> clearest;
    std::vector<double> x(span);
    const int64_t last = static_cast<int64_t>(samples.size()) - 1;
    for (size_t start : starts) {
        for (size_t i = 0; i < span; ++i) {
            double sum = 0;
            for (int t = -kLowPassHalf; t <= kLowPassHalf; ++t)
                sum += taps[static_cast<size_t>(t + kLowPassHalf)] *
                       samples[static_cast<size_t>(std::clamp<int64_t>(static_cast<int64_t>(start + i) + t, 0, last))];
            x[i] = sum;
        }
        const std::optional<WindowPitch> found = windowPitch(x, window, minLag, maxLag);
        if (found && (!clearest || found->normalisedDifference < clearest->normalisedDifference)) clearest = found;
    }
    if (!clearest || !(clearest->period > 0)) return std::nullopt;
    const double confidence = std::clamp(1.0 - clearest->normalisedDifference, 0.0, 1.0);
    const double hz = sampleRate / clearest->period;
    if (confidence < options.leastConfidence || hz < options.lowestHz * 0.97 || hz > options.highestHz * 1.03)
        return std::nullopt;
    return PitchEstimate{hz, confidence};
}

double keyFrequency(double key) { return 440.0 * std::exp2((key - 69.0) / 12.0); }

int32_t nearestKey(double hz) {
    if (!(hz > 0)) return 0;
    return static_cast<int32_t>(std::clamp(std::lround(69.0 + 12.0 * std::log2(hz / 440.0)), 0L, 127L));
}

double centsFromKey(double hz, int32_t key) { return 1200.0 * std::log2(hz / keyFrequency(key)); }

TuningProposal proposeTuning(double sampleRate, double hz) {
    TuningProposal proposal;
    if (!(sampleRate > 0) || !(hz > 0)) return proposal;
    proposal.basicNote = nearestKey(hz);
    proposal.centsOff = centsFromKey(hz, proposal.basicNote);
    const double frequency = std::round(sampleRate * keyFrequency(proposal.basicNote) / hz);
    proposal.frequency = static_cast<uint32_t>(std::clamp(frequency, 1.0, 4294967295.0));
    return proposal;
}

}  // namespace tonvero
