// The Studio mixer's vector paths give the bits its plain paths give: the
// resampler with and without AVX2, and low-pass filters run side by side in
// batches of any size against each one run alone. Mixes must not depend on
// the processor they are made on, nor on how many voices happen to share a
// batch.

#include "engine/LowPassFilter.h"
#include "engine/Resampler.h"
#include "engine/StudioVoice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace tonvero {
namespace {

// Restores the resampler's choice of vectors however the test ends.
struct WideVectors {
    explicit WideVectors(bool allow) : before(allowWideVectors(allow)) {}
    ~WideVectors() { allowWideVectors(before); }
    bool before;
};

std::vector<float> resampled(const std::vector<int16_t>& samples, bool looped, uint64_t position, uint64_t step,
                             bool wide) {
    const WideVectors choice(wide);
    StudioVoice v;
    v.samples = samples.data();
    v.sampleCount = static_cast<int64_t>(samples.size());
    v.looped = looped;
    v.loopBegin = 1000;
    v.loopEnd = 3999;
    v.position = position;
    v.step = step;
    prepareLoopEdge(v);
    // Chunks of every length the mixer makes, short ones between events included.
    static constexpr uint32_t kChunks[] = {64, 64, 13, 64, 7, 1, 64, 31, 64, 64, 8, 64, 63};
    std::vector<float> out;
    float chunk[64];
    for (int round = 0; round < 12; ++round)
        for (const uint32_t frames : kChunks) {
            resampleVoice(v, Interpolation::Cubic, chunk, frames);
            out.insert(out.end(), chunk, chunk + frames);
        }
    return out;
}

TEST(WideVectors, TheResamplerGivesTheSameBitsWithAndWithoutThem) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-32768, 32767);
    std::vector<int16_t> samples(5000);
    for (int16_t& s : samples) s = static_cast<int16_t>(value(random));
    // Steps from far below one sample a frame to far above, odd fractions, and
    // starts around the loop's ends and the Wave's.
    const double ratios[] = {0.0371, 0.5, 1.0, 1.41421356, 2.93, 7.31, 61.7};
    const double starts[] = {0.0, 1.5, 995.25, 3990.7, 4990.1};
    for (const bool looped : {true, false})
        for (const double ratio : ratios)
            for (const double start : starts) {
                const auto step = static_cast<uint64_t>(ratio * 4294967296.0);
                const auto position = static_cast<uint64_t>(start * 4294967296.0) + 0x9E3779B9u;
                const std::vector<float> narrow = resampled(samples, looped, position, step, false);
                const std::vector<float> wide = resampled(samples, looped, position, step, true);
                ASSERT_EQ(narrow.size(), wide.size());
                EXPECT_EQ(std::memcmp(narrow.data(), wide.data(), sizeof(float) * narrow.size()), 0)
                    << "looped " << looped << ", ratio " << ratio << ", start " << start;
            }
}

TEST(WideVectors, FiltersSideBySideGiveWhatEachGivesAlone) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-20000.0f, 20000.0f);
    constexpr uint32_t kFrames = 64;
    for (const uint32_t count : {1u, 3u, 4u, 5u, 8u, 9u, 15u, 16u}) {
        std::vector<LowPassFilter> batched(count), alone(count);
        for (uint32_t k = 0; k < count; ++k) {
            // Every filter its own cutoff and resonance.
            batched[k].set(300.0 + 1700.0 * k, 3.0 * (k % 5), 44100);
            alone[k] = batched[k];
        }
        for (int chunk = 0; chunk < 6; ++chunk) {
            // Whole chunks, and one short one (a chunk cut by an event).
            const uint32_t frames = chunk == 3 ? 22 : kFrames;
            std::vector<std::vector<float>> inBatch(count, std::vector<float>(kFrames));
            for (auto& buffer : inBatch)
                for (float& x : buffer) x = value(random);
            std::vector<std::vector<float>> inAlone = inBatch;
            std::vector<LowPassFilter*> filters;
            std::vector<float*> buffers;
            for (uint32_t k = 0; k < count; ++k) {
                filters.push_back(&batched[k]);
                buffers.push_back(inBatch[k].data());
                alone[k].process(inAlone[k].data(), frames);
            }
            LowPassFilter::processBatch(filters.data(), buffers.data(), frames, count);
            for (uint32_t k = 0; k < count; ++k)
                EXPECT_EQ(std::memcmp(inBatch[k].data(), inAlone[k].data(), sizeof(float) * frames), 0)
                    << count << " filters, filter " << k << ", chunk " << chunk;
        }
    }
}

}  // namespace
}  // namespace tonvero
