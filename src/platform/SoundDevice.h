#pragma once
// The sound device: makes buffers and mixes every playing one into the
// output, 16-bit stereo at the rate the primary buffer's format gives,
// saturating at -32768 and 32767.
//
// What reaches the output each frame:
// - the primary buffer's contents, played as a looping ring, when the
//   cooperative level is WritePrimary and the primary buffer plays;
// - every playing secondary buffer: a looping ring of output-format frames
//   (the software mixer's buffer) is copied 1:1; a static buffer holding a
//   Wave (16-bit mono or stereo at its own frequency) is resampled to the
//   output rate, scaled by its volume and pan.
// Each buffer's play cursor advances by what the output consumed and wraps at
// its end (looping) or stops it (played once).
//
// Threads: the device's methods may be called from the user-interface and
// timer threads; the backend's audio thread calls only render(), through the
// backend. The device's critical sections are short; none waits on the engine.

#include "platform/AudioBackend.h"
#include "platform/SoundBuffer.h"
#include "platform/SoundTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tonvero {

class VirtualTimerService;

class SoundDevice {
public:
    // Opens a device on a backend by name ("portaudio", "jack", "null",
    // "offline"); `error` says why when it returns null (for "portaudio": no
    // output device; for "jack": no server running, and so on). An "offline"
    // device opened by name is driven by nobody: it consumes only what
    // render() is asked for. `options` name the JACK client and whether its
    // outputs are connected.
    static std::unique_ptr<SoundDevice> open(const std::string& backendName, std::string& error);
    static std::unique_ptr<SoundDevice> open(const std::string& backendName, std::string& error,
                                             const BackendOptions& options);
    // A device on a backend already made (tests, the offline renderer).
    explicit SoundDevice(std::unique_ptr<AudioBackend> backend);
    ~SoundDevice();  // stops the backend; buffers still held stay valid but silent
    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

    SoundResult setCooperativeLevel(CooperativeLevel level);
    // Primary: flags include BufferFlags::PrimaryBuffer, bufferBytes 0, no
    // format (one primary per device; asking again gives the same buffer).
    // Secondary: bufferBytes > 0 and a PCM format of 8 or 16 bits, 1 or 2 channels.
    SoundResult createSoundBuffer(const BufferDesc& desc, SoundBufferPtr& buffer);
    // A new buffer sharing `original`'s samples, with its own frequency,
    // volume, pan, position and play state (stopped, position 0).
    SoundResult duplicateSoundBuffer(const SoundBufferPtr& original, SoundBufferPtr& duplicate);

    const char* backendName() const;
    // The output rate once the primary format is set, else 0.
    uint32_t outputRate() const;
    // Buffers alive on this device (the primary included once made).
    size_t liveBuffers() const;
    // Why the backend last refused to start (setFormat failed), in words for the user.
    std::string lastError() const;
    // The periods a real-time backend's audio thread played as silence
    // because another thread held the device's lock. Any thread.
    uint64_t silentPeriods() const;

    // Renders `source` straight into every output period, before the
    // buffers are mixed onto it (null: none; setting null waits for a render
    // under way to leave the old one). Any thread but the audio thread.
    void setDirectRender(const DirectRender* source);
    // Whether the backend calls the mix on a real-time audio thread.
    bool realTime() const;
    // The frames of one device period (0: not known). Any thread.
    uint32_t periodFrames() const;
    // Non-empty once the output has stopped for good (the JACK server went away). Any thread.
    std::string failure() const;
    // Gives the backend's own MIDI input (JACK's midi_in) to `function`, on
    // the audio thread before each render; false when it has none. Before the output starts.
    bool setMidiInput(MidiInputFunction function, void* context);

    // Test hooks: every buffer becomes lost; at most `count` secondary buffers
    // may exist at once (creating and duplicating beyond fails with OutOfMemory).
    void simulateLoss();
    // The output's master gain, 0..1 (1: every frame exactly as mixed). A
    // change is reached smoothly, over 20 ms of output. Any thread.
    void setMasterGain(double gain);
    void setBufferLimit(size_t count);

    // Mixes `frames` frames of output into `out` (interleaved stereo) and
    // advances every play cursor, waiting for the device's lock (the backend's
    // audio thread never waits: see DeviceCore.h).
    void render(int16_t* out, uint32_t frames);

private:
    std::shared_ptr<DeviceCore> core_;
};

// What the engine asks for when it opens its output: a device, or why not.
struct DeviceOpenResult {
    std::unique_ptr<SoundDevice> device;
    std::string error;
};
using SoundDeviceFactory = std::function<DeviceOpenResult()>;

// A factory opening the named backend ("portaudio", "jack" or "null") with `options`.
SoundDeviceFactory backendDeviceFactory(const std::string& backendName, BackendOptions options = {});

// The offline backend and its virtual clock: the engine runs on `timers()`
// and the device made by `deviceFactory()`; as the caller advances the clock,
// the device consumes output frames at its rate (frame n is due at n x 1e6 /
// rate microseconds) and hands them to the sink.
class OfflineAudio {
public:
    using Sink = std::function<void(const int16_t* stereoFrames, uint32_t frames)>;

    OfflineAudio();
    ~OfflineAudio();
    OfflineAudio(const OfflineAudio&) = delete;
    OfflineAudio& operator=(const OfflineAudio&) = delete;

    VirtualTimerService& timers();
    SoundDeviceFactory deviceFactory();

    // Where consumed frames go: a callback, or (the default) kept in captured().
    void setSink(Sink sink);
    const std::vector<int16_t>& captured() const;
    void clearCaptured();
    uint64_t framesConsumed() const;

    // Makes the next device open fail with this text (empty: succeed).
    void failNextOpen(std::string error);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tonvero
