#pragma once
// The backends that play what the sound device mixes: "portaudio" (the real
// device), "jack" (a client of a running JACK server, with a MIDI input of
// its own), "null" (a clock of its own, sound discarded) and "offline" (no
// thread; the caller advances time, frames go to a sink).

#include <cstddef>
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

// Bytes of one MIDI message that arrived on the backend's own MIDI input
// (JACK's midi_in), told on the audio thread before the render call that
// follows, `offset` frames into the frames that call fills. An empty message
// (`size` 0) says the input has lost its last connection.
using MidiInputFunction = void (*)(void* context, uint32_t offset, const uint8_t* bytes, size_t size);

// How a backend presents itself to the sound server (only "jack" reads them).
struct BackendOptions {
    // The JACK client's name (the server adds a suffix when it is taken).
    std::string jackName = "tonvero";
    // Whether start() connects the outputs to the first two physical playback ports.
    bool jackConnect = true;
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
    // Non-zero: the only rate the backend plays at (JACK: the server's, which
    // may change while it runs). Any thread.
    virtual uint32_t fixedRate() const { return 0; }
    // Frames of one device period (0: not known). Any thread.
    virtual uint32_t periodFrames() const { return 0; }
    // Whether the backend has a MIDI input of its own.
    virtual bool hasMidiInput() const { return false; }
    // Where that input's messages go; set before start().
    virtual void setMidiInput(MidiInputFunction, void*) {}
    // Not empty once the output has stopped for good (the JACK server went
    // away), saying why. Any thread.
    virtual std::string failure() const { return {}; }
    // Periods the server reported as late (xruns). Any thread.
    virtual uint64_t xruns() const { return 0; }
};

// The names accepted by --audio and TONVERO_AUDIO.
bool isBackendName(const std::string& name);
// `requested` if not empty, else TONVERO_AUDIO if set, else `fallback`.
std::string chooseBackendName(const std::string& requested, const std::string& fallback = "portaudio");

}  // namespace tonvero
