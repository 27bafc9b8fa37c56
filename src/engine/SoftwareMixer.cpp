// The software mixer: MixerVoices resampled, panned, looped and faded in
// integer fixed-point arithmetic into the looping mixing buffer, kept written
// custom.writeAheadBytes past the device's play cursor.

#include "engine/MixerEngine.h"

#include <algorithm>
#include <cstring>

namespace tonvero {

namespace {

// Frames mixed at a time into the 32-bit accumulator on the stack.
constexpr uint32_t kChunkFrames = 512;

}  // namespace

uint32_t MixerEngine::frequencyStep(uint32_t frequency, uint32_t rate) {
    if (rate == 0) return 0;
    return static_cast<uint32_t>((static_cast<uint64_t>(frequency) << 16) / rate);
}

int32_t MixerEngine::allocMixerVoice() {
    for (int32_t i = 0; i < kMixerVoiceCount; ++i)
        if (!custom.mixerVoices[static_cast<size_t>(i)].active) return i;

    // All sound: cut the oldest released one, else the oldest of all
    // (the lowest index among equal ages).
    int32_t oldestReleased = -1;
    int32_t oldest = -1;
    for (int32_t i = 0; i < kMixerVoiceCount; ++i) {
        const MixerVoice& m = custom.mixerVoices[static_cast<size_t>(i)];
        if (m.released &&
            (oldestReleased < 0 || m.startTick < custom.mixerVoices[static_cast<size_t>(oldestReleased)].startTick))
            oldestReleased = i;
        if (oldest < 0 || m.startTick < custom.mixerVoices[static_cast<size_t>(oldest)].startTick) oldest = i;
    }
    const int32_t chosen = oldestReleased >= 0 ? oldestReleased : oldest;
    if (chosen >= 0) custom.mixerVoices[static_cast<size_t>(chosen)].active = 0;
    return chosen;
}

int32_t MixerEngine::startMixerVoice(Voice& voice, uint32_t frequency, int32_t pan, const Instrument* instrument) {
    if (!voice.wave) return -1;
    const int32_t index = allocMixerVoice();
    if (index < 0) return -1;
    MixerVoice& m = custom.mixerVoices[static_cast<size_t>(index)];
    const Wave& w = *voice.wave;

    // The Wave's playing values, made safe to read: never past the samples
    // the Wave holds; a loop that is empty or runs backwards is not looped.
    m.wave = voice.wave;
    m.samples = w.samples.data();
    m.sampleCount = std::min<uint32_t>(w.sampleCount, static_cast<uint32_t>(w.samples.size()));
    m.loopBegin = w.loopBegin;
    m.loopEnd = w.loopEnd;
    if (m.sampleCount > 0 && static_cast<int64_t>(m.loopEnd) >= static_cast<int64_t>(m.sampleCount))
        m.loopEnd = static_cast<int32_t>(m.sampleCount - 1);
    m.looped = w.looped && m.sampleCount > 0 && m.loopBegin >= 0 && m.loopBegin <= m.loopEnd ? 1 : 0;
    m.holdPos = w.holdPos;
    m.loopFading = instrument ? instrument->loopFading : 0;
    m.sustainFading = instrument ? instrument->sustainFading : 0;
    m.cutoffFading = instrument ? instrument->cutoffFading : 0;

    m.step = frequencyStep(frequency, static_cast<uint32_t>(outputRate));
    m.channel = voice.channel;
    m.pitchOffset = voice.pitchOffset;

    // 16.16 gains: side weight x velocity / 128, 0..128.0.
    const uint32_t p = static_cast<uint32_t>(std::clamp(pan, 0, 128));
    const uint32_t velocity = static_cast<uint32_t>(std::clamp(voice.velocity, 0, 128));
    m.leftGain = (128 - p) * velocity * 512;
    m.rightGain = p * velocity * 512;

    m.position = 0;
    const int32_t ch = voice.channel;
    m.sustained = ch >= 0 && ch < kChannelCount ? channels[static_cast<size_t>(ch)].sustain : 0;
    m.startTick = song.currentTick;
    m.released = 0;
    m.soundSerial = takeSoundSerial();
    voice.soundSerial = m.soundSerial;
    m.active = 1;
    return index;
}

void MixerEngine::silenceAll() {
    for (MixerVoice& m : custom.mixerVoices) m.active = 0;
    if (studio && studio->inCallback()) {
        studio->cutSong();  // what is played live sounds on
        return;
    }
    if (studio) studio->cutAll();
    if (!softwareMixer || !mixBuffer) return;
    LockedRegions regions;
    if (!succeeded(mixBuffer->lock(0, 0, regions, LockFlags::EntireBuffer))) return;
    if (regions.first) std::memset(regions.first, 0, regions.firstBytes);
    if (regions.second) std::memset(regions.second, 0, regions.secondBytes);
    mixBuffer->unlock(regions);
}

void MixerEngine::mixerTick() {
    if (studio && studio->inCallback()) {
        if (songFeed && outputRunning) songFeed(*this, studioFeedFrame());
        return;
    }
    if (!softwareMixer || !mixBuffer || custom.mixBufferBytes == 0) return;

    uint32_t status = 0;
    mixBuffer->getStatus(status);
    if (status & BufferStatus::BufferLost) {
        // The contents are gone: restore, play it again, and start writing at
        // the play cursor on the next tick.
        mixBuffer->restore();
        custom.writePos = kWritePosUnset;
        if (outputRunning) mixBuffer->play(PlayFlags::Looping);
        return;
    }

    uint32_t cursor = 0;
    if (!succeeded(mixBuffer->getCurrentPosition(&cursor, nullptr))) return;
    if (custom.writePos == kWritePosUnset) custom.writePos = cursor;
    custom.writePos %= custom.mixBufferBytes;
    const uint32_t target = static_cast<uint32_t>((static_cast<uint64_t>(cursor) + custom.writeAheadBytes) % custom.mixBufferBytes);
    if (target == custom.writePos) return;

    uint32_t length = target > custom.writePos ? target - custom.writePos : custom.mixBufferBytes - custom.writePos + target;
    if (length > custom.writeAheadBytes) {
        // The cursor has overtaken what was written: start again at the cursor.
        ++custom.underruns;
        length = custom.writeAheadBytes;
        custom.writePos = cursor;
    }
    if (studio && songFeed) {
        // The Studio mixer is given the song's events for the frames about
        // to be written before it writes them, so none comes late.
        songFeed(*this, studio->nextFrame() + length / 4);
        if (!outputRunning) return;  // the song's end stopped everything
    }

    LockedRegions regions;
    if (!succeeded(mixBuffer->lock(custom.writePos, length, regions, 0)) || !regions.first) return;
    LockedRegions written = regions;
    const uint32_t first = regions.firstBytes;
    if (length > first) {
        mixRegion(regions.first, first);
        custom.writePos += first;
        written.secondBytes = 0;
        if (regions.second) {
            const uint32_t rest = std::min(length - first, regions.secondBytes);
            mixRegion(regions.second, rest);
            custom.writePos = rest;
            written.secondBytes = rest;
        }
    } else {
        mixRegion(regions.first, length);
        custom.writePos += length;
        written.firstBytes = length;
        written.secondBytes = 0;
    }
    mixBuffer->unlock(written);
}

void MixerEngine::mixRegion(uint8_t* destination, uint32_t bytes) {
    if (!studio) {
        mixBlock(destination, bytes);
        return;
    }
    // Through a buffer of whole samples on the stack: the region is bytes.
    int16_t frames[2 * StudioMixer::kBlockFrames];
    for (uint32_t done = 0; done < bytes / 4;) {
        const uint32_t count = std::min(StudioMixer::kBlockFrames, bytes / 4 - done);
        studio->render(frames, count);
        std::memcpy(destination + static_cast<size_t>(done) * 4, frames, static_cast<size_t>(count) * 4);
        done += count;
    }
}

// Per pass, each active MixerVoice first chooses its fade (once per pass, not
// per sample), then adds (sample x gain) >> 9 to each frame, stepping through
// its Wave in 48.16 fixed point and taking the nearest lower sample. The sums
// are kept in 32 bits and saturated to 16 bits once per frame.
void MixerEngine::mixBlock(uint8_t* destination, uint32_t bytes) {
    std::memset(destination, 0, bytes);
    const uint32_t frames = bytes / 4;

    // This pass's set-up of every voice, and its 48.16 position.
    uint64_t pos[kMixerVoiceCount];
    int32_t gainL[kMixerVoiceCount];
    int32_t gainR[kMixerVoiceCount];
    bool sounding[kMixerVoiceCount];  // still adding to this block
    bool inPass[kMixerVoiceCount];    // took part in this pass
    for (int32_t v = 0; v < kMixerVoiceCount; ++v) {
        MixerVoice& m = custom.mixerVoices[static_cast<size_t>(v)];
        sounding[v] = false;
        inPass[v] = false;
        if (!m.active) continue;

        uint32_t fade = 0;
        if (m.released) {
            if (static_cast<int64_t>(m.position) >= m.holdPos) {
                if (m.sustained) {
                    fade = m.sustainFading;
                } else if (m.cutoffFading != 0) {
                    fade = m.cutoffFading;
                } else {
                    // No fade: the loop ends and the rest plays out from the release point.
                    m.looped = 0;
                    if (m.loopEnd != 0 && static_cast<int64_t>(m.position) < m.loopEnd)
                        m.position = static_cast<uint32_t>(m.loopEnd);
                }
            }
        } else if (m.looped) {
            fade = m.loopFading;
        }
        if (fade != 0) {
            m.leftGain = fade < m.leftGain ? m.leftGain - fade : 0;
            m.rightGain = fade < m.rightGain ? m.rightGain - fade : 0;
            if (m.leftGain == 0 && m.rightGain == 0) {
                m.active = 0;
                continue;
            }
        }
        gainL[v] = static_cast<int32_t>(m.leftGain >> 16);
        gainR[v] = static_cast<int32_t>(m.rightGain >> 16);
        pos[v] = static_cast<uint64_t>(m.position) << 16;
        sounding[v] = true;
        inPass[v] = true;
    }

    int32_t sum[2 * kChunkFrames];
    int16_t out[2 * kChunkFrames];
    for (uint32_t done = 0; done < frames; done += kChunkFrames) {
        const uint32_t count = std::min(kChunkFrames, frames - done);
        std::memset(sum, 0, sizeof(int32_t) * 2 * count);
        for (int32_t v = 0; v < kMixerVoiceCount; ++v) {
            if (!sounding[v]) continue;
            MixerVoice& m = custom.mixerVoices[static_cast<size_t>(v)];
            const int16_t* samples = m.samples;
            const uint32_t step = m.step;
            const int32_t gl = gainL[v];
            const int32_t gr = gainR[v];
            uint64_t p = pos[v];
            if (m.looped) {
                const uint64_t loopEnd = static_cast<uint64_t>(m.loopEnd);
                const uint64_t loopBegin = static_cast<uint64_t>(m.loopBegin);
                for (uint32_t f = 0; f < count; ++f) {
                    uint64_t i = p >> 16;
                    if (i > loopEnd) {
                        p = loopBegin << 16;
                        i = loopBegin;
                    }
                    const int32_t s = samples[i];
                    sum[2 * f] += (s * gl) >> 9;
                    sum[2 * f + 1] += (s * gr) >> 9;
                    p += step;
                }
            } else {
                const uint64_t end = m.sampleCount;
                for (uint32_t f = 0; f < count; ++f) {
                    const uint64_t i = p >> 16;
                    if (i >= end) {
                        // The sample has ended: the voice is free, the rest of the block silent from it.
                        m.active = 0;
                        sounding[v] = false;
                        break;
                    }
                    const int32_t s = samples[i];
                    sum[2 * f] += (s * gl) >> 9;
                    sum[2 * f + 1] += (s * gr) >> 9;
                    p += step;
                }
            }
            pos[v] = p;
        }
        for (uint32_t k = 0; k < 2 * count; ++k) out[k] = static_cast<int16_t>(std::clamp(sum[k], -32768, 32767));
        std::memcpy(destination + static_cast<size_t>(done) * 4, out, sizeof(int16_t) * 2 * count);
    }

    // The whole-sample position; the fraction is not kept between passes.
    for (int32_t v = 0; v < kMixerVoiceCount; ++v)
        if (inPass[v]) custom.mixerVoices[static_cast<size_t>(v)].position = static_cast<uint32_t>(pos[v] >> 16);
}

}  // namespace tonvero
