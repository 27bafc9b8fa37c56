#pragma once
// One sound of the software mixer. It keeps its own copies of the Wave's
// playing values and of the Instrument's fading values at its start, so later
// edits reach only later notes; it reads the Wave's samples in place.
//
// The loop values are made safe at the start (startMixerVoice): `loopEnd` is
// at most `sampleCount` - 1, and a voice whose loop is empty or inverted
// (loopBegin < 0, loopEnd < loopBegin, or no samples) plays unlooped. So the
// mixer never reads outside the Wave whatever its loop points say.

#include <cstdint>

namespace tonvero {

struct Wave;

struct MixerVoice {
    int32_t active = 0;
    int32_t released = 0;
    int32_t sustained = 0;
    uint32_t startTick = 0;
    uint32_t position = 0;    // next sample, whole samples
    uint32_t step = 0;        // 16.16 source samples per output frame
    uint32_t leftGain = 0;    // 16.16, 0..128.0
    uint32_t rightGain = 0;   // 16.16, 0..128.0
    int32_t channel = 0;      // 0..16
    int32_t pitchOffset = 0;  // semitones
    Wave* wave = nullptr;     // not owned
    const int16_t* samples = nullptr;
    int32_t looped = 0;
    uint32_t sampleCount = 0;
    int32_t loopBegin = 0;
    int32_t loopEnd = 0;  // last sample of the loop, inclusive
    int32_t holdPos = 0;
    uint32_t loopFading = 0;  // 16.16 per pass
    uint32_t sustainFading = 0;
    uint32_t cutoffFading = 0;
    // Serial number of the note this MixerVoice plays (see Voice::soundSerial).
    uint32_t soundSerial = 0;
};

}  // namespace tonvero
