#pragma once
// The backends that play what the sound device mixes: "portaudio" (the real
// device), "null" (a clock of its own, sound discarded) and "offline" (no
// thread; the caller advances time, frames go to a sink).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tonvero {

// Fills `frames` interleaved 16-bit stereo frames. Called on the audio thread
// (or, offline, on the thread that advances time).
using RenderFunction = std::function<void(int16_t* stereoFrames, uint32_t frames)>;

// A source that renders straight into each output period, in the backend's
// own callback, before the device's buffers are mixed onto it: the Studio
// mixer at low latency. `render` must be real-time safe: it writes `frames`
// interleaved 16-bit stereo frames into `out`.
struct DirectRender {
    void (*render)(void* context, int16_t* out, uint32_t frames) = nullptr;
    void* context = nullptr;
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    virtual const char* name() const = 0;
    // Opens and starts the stream at `rate` Hz, pulling sound from `render`.
    // Returns an empty string on success, else why it failed, in words for the user.
    virtual std::string start(uint32_t rate, RenderFunction render) = 0;
    // Stops the stream; when this returns `render` is no longer called.
    virtual void stop() = 0;
    // Whether `render` is called on a real-time audio thread, which must never
    // wait (the offline backend calls it on the thread that advances time).
    virtual bool realTime() const { return true; }
};

// The names accepted by --audio and TONVERO_AUDIO.
bool isBackendName(const std::string& name);
// `requested` if not empty, else TONVERO_AUDIO if set, else `fallback`.
std::string chooseBackendName(const std::string& requested, const std::string& fallback = "portaudio");

}  // namespace tonvero
