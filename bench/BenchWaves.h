#pragma once
// The looped Waves the mixing benchmarks play: Wave `w` (0..7) holds
// 4000 + 1500 w samples of a sine of w + 3 periods, recorded at
// 22050 + 3000 w Hz and looped over its last three quarters, so that the
// voices differ in length, pitch and loop.

#include "bank/Bank.h"

#include <cmath>
#include <memory>
#include <vector>

namespace tonvero {

inline std::unique_ptr<Wave> benchWave(int w) {
    const uint32_t count = 4000 + 1500 * static_cast<uint32_t>(w);
    std::vector<int16_t> samples(count);
    for (uint32_t k = 0; k < count; ++k)
        samples[k] = static_cast<int16_t>(20000 * std::sin(2 * 3.14159265358979 * k * (w + 3) / count));
    auto wave = std::make_unique<Wave>();
    wave->setSamples(std::move(samples));
    wave->frequency = 22050 + 3000 * static_cast<uint32_t>(w);
    wave->looped = 1;
    wave->loopBegin = static_cast<int32_t>(count / 4);
    wave->loopEnd = static_cast<int32_t>(count - 1);
    return wave;
}

}  // namespace tonvero
