#include "bank/Sf2WaveMaker.h"

#include <cmath>
#include <cstddef>

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

uint64_t Sf2WaveMaker::madeLength(const Sf2WaveKey& key) { return static_cast<uint64_t>(key.end - key.start); }

Sf2WaveData Sf2WaveMaker::make(const Sf2Font& font, const Sf2WaveKey& key) {
    const size_t count = static_cast<size_t>(key.end - key.start);
    Sf2WaveData wave;
    wave.samples.resize(count);
    const int16_t* data = font.sampleData.data() + key.start;
    const double gain = std::pow(10.0, -0.4 * key.attenuation / 200.0);
    for (size_t i = 0; i < count; ++i)
        wave.samples[i] = key.attenuation > 0 ? static_cast<int16_t>(std::lround(data[i] * gain)) : data[i];
    wave.loopEnd = key.loopEnd;
    return wave;
}

}  // namespace tonvero
