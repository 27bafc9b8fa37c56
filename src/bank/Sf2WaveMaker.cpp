#include "bank/Sf2WaveMaker.h"

#include <algorithm>
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

int32_t Sf2WaveMaker::madeLoopEnd(const Sf2WaveKey& key) {
    const uint64_t added = madeLength(key) - static_cast<uint64_t>(key.end - key.start);
    return static_cast<int32_t>(key.loopEnd + static_cast<int64_t>(added));
}

Sf2WaveKey Sf2WaveMaker::storageKey(Sf2WaveKey key) {
    if (madeLength(key) == static_cast<uint64_t>(key.end - key.start)) {
        key.looped = false;
        key.loopBegin = key.loopEnd = key.holdPos = 0;
    }
    key.holdPos = 0;  // never moves a sample
    return key;
}

Sf2WaveData Sf2WaveMaker::make(const Sf2Font& font, const Sf2WaveKey& key) {
    const size_t count = static_cast<size_t>(key.end - key.start);
    const size_t length = static_cast<size_t>(madeLength(key));
    const double gain = std::pow(10.0, -0.4 * key.attenuation / 200.0);
    Sf2WaveData wave;
    wave.loopEnd = madeLoopEnd(key);
    wave.samples = SampleData::make(length, [&](int16_t* out) {
        // The layer's samples, read straight into place and scaled there.
        font.sampleData.read(static_cast<size_t>(key.start), count, out);
        if (key.attenuation > 0)
            for (size_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(std::lround(out[i] * gain));
        if (length == count) return;
        // A short loop: the samples after it move up past its copies.
        const size_t loopBegin = static_cast<size_t>(key.loopBegin);
        const size_t afterLoop = static_cast<size_t>(key.loopEnd) + 1;
        const size_t loopLength = afterLoop - loopBegin;
        const size_t added = length - count;
        std::copy_backward(out + afterLoop, out + count, out + length);
        for (size_t at = afterLoop; at < afterLoop + added; at += loopLength)
            std::copy(out + loopBegin, out + afterLoop, out + at);
    });
    font.sampleData.release(static_cast<size_t>(key.start), static_cast<size_t>(key.end));
    return wave;
}

}  // namespace tonvero
