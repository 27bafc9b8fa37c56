#pragma once
// The inside of a SoundDevice, shared with every buffer made on it (a buffer
// may outlive its device object): the registry of live buffers, the
// cooperative level, the output rate, the backend, and the mixer that turns
// the playing buffers into output frames.
//
// One mutex guards the registry and every buffer's state. Every holder keeps
// it for a few field updates or copies, and nothing is allocated or freed
// while it is held. A real-time backend's audio thread never waits for it:
// it tries it (for at most a fraction of a millisecond) once per period and,
// when another thread still holds it, plays silence for that period (counted in silentPeriods) without moving any play
// cursor, as a device that missed its deadline would. The offline backend
// takes it as any caller does. Backend start and stop run under a second
// mutex and never under the first, because stopping a stream waits for a
// render in progress.

#include "platform/AudioBackend.h"
#include "platform/Mutex.h"
#include "platform/SoundBuffer.h"
#include "platform/SoundBufferState.h"
#include "platform/SoundTypes.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tonvero {

class DeviceCore {
public:
    using State = SoundBuffer::State;

    explicit DeviceCore(std::unique_ptr<AudioBackend> backend);
    ~DeviceCore();
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    Mutex& mutex() RETURN_CAPABILITY(mutex_) { return mutex_; }

    // Registry, called with mutex() held. add() needs the room made by
    // makeRoomForOne(), which is called without it (it allocates outside).
    void add(State* state) REQUIRES(mutex_);
    void makeRoomForOne() EXCLUDES(mutex_);
    void remove(State* state) REQUIRES(mutex_);
    size_t liveBuffers() const REQUIRES(mutex_) { return buffers_.size(); }
    size_t secondaryBuffers() const REQUIRES(mutex_);
    bool roomForSecondary() const REQUIRES(mutex_) { return secondaryBuffers() < bufferLimit; }
    const std::vector<State*>& buffers() const REQUIRES(mutex_) { return buffers_; }

    // Fields guarded by mutex().
    CooperativeLevel level GUARDED_BY(mutex_) = CooperativeLevel::Normal;
    std::weak_ptr<SoundBuffer> primary GUARDED_BY(mutex_);
    size_t bufferLimit GUARDED_BY(mutex_) = std::numeric_limits<size_t>::max();
    bool closed GUARDED_BY(mutex_) = false;  // the device object is gone: no new buffers
    WaveFormat primaryFormat GUARDED_BY(mutex_) = WaveFormat::pcm16(2, 44100);  // given to a new primary buffer

    // Sets the primary buffer's format and (re)starts the backend at its rate.
    // Called without mutex() held.
    SoundResult setPrimaryFormat(State& primaryState, const WaveFormat& format) EXCLUDES(mutex_);
    // Stops the backend for good (the device object is being destroyed).
    // Called without mutex() held.
    void shutdown() EXCLUDES(mutex_);

    uint32_t outputRate() const { return outputRate_.load(); }
    std::string lastError() const EXCLUDES(mutex_);
    const char* backendName() const { return backendName_.c_str(); }

    // The gain on every output frame, 0..1; reached over 20 ms. Any thread.
    void setMasterGain(double gain);

    // Mixes `frames` stereo frames into `out` and advances every play cursor.
    // Takes mutex(); called by the offline clock and by tests.
    void render(int16_t* out, uint32_t frames) EXCLUDES(mutex_);
    // The same on a real-time audio thread: tries mutex() for at most
    // kLockPatience and, when it stays held elsewhere, writes silence and
    // counts the period instead.
    static constexpr std::chrono::microseconds kLockPatience{200};
    void renderRealTime(int16_t* out, uint32_t frames) EXCLUDES(mutex_);
    // Renders `source` into every period from now on (null: none). Setting
    // null waits until a render under way has left it, so the source may
    // then go. Any thread but the audio thread.
    void setDirectRender(const DirectRender* source);
    bool realTime() EXCLUDES(backendMutex_);
    uint32_t periodFrames() EXCLUDES(backendMutex_);
    std::string failure() EXCLUDES(backendMutex_);
    bool setMidiInput(MidiInputFunction function, void* context) EXCLUDES(backendMutex_);
    // The periods renderRealTime played as silence because the lock was held. Any thread.
    uint64_t silentPeriods() const { return silentPeriods_.load(std::memory_order_relaxed); }

    // The primary buffer's size for a format: one second of output, a whole
    // number of frames and a multiple of 4 bytes.
    static uint32_t primaryBytesFor(const WaveFormat& format);

private:
    static void mixBuffer(State& s, int32_t* acc, uint32_t frames, uint32_t rate);
    // Takes mutex_ when it is free within kLockPatience (tries, never waits on it).
    bool tryLockWithinPatience() TRY_ACQUIRE(true, mutex_);
    void renderLocked(int16_t* out, uint32_t frames) REQUIRES(mutex_);
    void mixChunk(int16_t* out, uint32_t frames, uint32_t rate) REQUIRES(mutex_);
    // The direct source into `out` with the master gain; false when there is none.
    bool renderDirect(int16_t* out, uint32_t frames);

    std::atomic<const DirectRender*> direct_{nullptr};
    std::atomic<uint32_t> insideDirect_{0};  // render calls inside the direct source
    int32_t directGain_ = 65536;             // the direct source's gain so far; the render thread's

    // Master gain in 1/65536 (kUnityGain: the mix untouched): the target any
    // thread sets, and the gain the render thread has reached.
    static constexpr int32_t kUnityGain = 65536;
    std::atomic<int32_t> targetGain_{kUnityGain};
    int32_t gain_ GUARDED_BY(mutex_) = kUnityGain;

    mutable Mutex mutex_;
    std::vector<State*> buffers_ GUARDED_BY(mutex_);
    std::atomic<uint64_t> silentPeriods_{0};
    std::vector<int32_t> mix_ GUARDED_BY(mutex_);  // one chunk of stereo sums, made once

    Mutex backendMutex_;  // orders start and stop; never taken under mutex_
    std::unique_ptr<AudioBackend> backend_ GUARDED_BY(backendMutex_);
    bool streaming_ GUARDED_BY(backendMutex_) = false;
    std::atomic<uint32_t> outputRate_{0};
    std::string backendName_;
    std::string lastError_ GUARDED_BY(mutex_);
};

}  // namespace tonvero
