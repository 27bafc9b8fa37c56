// Loop points found in a periodic tone are seamless (the wrap from loopEnd
// to loopBegin steps no further than the waveform does between neighbours)
// and span a whole number of periods; crossfading copies, and makes the wrap
// of a loop in noise as smooth as the noise itself; degenerate samples give
// no loop.

#include "bank/LoopFinder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tonvero {
namespace {

constexpr double kRate = 44100;

// A tone of a few harmonics with a period of 44100/439.3 = 100.387 samples,
// decaying slowly, optionally with vibrato (`depth` cents at 5.5 Hz).
std::vector<int16_t> tone(size_t count, double depthCents = 0) {
    std::vector<int16_t> out(count);
    double phase = 0;
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double hz = 439.3 * std::exp2(depthCents / 1200 * std::sin(2 * M_PI * 5.5 * t));
        phase += 2 * M_PI * hz / kRate;
        const double v = std::sin(phase) + 0.5 * std::sin(2 * phase + 0.7) + 0.3 * std::sin(3 * phase + 1.9) +
                         0.15 * std::sin(5 * phase + 0.2);
        out[i] = static_cast<int16_t>(std::lround(14000 * std::exp(-t / 4.0) * v));
    }
    return out;
}

int largestStep(const std::vector<int16_t>& samples) {
    int step = 0;
    for (size_t i = 1; i < samples.size(); ++i) step = std::max(step, std::abs(samples[i] - samples[i - 1]));
    return step;
}

int wrapJump(const std::vector<int16_t>& samples, int32_t loopBegin, int32_t loopEnd) {
    return std::abs(samples[static_cast<size_t>(loopEnd)] - samples[static_cast<size_t>(loopBegin)]);
}

TEST(LoopFinder, LoopsInAPeriodicToneAreSeamlessAndWholePeriods) {
    const double period = kRate / 439.3;
    const std::vector<int16_t> samples = tone(200000);
    const int step = largestStep(samples);
    const std::optional<LoopProposal> loop = findLoop(samples, LoopSearch{.period = period});
    ASSERT_TRUE(loop.has_value());
    EXPECT_GE(loop->loopBegin, 50000) << "past the attack: from a quarter of the sample on";
    EXPECT_LT(loop->loopEnd, 200000 - 256);
    EXPECT_LE(wrapJump(samples, loop->loopBegin, loop->loopEnd), step);
    const double length = loop->loopEnd + 1 - loop->loopBegin;
    EXPECT_GE(length, 150000 / 8) << "at least an eighth of the region";
    EXPECT_NEAR(length, std::round(length / period) * period, 1.0);
    EXPECT_GT(loop->score, 0.99);
    // Rising zero crossings at both ends.
    EXPECT_GE(samples[static_cast<size_t>(loop->loopBegin)], 0);
    EXPECT_LT(samples[static_cast<size_t>(loop->loopBegin) - 1], 0);
    EXPECT_LT(samples[static_cast<size_t>(loop->loopEnd)], 0);
    EXPECT_GE(samples[static_cast<size_t>(loop->loopEnd) + 1], 0);

    // Without the period, and with vibrato, in a region given: still seamless, inside the region.
    const std::vector<int16_t> vibrato = tone(200000, 8);
    const std::optional<LoopProposal> free =
        findLoop(vibrato, LoopSearch{.regionBegin = 30000, .regionEnd = 120000, .shortestLoop = 4000});
    ASSERT_TRUE(free.has_value());
    EXPECT_GE(free->loopBegin, 30000);
    EXPECT_LT(free->loopEnd, 120000);
    EXPECT_GE(free->loopEnd + 1 - free->loopBegin, 4000);
    EXPECT_LE(wrapJump(vibrato, free->loopBegin, free->loopEnd), largestStep(vibrato));
    EXPECT_GT(free->score, 0.95);
}

TEST(LoopFinder, CrossfadeCopiesAndSmoothsTheWrapOfNoise) {
    // Low-passed noise: neighbours close, samples far apart unrelated.
    std::mt19937 random(11);
    std::normal_distribution<double> white(0, 3000);
    std::vector<int16_t> noise(100000);
    double state = 0;
    for (int16_t& v : noise) {
        state = 0.95 * state + white(random);
        v = static_cast<int16_t>(std::clamp(std::lround(state), -32768L, 32767L));
    }
    const std::vector<int16_t> original = noise;
    double faded = 0, unfaded = 0, neighbour = 0;
    std::uniform_int_distribution<int32_t> place(5000, 40000);
    for (int trial = 0; trial < 50; ++trial) {
        const int32_t begin = place(random), end = begin + place(random);
        const std::vector<int16_t> out = crossfadeLoop(noise, begin, end, 2000);
        ASSERT_EQ(out.size(), noise.size());
        for (size_t i = 0; i < out.size(); ++i) {
            if (i + 2000 <= static_cast<size_t>(end) || i > static_cast<size_t>(end)) {
                ASSERT_EQ(out[i], noise[i]) << i;
            }
        }
        // At loopEnd the copy holds the sample before loopBegin.
        EXPECT_EQ(out[static_cast<size_t>(end)], noise[static_cast<size_t>(begin) - 1]);
        faded += std::pow(wrapJump(out, begin, end), 2);
        unfaded += std::pow(wrapJump(noise, begin, end), 2);
        neighbour += std::pow(noise[static_cast<size_t>(begin)] - noise[static_cast<size_t>(begin) - 1], 2);
    }
    EXPECT_EQ(noise, original) << "the input is never written";
    EXPECT_DOUBLE_EQ(faded, neighbour);
    EXPECT_LT(faded * 10, unfaded);

    // The fade is cut to the samples before the loop; a loop outside the samples changes nothing.
    const std::vector<int16_t> early = crossfadeLoop(noise, 10, 50000, 5000);
    for (size_t i = 0; i < noise.size(); ++i) {
        if (i < 49991 || i > 50000) {
            ASSERT_EQ(early[i], noise[i]) << i;
        }
    }
    EXPECT_EQ(early[50000], noise[9]);
    EXPECT_EQ(crossfadeLoop(noise, 200, 100, 50), noise);
    EXPECT_EQ(crossfadeLoop(noise, 200, 100000, 50), noise);
    EXPECT_EQ(crossfadeLoop(noise, -1, 500, 50), noise);
    EXPECT_EQ(crossfadeLoop(noise, 2000, 9000, 0), noise);
}

TEST(LoopFinder, DegenerateSamplesGiveNoLoop) {
    EXPECT_FALSE(findLoop({}));
    EXPECT_FALSE(findLoop(std::vector<int16_t>(1000, 300)));
    EXPECT_FALSE(findLoop(std::vector<int16_t>(100000, 0)));
    const std::vector<int16_t> samples = tone(200000);
    EXPECT_FALSE(findLoop(std::span(samples).first(500), LoopSearch{.period = kRate / 439.3}))
        << "too short for a window either side of both loop points";
    std::vector<int16_t> faint(100000);
    for (size_t i = 0; i < faint.size(); ++i) faint[i] = static_cast<int16_t>(static_cast<int>(i * 7919 % 3) - 1);
    EXPECT_FALSE(findLoop(faint)) << "dither-level noise";
    EXPECT_FALSE(findLoop(samples, LoopSearch{.regionBegin = 90000, .regionEnd = 90003}));
    EXPECT_FALSE(findLoop(samples, LoopSearch{.shortestLoop = 190000})) << "no room for the shortest loop";
}

}  // namespace
}  // namespace tonvero
