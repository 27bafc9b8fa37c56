#pragma once
// A Wave: signed 16-bit mono samples with the values that tell a voice how
// to play them. Owned by its Zone. Its fields are its own; its samples are
// shared storage (SampleData.h), so Waves made from the same samples hold
// them once, and a loop or field edit changes only the Wave edited.

#include "bank/SampleData.h"
#include "platform/SoundBuffer.h"
#include "platform/SoundTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

struct Wave {
    // Hardware mixer: the Wave's own device buffer, made on first use and then
    // handed to the engine's waveBuffers (null once handed over).
    SoundBufferPtr deviceBuffer;
    // The samples, signed 16-bit mono. sampleCount == samples.size(). (Between
    // loadWaveFile and convertToMono16 a WAV file's values as stored: see WaveImport.h.)
    // Read-only: new samples come through setSamples.
    SampleData samples;
    // Describes the samples to the device: PCM, 1 channel, 16 bits, `frequency` Hz
    // (between import and conversion: the WAV file's own format).
    WaveFormat format = WaveFormat::pcm16(1, 0);
    int32_t looped = 0;  // 0 or 1
    uint32_t sampleCount = 0;
    int32_t loopBegin = 0;        // first sample of the loop
    int32_t loopEnd = 0;          // last sample of the loop, inclusive; also the release point
    int32_t holdPos = 0;          // position from which the release fades apply
    int32_t reserved = 128;       // one byte kept through load and save, 0 to 255
    uint32_t frequency = 0;       // Hz at which the samples sound at the Zone's basicNote
    std::string name = "unused";  // after import: the WAV file's full path
    int32_t bufferSlot = -1;      // engine waveBuffers slot holding this Wave's buffer, -1 none

    // Replaces the samples (sampleCount follows) and releases the device
    // buffer: with storage of its own made from `newSamples`, or sharing `shared`.
    void setSamples(const std::vector<int16_t>& newSamples) { setSamples(SampleData(newSamples)); }
    void setSamples(SampleData shared);
    // The format record for 16-bit mono at `frequency`.
    void updateFormat() { format = WaveFormat::pcm16(1, frequency); }
};

}  // namespace tonvero
