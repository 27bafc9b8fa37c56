#include "platform/SoundBuffer.h"

#include "platform/DeviceCore.h"
#include "platform/SoundBufferState.h"

#include <algorithm>
#include <mutex>

namespace tonvero {

using Guard = std::lock_guard<std::mutex>;

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
        if (!state_->primary)
            return SoundResult::InvalidParam;
        if (state_->lost)
            return SoundResult::BufferLost;
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
    if (state_->playing)
        status |= BufferStatus::Playing;
    if (state_->playing && state_->looping)
        status |= BufferStatus::Looping;
    if (state_->lost)
        status |= BufferStatus::BufferLost;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::restore() {
    Guard lock(core_->mutex());
    if (!state_->lost)
        return SoundResult::Ok;
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
    if (playCursor != nullptr)
        *playCursor = cursor;
    if (writeCursor != nullptr)
        *writeCursor = cursor;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::setCurrentPosition(uint32_t bytes) {
    Guard lock(core_->mutex());
    if (bytes >= state_->bytes())
        return SoundResult::InvalidParam;
    state_->position = static_cast<uint64_t>(bytes / state_->format.blockAlign) << 16;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::lock(uint32_t offset, uint32_t bytes, LockedRegions& regions, uint32_t flags) {
    regions = LockedRegions{};
    Guard lock(core_->mutex());
    State& s = *state_;
    if (s.lost)
        return SoundResult::BufferLost;
    // Writing the primary buffer is meaningful only when the program mixes into it.
    if (s.primary && core_->level != CooperativeLevel::WritePrimary)
        return SoundResult::InvalidParam;
    const uint32_t size = s.bytes();
    if (flags & LockFlags::EntireBuffer) {
        offset = 0;
        bytes = size;
    } else {
        if (flags & LockFlags::FromWriteCursor)
            offset = s.playCursorBytes();
        if (offset >= size || bytes == 0 || bytes > size)
            return SoundResult::InvalidParam;
    }
    uint8_t* base = s.data->data();
    regions.first = base + offset;
    regions.firstBytes = std::min(bytes, size - offset);
    if (bytes > regions.firstBytes) {
        regions.second = base;
        regions.secondBytes = bytes - regions.firstBytes;
    }
    return SoundResult::Ok;
}

SoundResult SoundBuffer::unlock(const LockedRegions& regions) {
    Guard lock(core_->mutex());
    const uint8_t* base = state_->data->data();
    const uint8_t* end = base + state_->bytes();
    if (regions.first == nullptr || regions.first < base || regions.first >= end ||
        regions.firstBytes > static_cast<size_t>(end - regions.first))
        return SoundResult::InvalidParam;
    if (regions.second != nullptr && (regions.second != base || regions.secondBytes > state_->bytes()))
        return SoundResult::InvalidParam;
    return SoundResult::Ok;
}

SoundResult SoundBuffer::play(uint32_t flags) {
    Guard lock(core_->mutex());
    if (state_->lost)
        return SoundResult::BufferLost;
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
    if (state_->primary)
        return SoundResult::InvalidParam;
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
