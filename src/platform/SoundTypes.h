#pragma once
// Values and records shared by the sound device and its buffers. Units follow
// the device conventions the engine is written against: sizes and positions in
// bytes, rates in Hz, volume in hundredths of a decibel (0 full, -10000
// silence), pan from -10000 (right side silent) to +10000 (left side silent).

#include <cstdint>

namespace tonvero {

// Status codes of every device and buffer operation; nothing here throws.
enum class SoundResult {
    Ok,
    Failed,        // generic failure (the backend refused, or the device is gone)
    InvalidParam,  // an argument out of range or a call the buffer kind does not support
    BufferLost,    // the buffer has been lost and must be restored before use
    OutOfMemory,   // no room for another buffer on the device
    NoDevice,      // no output device could be opened
};

inline bool succeeded(SoundResult r) { return r == SoundResult::Ok; }
const char* soundResultText(SoundResult r);

// The WAVEFORMATEX record: describes PCM samples to the device, and is the
// body of a WAV file's "fmt " chunk.
struct WaveFormat {
    uint16_t formatTag = 1;  // 1: PCM
    uint16_t channels = 2;
    uint32_t samplesPerSec = 44100;
    uint32_t avgBytesPerSec = 176400;
    uint16_t blockAlign = 4;
    uint16_t bitsPerSample = 16;
    uint16_t extraSize = 0;

    // 16-bit PCM with the given channel count and rate, every derived field filled in.
    static WaveFormat pcm16(uint16_t channels, uint32_t rate) {
        WaveFormat f;
        f.formatTag = 1;
        f.channels = channels;
        f.samplesPerSec = rate;
        f.blockAlign = static_cast<uint16_t>(channels * 2);
        f.avgBytesPerSec = rate * f.blockAlign;
        f.bitsPerSample = 16;
        f.extraSize = 0;
        return f;
    }
    bool operator==(const WaveFormat&) const = default;
};

// Buffer description flags (the values of the device API the engine mirrors).
namespace BufferFlags {
constexpr uint32_t PrimaryBuffer = 0x00001;
constexpr uint32_t Static = 0x00002;
constexpr uint32_t LocSoftware = 0x00008;
constexpr uint32_t CtrlFrequency = 0x00020;
constexpr uint32_t CtrlPan = 0x00040;
constexpr uint32_t CtrlVolume = 0x00080;
constexpr uint32_t StickyFocus = 0x04000;
constexpr uint32_t GlobalFocus = 0x08000;
constexpr uint32_t GetCurrentPosition2 = 0x10000;
}  // namespace BufferFlags

// A buffer description: 20 bytes in the original API, hence `size`.
struct BufferDesc {
    uint32_t size = 20;
    uint32_t flags = 0;
    uint32_t bufferBytes = 0;            // 0 for the primary buffer: the device chooses
    const WaveFormat* format = nullptr;  // none for the primary buffer (set with setFormat)
};

// Bits of SoundBuffer::getStatus.
namespace BufferStatus {
constexpr uint32_t Playing = 0x1;
constexpr uint32_t BufferLost = 0x2;
constexpr uint32_t Looping = 0x4;
}  // namespace BufferStatus

// Flags of SoundBuffer::play.
namespace PlayFlags {
constexpr uint32_t Looping = 0x1;
}

// Flags of SoundBuffer::lock.
namespace LockFlags {
constexpr uint32_t FromWriteCursor = 0x1;
constexpr uint32_t EntireBuffer = 0x2;
}  // namespace LockFlags

enum class CooperativeLevel : uint32_t {
    Normal = 1,
    Priority = 2,
    Exclusive = 3,
    WritePrimary = 4,
};

// The one or two regions a lock hands out: the second one starts at the
// buffer's beginning when the locked range runs past the end.
struct LockedRegions {
    uint8_t* first = nullptr;
    uint32_t firstBytes = 0;
    uint8_t* second = nullptr;
    uint32_t secondBytes = 0;
};

constexpr int32_t kVolumeMin = -10000;      // silence
constexpr int32_t kVolumeMax = 0;           // full level
constexpr int32_t kPanLeft = -10000;        // right side silent
constexpr int32_t kPanRight = 10000;        // left side silent
constexpr uint32_t kFrequencyMin = 100;     // Hz, lowest buffer frequency and format rate
constexpr uint32_t kFrequencyMax = 200000;  // Hz, highest

}  // namespace tonvero
