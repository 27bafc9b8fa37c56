#pragma once
// One buffer of the sound device: the primary buffer (what the backend plays),
// a looping secondary buffer (the software mixer's ring), or a static buffer
// holding one Wave's samples (the hardware mixer's per-voice buffers).
//
// Buffers are made only by SoundDevice and held through SoundBufferPtr; the
// buffer is released when its last holder lets go (reset the pointer: that is
// the Release of the device API). A released buffer leaves the device's mix
// at once.
//
// Threads: every method may be called from the user-interface thread and the
// timer thread; each takes the device's own short critical section, so the
// audio thread (which reads buffers while rendering) always sees a buffer
// either before or after a call, never half changed. Callers that share a
// buffer between threads order their calls themselves (the engine mutex).

#include "platform/SoundTypes.h"

#include <cstdint>
#include <memory>

namespace tonvero {

class DeviceCore;

class SoundBuffer {
public:
    ~SoundBuffer();
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    // Primary buffer only: the output format. Opens the backend's stream at
    // that rate (16-bit PCM, 1 or 2 channels). Fails if the backend cannot.
    SoundResult setFormat(const WaveFormat& format);
    // The buffer's size in bytes (the capabilities the engine asks for).
    SoundResult getCaps(uint32_t& bufferBytes) const;
    // BufferStatus bits.
    SoundResult getStatus(uint32_t& status) const;
    // Makes a lost buffer usable again; its contents are silence afterwards
    // and it is stopped (play it again).
    SoundResult restore();

    // Play cursor: the byte offset the device reads next. The write cursor is
    // where it is safe to write from (here the same as the play cursor).
    // Either pointer may be null.
    SoundResult getCurrentPosition(uint32_t* playCursor, uint32_t* writeCursor) const;
    // Moves the play cursor (bytes from the start, rounded down to a frame).
    SoundResult setCurrentPosition(uint32_t bytes);

    // Hands out `bytes` bytes from `offset` (wrapping at the end into a second
    // region at the start), or the whole buffer with LockFlags::EntireBuffer.
    // Fails on a lost buffer or a size beyond the buffer. The regions hold
    // the buffer's bytes as they are. On a stopped buffer they are the
    // samples themselves; on a playing one they are a copy, which the device
    // keeps playing from the samples until unlock, so a buffer that plays can
    // be written while the audio thread reads it. (Start a buffer only after
    // unlocking it.)
    SoundResult lock(uint32_t offset, uint32_t bytes, LockedRegions& regions, uint32_t flags = 0);
    // Ends a lock; the regions' byte counts say how much was written (from a
    // playing buffer's lock, those bytes reach the samples now).
    SoundResult unlock(const LockedRegions& regions);

    // Starts playing from the play cursor: with PlayFlags::Looping the whole
    // buffer repeats until stopped; without it, play runs to the buffer's end
    // and stops, the cursor back at 0 (a looping buffer played again without
    // the flag plays on to its end once). Fails on a lost buffer.
    SoundResult play(uint32_t flags);
    SoundResult stop();

    // Playback rate in Hz of a secondary buffer (resampled to the output rate,
    // interpolating linearly), kFrequencyMin .. kFrequencyMax; 0 restores the
    // format's own rate. Values outside the range are held at its nearest end.
    SoundResult setFrequency(uint32_t hz);
    SoundResult getFrequency(uint32_t& hz) const;
    // Hundredths of a decibel, kVolumeMin (silence) .. kVolumeMax; values
    // outside are held at the nearest end.
    SoundResult setVolume(int32_t volume);
    SoundResult getVolume(int32_t& volume) const;
    // kPanLeft .. kPanRight: positive values attenuate the left side by that
    // many hundredths of a decibel, negative ones the right; held in range.
    SoundResult setPan(int32_t pan);
    SoundResult getPan(int32_t& pan) const;

    bool isPrimary() const;

    // Test hook: the buffer is lost, as when another program takes the device.
    void simulateLoss();

private:
    friend class DeviceCore;
    friend class SoundDevice;
    struct State;
    SoundBuffer(std::shared_ptr<DeviceCore> core, std::shared_ptr<State> state);

    std::shared_ptr<DeviceCore> core_;
    std::shared_ptr<State> state_;
};

using SoundBufferPtr = std::shared_ptr<SoundBuffer>;

}  // namespace tonvero
