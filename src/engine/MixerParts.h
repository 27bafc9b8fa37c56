#pragma once
// What each of the engine's own mixers keeps, apart from the rest of the
// engine: the Software Custom Mixer its 32 MixerVoices and how far it has
// written into its looping mixing buffer; the hardware mixer its device
// buffers, one per Wave and one per sounding duplicate, with the serial
// number of the sound each plays. The mixers' operations are the engine's
// (SoftwareMixer.cpp, HardwareMixer.cpp); these are their fields.

#include "engine/MixerVoice.h"
#include "platform/SoundBuffer.h"

#include <array>
#include <cstdint>

namespace tonvero {

struct Wave;

constexpr int32_t kMixerVoiceCount = 32;
constexpr int32_t kBufferSlots = 32;  // each of waveBuffers and voiceBuffers
constexpr uint32_t kWritePosUnset = 0xFFFFFF;

struct CustomMixer {
    std::array<MixerVoice, kMixerVoiceCount> mixerVoices;
    float writeAheadSeconds = 0.3f;  // how far ahead of the play cursor the looping buffer is written
    uint32_t mixBufferBytes = 0;
    uint32_t writeAheadBytes = 0;
    uint32_t writePos = kWritePosUnset;
    // How many ticks found the play cursor past everything written (the
    // device had played stale sound; writing started again at the cursor),
    // since the engine was made.
    uint64_t underruns = 0;
};

struct HardwareMixer {
    std::array<SoundBufferPtr, kBufferSlots> waveBuffers;
    std::array<SoundBufferPtr, kBufferSlots> voiceBuffers;
    // Sound serial numbers: the next one to give out, and the one each
    // buffer slot (0..31 waveBuffers, 32..63 voiceBuffers) plays.
    uint32_t nextSoundSerial = 1;
    std::array<uint32_t, 2 * kBufferSlots> bufferSerials{};
    // The Wave whose samples each buffer slot holds (compared, never read).
    std::array<const Wave*, 2 * kBufferSlots> bufferWaves{};
};

}  // namespace tonvero
