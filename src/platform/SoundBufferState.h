#pragma once
// The state behind one SoundBuffer, shared by the buffer's methods and the
// device's mixer. Every field is read and written only under the device
// mutex (DeviceCore::mutex()). The sample bytes themselves are also written by
// whoever holds a lock on a stopped buffer (the mixer does not read a stopped
// buffer); a lock on a playing buffer hands out `staging` instead, and unlock
// copies what was written into the samples under the device mutex, so the
// audio thread never reads bytes while another thread writes them.

#include "platform/SoundBuffer.h"
#include "platform/SoundTypes.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace tonvero {

struct SoundBuffer::State {
    // Sample bytes; duplicates hold the same vector. Never resized while any
    // buffer shares it (only the primary's storage is replaced, by setFormat).
    std::shared_ptr<std::vector<uint8_t>> data;
    WaveFormat format;
    uint32_t frames = 0;  // whole frames in `data`
    bool primary = false;

    uint32_t frequency = 0;  // Hz; the format's rate unless set
    int32_t volume = kVolumeMax;
    int32_t pan = 0;
    float leftGain = 1.0f;  // linear factors from volume and pan
    float rightGain = 1.0f;

    // Where a lock on a playing buffer is written (the size of `data` once
    // made, on the first such lock; empty before).
    std::vector<uint8_t> staging;

    uint64_t position = 0;  // play cursor in frames, 16.16 fixed point
    bool playing = false;
    bool looping = false;
    bool lost = false;

    uint32_t bytes() const { return static_cast<uint32_t>(data->size()); }
    uint32_t playCursorBytes() const { return static_cast<uint32_t>(position >> 16) * format.blockAlign; }

    // Hundredths of a decibel to a linear factor; the floor is silence.
    static float levelFactor(int32_t hundredthsDb) {
        if (hundredthsDb <= kVolumeMin) return 0.0f;
        return static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
    }
    // Positive pan attenuates the left side, negative the right.
    void updateGains() {
        const float level = levelFactor(volume);
        leftGain = level * (pan > 0 ? levelFactor(-pan) : 1.0f);
        rightGain = level * (pan < 0 ? levelFactor(pan) : 1.0f);
    }
};

}  // namespace tonvero
