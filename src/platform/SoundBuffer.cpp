#include "platform/SoundBuffer.h"

#include "platform/DeviceCore.h"
#include "platform/SoundBufferState.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>

namespace tonvero {

using Guard = MutexLock;

SoundBuffer::SoundBuffer(std::shared_ptr<DeviceCore> core, std::shared_ptr<State> state)
    : core_(std::move(core)), state_(std::move(state)) {}

SoundBuffer::~SoundBuffer() {
    // Leaves the mix before the state goes, so a render never sees it half destroyed.
    Guard lock(core_->mutex());
    core_->remove(state_.get());
}

SoundResult SoundBuffer::setFormat(const WaveFormat& format) {
    if (format.formatTag != 1 || (format.channels != 1 && format.channels != 2) || format.bitsPerSample != 16 ||
        format.blockAlign != format.channels * 2 || format.samplesPerSec < kFrequencyMin ||
        format.samplesPerSec > kFrequencyMax || format.avgBytesPerSec != format.samplesPerSec * format.blockAlign)
        return SoundResult::InvalidParam;
    {
        Guard lock(core_->mutex());
        if (!state_->primary) return SoundResult::InvalidParam;
        if (state_->lost) return SoundResult::BufferLost;
    }
    return core_->setPrimaryFormat(*state_, format);
}

SoundResult SoundBuffer::getCaps(uint32_t& bufferBytes) const {
    Guard lock(core_->mutex());
    bufferBytes = state_->bytes();
    return SoundResult::Ok;
}

SoundResult SoundBuffer::getStatus(uint32_t& status) const {
    Guard lock(core_->mutex());
    status = 0;
    if (state_->playing) status |= BufferStatus::Playing;
    if (state_->playing && state_->looping) status |= BufferStatus::Looping;
    if (state_->lost) status |= BufferStatus::BufferLost;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::restore() {
    Guard lock(core_->mutex());
    if (!state_->lost) return SoundResult::Ok;
    state_->lost = false;
    state_->playing = false;
    state_->looping = false;
    state_->position = 0;
    std::fill(state_->data->begin(), state_->data->end(), uint8_t{0});
    return SoundResult::Ok;
}

SoundResult SoundBuffer::getCurrentPosition(uint32_t* playCursor, uint32_t* writeCursor) const {
    Guard lock(core_->mutex());
    const uint32_t cursor = state_->playCursorBytes();
    if (playCursor != nullptr) *playCursor = cursor;
    if (writeCursor != nullptr) *writeCursor = cursor;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::setCurrentPosition(uint32_t bytes) {
    Guard lock(core_->mutex());
    if (bytes >= state_->bytes()) return SoundResult::InvalidParam;
    state_->position = static_cast<uint64_t>(bytes / state_->format.blockAlign) << 16;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::lock(uint32_t offset, uint32_t bytes, LockedRegions& regions, uint32_t flags) {
    regions = LockedRegions{};
    // A playing buffer's staging area is allocated outside the device's
    // critical section, which the audio thread waits on; then the lock is tried again.
    std::vector<uint8_t> spare;
    for (;;) {
        uint32_t needed = 0;
        {
            Guard lock(core_->mutex());
            State& s = *state_;
            if (s.lost) return SoundResult::BufferLost;
            // Writing the primary buffer is meaningful only when the program mixes into it.
            if (s.primary && core_->level != CooperativeLevel::WritePrimary) return SoundResult::InvalidParam;
            const uint32_t size = s.bytes();
            uint32_t from = offset;
            uint32_t count = bytes;
            if (flags & LockFlags::EntireBuffer) {
                from = 0;
                count = size;
            } else {
                if (flags & LockFlags::FromWriteCursor) from = s.playCursorBytes();
                if (from >= size || count == 0 || count > size) return SoundResult::InvalidParam;
            }
            const uint32_t firstBytes = std::min(count, size - from);
            const uint32_t secondBytes = count - firstBytes;
            uint8_t* base = s.data->data();
            if (s.playing) {
                if (s.staging.size() != size && spare.size() == size) s.staging.swap(spare);
                if (s.staging.size() == size) {
                    // The copy starts as the samples are, as a lock's regions do.
                    std::memcpy(s.staging.data() + from, base + from, firstBytes);
                    std::memcpy(s.staging.data(), base, secondBytes);
                    base = s.staging.data();
                } else {
                    needed = size;
                }
            }
            if (needed == 0) {
                regions.first = base + from;
                regions.firstBytes = firstBytes;
                if (secondBytes > 0) {
                    regions.second = base;
                    regions.secondBytes = secondBytes;
                }
                return SoundResult::Ok;
            }
        }
        try {
            spare.assign(needed, uint8_t{0});
        } catch (const std::bad_alloc&) {
            return SoundResult::OutOfMemory;
        }
    }
}

SoundResult SoundBuffer::unlock(const LockedRegions& regions) {
    Guard lock(core_->mutex());
    State& s = *state_;
    const uint32_t size = s.bytes();
    uint8_t* const samples = s.data->data();
    // The regions lie in the samples, or in the staging area of a lock on a playing buffer.
    const std::less_equal<const uint8_t*> notAfter;
    const bool staged = s.staging.size() == size && regions.first != nullptr &&
                        notAfter(s.staging.data(), regions.first) && !notAfter(s.staging.data() + size, regions.first);
    const uint8_t* base = staged ? s.staging.data() : samples;
    const uint8_t* end = base + size;
    if (regions.first == nullptr || regions.first < base || regions.first >= end ||
        regions.firstBytes > static_cast<size_t>(end - regions.first))
        return SoundResult::InvalidParam;
    if (regions.second != nullptr && (regions.second != base || regions.secondBytes > size))
        return SoundResult::InvalidParam;
    if (staged) {
        std::memcpy(samples + (regions.first - base), regions.first, regions.firstBytes);
        if (regions.second != nullptr) std::memcpy(samples, regions.second, regions.secondBytes);
    }
    return SoundResult::Ok;
}

SoundResult SoundBuffer::play(uint32_t flags) {
    Guard lock(core_->mutex());
    if (state_->lost) return SoundResult::BufferLost;
    // On a playing buffer this only changes whether it loops: without the
    // flag it plays on from where it is to its end and stops.
    state_->playing = true;
    state_->looping = (flags & PlayFlags::Looping) != 0;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::stop() {
    Guard lock(core_->mutex());
    state_->playing = false;
    state_->looping = false;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::setFrequency(uint32_t hz) {
    Guard lock(core_->mutex());
    if (state_->primary) return SoundResult::InvalidParam;
    // 0 restores the format's own rate; other values outside the device's
    // range are held at its nearest end.
    state_->frequency = hz == 0 ? state_->format.samplesPerSec : std::clamp(hz, kFrequencyMin, kFrequencyMax);
    return SoundResult::Ok;
}

SoundResult SoundBuffer::getFrequency(uint32_t& hz) const {
    Guard lock(core_->mutex());
    hz = state_->frequency;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::setVolume(int32_t volume) {
    Guard lock(core_->mutex());
    // Below the floor is silence, above full is full.
    state_->volume = std::clamp(volume, kVolumeMin, kVolumeMax);
    state_->updateGains();
    return SoundResult::Ok;
}

SoundResult SoundBuffer::getVolume(int32_t& volume) const {
    Guard lock(core_->mutex());
    volume = state_->volume;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::setPan(int32_t pan) {
    Guard lock(core_->mutex());
    state_->pan = std::clamp(pan, kPanLeft, kPanRight);
    state_->updateGains();
    return SoundResult::Ok;
}

SoundResult SoundBuffer::getPan(int32_t& pan) const {
    Guard lock(core_->mutex());
    pan = state_->pan;
    return SoundResult::Ok;
}

bool SoundBuffer::isPrimary() const {
    Guard lock(core_->mutex());
    return state_->primary;
}

void SoundBuffer::simulateLoss() {
    Guard lock(core_->mutex());
    state_->lost = true;
    state_->playing = false;
    state_->looping = false;
}

}  // namespace tonvero
