#include "bank/LoopFinder.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <queue>

namespace tonvero {
namespace {

// Loop starts tried, and pairs scored in full after the coarse pass.
constexpr size_t kStarts = 48;
constexpr size_t kFinalists = 32;
// Values in a crossing's coarse signature.
constexpr size_t kSignature = 64;
// A region quieter than this (RMS, 16-bit units) holds nothing to loop.
constexpr double kSilentRms = 2.0;

struct Pair {
    double cost = 0;
    int64_t begin = 0, end = 0;  // end: the crossing after the loop (loopEnd + 1)
    bool operator<(const Pair& other) const { return cost < other.cost; }
};

}  // namespace

std::optional<LoopProposal> findLoop(std::span<const int16_t> samples, const LoopSearch& search) {
    const int64_t n = static_cast<int64_t>(samples.size());
    // A period longer than the sample is none.
    const double period = search.period > 0 && search.period < static_cast<double>(n) ? search.period : 0.0;
    const int64_t window = search.window > 0 ? search.window
                           : period > 0      ? std::clamp<int64_t>(std::llround(2 * period), 256, 4096)
                                             : 512;
    // Both loop points and the loop's end crossing lie in [begin, end], with
    // a window's samples on either side.
    const int64_t begin = std::max(search.regionBegin >= 0 ? search.regionBegin : n / 4, window + 1);
    const int64_t end = std::min(search.regionEnd >= 0 ? search.regionEnd : n, n - window - 1);
    if (end - begin < 4) return std::nullopt;
    const int64_t shortest = std::max<int64_t>(
        search.shortestLoop > 0 ? search.shortestLoop
                                : std::max<int64_t>((end - begin) / 8, static_cast<int64_t>(std::ceil(2 * period))),
        2);

    double energy = 0;
    for (int64_t i = begin; i < end; ++i) {
        const double v = samples[static_cast<size_t>(i)];
        energy += v * v;
    }
    if (energy < kSilentRms * kSilentRms * static_cast<double>(end - begin)) return std::nullopt;

    std::vector<int64_t> crossings;
    for (int64_t i = begin; i <= end; ++i)
        if (samples[static_cast<size_t>(i - 1)] < 0 && samples[static_cast<size_t>(i)] >= 0) crossings.push_back(i);
    if (crossings.size() < 2) return std::nullopt;

    // The coarse signature of every crossing: kSignature values spread over its window.
    const int64_t stride = std::max<int64_t>(1, 2 * window / static_cast<int64_t>(kSignature));
    std::vector<float> signatures(crossings.size() * kSignature);
    std::vector<float> signatureEnergy(crossings.size());
    for (size_t c = 0; c < crossings.size(); ++c) {
        float sum = 0;
        for (size_t k = 0; k < kSignature; ++k) {
            const int64_t at = std::clamp<int64_t>(crossings[c] - window + static_cast<int64_t>(k) * stride, 0, n - 1);
            const float v = samples[static_cast<size_t>(at)];
            signatures[c * kSignature + k] = v;
            sum += v * v;
        }
        signatureEnergy[c] = sum;
    }

    // Loop starts: crossings spread over the first half of the region that leave room for the shortest loop.
    const int64_t lastStart = std::min(begin + (end - begin) / 2, end - shortest);
    const size_t startCount =
        static_cast<size_t>(std::upper_bound(crossings.begin(), crossings.end(), lastStart) - crossings.begin());
    if (startCount == 0) return std::nullopt;
    const size_t startsTried = std::min(kStarts, startCount);
    std::vector<size_t> starts;
    for (size_t s = 0; s < startsTried; ++s) starts.push_back(s * startCount / startsTried);

    // Coarse pass: the kFinalists pairs of lowest normalised signature difference.
    std::priority_queue<Pair> finalists;  // the worst on top
    for (size_t s : starts) {
        const float* a = &signatures[s * kSignature];
        for (size_t e = s + 1; e < crossings.size(); ++e) {
            const int64_t length = crossings[e] - crossings[s];
            if (length < shortest) continue;
            if (period > 0) {
                const double periods = std::round(static_cast<double>(length) / period);
                if (periods < 1 || std::abs(static_cast<double>(length) - periods * period) > 1.0) continue;
            }
            const float* b = &signatures[e * kSignature];
            float difference = 0;
            for (size_t k = 0; k < kSignature; ++k) difference += (a[k] - b[k]) * (a[k] - b[k]);
            const float total = signatureEnergy[s] + signatureEnergy[e];
            const double cost = total > 0 ? difference / total : 1.0;
            if (finalists.size() < kFinalists) {
                finalists.push({cost, crossings[s], crossings[e]});
            } else if (cost < finalists.top().cost) {
                finalists.pop();
                finalists.push({cost, crossings[s], crossings[e]});
            }
        }
    }

    // Full pass over every sample of both windows.
    std::optional<LoopProposal> best;
    for (; !finalists.empty(); finalists.pop()) {
        const Pair pair = finalists.top();
        double difference = 0, total = 0;
        for (int64_t j = -window; j < window; ++j) {
            const double a = samples[static_cast<size_t>(pair.begin + j)];
            const double b = samples[static_cast<size_t>(pair.end + j)];
            difference += (a - b) * (a - b);
            total += a * a + b * b;
        }
        if (!(total > 0)) continue;
        const double score = 1.0 - difference / total;
        // Equal scores: the longer loop.
        if (!best || score > best->score ||
            (score == best->score && pair.end - pair.begin > best->loopEnd + 1 - best->loopBegin))
            best = LoopProposal{static_cast<int32_t>(pair.begin), static_cast<int32_t>(pair.end - 1), score};
    }
    return best;
}

std::vector<int16_t> crossfadeLoop(std::span<const int16_t> samples, int32_t loopBegin, int32_t loopEnd,
                                   int32_t fadeLength) {
    std::vector<int16_t> out(samples.begin(), samples.end());
    if (loopBegin < 0 || loopEnd < loopBegin || static_cast<size_t>(loopEnd) >= samples.size()) return out;
    const int32_t fade = std::min({fadeLength, loopEnd - loopBegin + 1, loopBegin});
    for (int32_t i = 0; i < fade; ++i) {
        const size_t at = static_cast<size_t>(loopEnd - fade + 1 + i);
        const size_t before = static_cast<size_t>(loopBegin - fade + i);
        // Reaches the sample before loopBegin whole at loopEnd.
        const double t = static_cast<double>(i + 1) / fade * (std::numbers::pi / 2);
        const double value = samples[at] * std::cos(t) + samples[before] * std::sin(t);
        out[at] = static_cast<int16_t>(std::clamp(std::round(value), -32768.0, 32767.0));
    }
    return out;
}

}  // namespace tonvero
