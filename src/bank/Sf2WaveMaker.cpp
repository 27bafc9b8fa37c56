#include "bank/Sf2WaveMaker.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace tonvero {

Sf2WaveKey Sf2WaveMaker::keyFor(const Sf2Region& region) {
    Sf2WaveKey key;
    key.sample = region.sample;
    key.start = region.start;
    key.end = region.end;
    key.attenuation = region.attenuation;
    key.looped = region.looped();
    if (key.looped) {
        key.loopBegin = static_cast<int32_t>(region.loopStart - region.start);
        key.loopEnd = static_cast<int32_t>(region.loopEnd - 1 - region.start);
        if (region.sampleModes == 3) key.holdPos = key.loopBegin;
    }
    return key;
}

uint64_t Sf2WaveMaker::madeLength(const Sf2WaveKey& key) {
    const uint64_t count = static_cast<uint64_t>(key.end - key.start);
    if (!key.looped || key.loopBegin < 0 || key.loopEnd < key.loopBegin || static_cast<uint64_t>(key.loopEnd) >= count)
        return count;
    const uint64_t length = static_cast<uint64_t>(key.loopEnd - key.loopBegin) + 1;
    if (length >= kShortestLoop) return count;
    return count + ((kShortestLoop + length - 1) / length - 1) * length;
}

Sf2WaveData Sf2WaveMaker::make(const Sf2Font& font, const Sf2WaveKey& key) {
    const size_t count = static_cast<size_t>(key.end - key.start);
    Sf2WaveData wave;
    wave.samples.resize(count);
    const int16_t* data = font.sampleData.data() + key.start;
    const double gain = std::pow(10.0, -0.4 * key.attenuation / 200.0);
    for (size_t i = 0; i < count; ++i)
        wave.samples[i] = key.attenuation > 0 ? static_cast<int16_t>(std::lround(data[i] * gain)) : data[i];
    wave.loopEnd = key.loopEnd;
    if (key.looped) wave.loopEnd = repeatShortLoop(wave.samples, key.loopBegin, key.loopEnd);
    return wave;
}

int32_t Sf2WaveMaker::repeatShortLoop(std::vector<int16_t>& samples, int32_t loopBegin, int32_t loopEnd) {
    if (loopBegin < 0 || loopEnd < loopBegin || static_cast<size_t>(loopEnd) >= samples.size()) return loopEnd;
    const int64_t length = int64_t{loopEnd} - loopBegin + 1;
    if (length >= kShortestLoop) return loopEnd;
    const int64_t copies = (kShortestLoop + length - 1) / length;  // the loop itself and copies - 1 more
    std::vector<int16_t> repeated;
    repeated.reserve(samples.size() + static_cast<size_t>((copies - 1) * length));
    const auto loopStart = samples.begin() + loopBegin;
    const auto afterLoop = samples.begin() + loopEnd + 1;
    repeated.insert(repeated.end(), samples.begin(), afterLoop);
    for (int64_t c = 1; c < copies; ++c) repeated.insert(repeated.end(), loopStart, afterLoop);
    repeated.insert(repeated.end(), afterLoop, samples.end());
    samples = std::move(repeated);
    return static_cast<int32_t>(loopBegin + copies * length - 1);
}

}  // namespace tonvero
