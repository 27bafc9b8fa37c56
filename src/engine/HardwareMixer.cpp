// The hardware mixer: every sounding note plays on a device buffer of its
// own, the device doing the resampling, volume and pan. Slot i of hardware.waveBuffers
// holds the buffer made for the Wave whose bufferSlot is i; hardware.voiceBuffers hold
// duplicates for notes of a Wave whose buffer is already playing.

#include "engine/MixerEngine.h"

#include <algorithm>
#include <cstring>

namespace tonvero {

namespace {

// Static, software, frequency, pan and volume control, sticky focus, current position 2.
constexpr uint32_t kWaveBufferFlags = BufferFlags::Static | BufferFlags::LocSoftware | BufferFlags::CtrlFrequency |
                                      BufferFlags::CtrlPan | BufferFlags::CtrlVolume | BufferFlags::StickyFocus |
                                      BufferFlags::GetCurrentPosition2;  // 0x140EA

bool isPlaying(const SoundBuffer& buffer) {
    uint32_t status = 0;
    return succeeded(buffer.getStatus(status)) && (status & BufferStatus::Playing);
}

}  // namespace

SoundBufferPtr* MixerEngine::bufferSlot(int32_t ref) {
    if (ref < 0 || ref >= 2 * kBufferSlots) return nullptr;
    return ref < kBufferSlots ? &hardware.waveBuffers[static_cast<size_t>(ref)]
                              : &hardware.voiceBuffers[static_cast<size_t>(ref - kBufferSlots)];
}

void MixerEngine::releaseBufferSlot(int32_t ref) {
    SoundBufferPtr* slot = bufferSlot(ref);
    if (!slot) return;
    if (*slot) (*slot)->stop();
    slot->reset();
    hardware.bufferSerials[static_cast<size_t>(ref)] = 0;
    hardware.bufferWaves[static_cast<size_t>(ref)] = nullptr;
}

void MixerEngine::startBufferVoice(Voice& voice, uint32_t frequency, int32_t pan) {
    if (!voice.wave) return;
    // A device buffer for the note: the Wave's own, or a duplicate of it.
    const int32_t ref = acquireVoiceBuffer(voice);
    voice.bufferRef = ref >= 0 ? ref : -1;
    if (ref == kNoBufferGiveUp) return;
    // Its frequency, volume and pan, played from the start.
    if (SoundBuffer* buffer = bufferOf(voice)) {
        buffer->setFrequency(frequency);
        // -10 dB at velocity 127, louder at 128, quieter below; single precision
        // as the level was always computed. Below the device's floor: silence.
        const float level = -1000.0f / (static_cast<float>(voice.velocity) * 0.007874016f);
        const int32_t volume = level > static_cast<float>(kVolumeMin) ? static_cast<int32_t>(level) : kVolumeMin;
        buffer->setVolume(std::min(volume, kVolumeMax));
        buffer->setCurrentPosition(0);
        const int32_t devicePan = (std::clamp(pan, 0, 128) - 64) * 10000 / 64;
        buffer->setPan(std::clamp(devicePan, kPanLeft, kPanRight));
        buffer->play(voice.wave->looped ? PlayFlags::Looping : 0);
    }
    // Duplicates that no voice plays any more are given back.
    releaseIdleVoiceBuffers();
}

int32_t MixerEngine::acquireVoiceBuffer(Voice& voice) {
    if (!voice.wave) return kNoBuffer;
    Wave& w = *voice.wave;

    // The Wave's buffer exists: it plays the note, or a duplicate does.
    const int32_t own = w.bufferSlot;
    if (own >= 0 && own < kBufferSlots && hardware.waveBuffers[static_cast<size_t>(own)] &&
        hardware.bufferWaves[static_cast<size_t>(own)] == &w) {
        SoundBufferPtr& master = hardware.waveBuffers[static_cast<size_t>(own)];
        if (!isPlaying(*master)) {
            hardware.bufferSerials[static_cast<size_t>(own)] = voice.soundSerial = takeSoundSerial();
            return own;
        }
        SoundBufferPtr duplicate;
        if (!soundDevice || !succeeded(soundDevice->duplicateSoundBuffer(master, duplicate)) || !duplicate)
            return kNoBufferGiveUp;
        for (int32_t i = 0; i < kBufferSlots; ++i) {
            if (hardware.voiceBuffers[static_cast<size_t>(i)]) continue;
            hardware.voiceBuffers[static_cast<size_t>(i)] = std::move(duplicate);
            const int32_t ref = kBufferSlots + i;
            hardware.bufferWaves[static_cast<size_t>(ref)] = &w;
            hardware.bufferSerials[static_cast<size_t>(ref)] = voice.soundSerial = takeSoundSerial();
            return ref;
        }
        // Every duplicate slot is taken: let this one go at once; the note is silent.
        duplicate.reset();
        return kNoBufferGiveUp;
    }

    // A new Wave buffer in the lowest free slot.
    int32_t slot = -1;
    for (int32_t i = 0; i < kBufferSlots; ++i) {
        if (!hardware.waveBuffers[static_cast<size_t>(i)]) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return kNoBuffer;
    createWaveBuffer(w);
    if (!w.deviceBuffer) {
        releaseIdleVoiceBuffers();  // device room for the retry
        createWaveBuffer(w);
        if (!w.deviceBuffer) return kNoBufferGiveUp;
    }
    hardware.waveBuffers[static_cast<size_t>(slot)] = std::move(w.deviceBuffer);
    w.deviceBuffer.reset();
    w.bufferSlot = slot;
    hardware.bufferWaves[static_cast<size_t>(slot)] = &w;
    hardware.bufferSerials[static_cast<size_t>(slot)] = voice.soundSerial = takeSoundSerial();
    return slot;
}

void MixerEngine::createWaveBuffer(Wave& wave) {
    if (wave.deviceBuffer || !soundDevice) return;
    const uint32_t count = std::min<uint32_t>(wave.sampleCount, static_cast<uint32_t>(wave.samples.size()));
    if (count == 0) return;  // nothing to play
    // 16-bit mono at the Wave's frequency.
    // A format record that does not say so (not yet filled in, or a rate the
    // device cannot take) is replaced; each note sets its own frequency anyway.
    WaveFormat waveFormat = wave.format;
    if (waveFormat != WaveFormat::pcm16(1, waveFormat.samplesPerSec) || waveFormat.samplesPerSec < kFrequencyMin ||
        waveFormat.samplesPerSec > kFrequencyMax)
        waveFormat = WaveFormat::pcm16(1, std::clamp(wave.frequency, kFrequencyMin, kFrequencyMax));
    BufferDesc desc;
    desc.flags = kWaveBufferFlags;
    desc.bufferBytes = 2 * count;
    desc.format = &waveFormat;
    SoundBufferPtr buffer;
    if (!succeeded(soundDevice->createSoundBuffer(desc, buffer)) || !buffer) return;
    if (!fillBuffer(buffer.get(), wave.samples.data(), 2 * count)) return;  // released here
    wave.deviceBuffer = std::move(buffer);
}

int32_t MixerEngine::fillBuffer(SoundBuffer* buffer, const void* source, uint32_t bytes) {
    if (!buffer || !source || bytes == 0) return 0;
    LockedRegions regions;
    if (!succeeded(buffer->lock(0, bytes, regions, 0))) return 0;
    const auto* from = static_cast<const uint8_t*>(source);
    const uint32_t firstBytes = std::min(regions.firstBytes, bytes);
    if (regions.first) std::memcpy(regions.first, from, firstBytes);
    const uint32_t secondBytes = std::min(regions.secondBytes, bytes - firstBytes);
    if (regions.second) std::memcpy(regions.second, from + firstBytes, secondBytes);
    buffer->unlock(regions);
    return 1;
}

void MixerEngine::releaseIdleVoiceBuffers() {
    for (int32_t i = 0; i < kBufferSlots; ++i) {
        SoundBufferPtr& b = hardware.voiceBuffers[static_cast<size_t>(i)];
        if (b && !isPlaying(*b)) releaseBufferSlot(kBufferSlots + i);
    }
}

// The duplicates that have stopped hold device room and sound nothing.

}  // namespace tonvero
